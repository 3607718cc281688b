// Checks of a whole run of the exe: exit code and the exact bytes of both
// output streams.
#pragma once

#include "e2e_support.h"

#include <gtest/gtest.h>

#include <string>

inline void expect_run(const RunResult& result, int exit_code, const std::string& out,
                       const std::string& err)
{
    EXPECT_EQ(result.exit_code, exit_code);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
}
