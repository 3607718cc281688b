#include "e2e_support.h"

#include <gtest/gtest.h>

TEST(StartUp, VoidPrintsNothing)
{
    const RunResult result = run_tolvi({L"/void"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}
