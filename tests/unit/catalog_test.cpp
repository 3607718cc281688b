#include "message_catalog.h"

#include <gtest/gtest.h>

TEST(Catalog, HasOneRowPerId)
{
    ASSERT_EQ(message_catalog.size(), 29u);
    for (std::size_t i = 0; i < message_catalog.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(message_catalog[i].id), i);
    }
}
