// The error codes keep the numbers that applets and scripts were built with.
#include "core/io/error_codes.h"

#include <gtest/gtest.h>

TEST(ErrorCodes, KeepTheirPublishedNumbers)
{
    EXPECT_EQ(ERR_NONE, 0u);
    EXPECT_EQ(ERR_MEM, 1000u);
    EXPECT_EQ(ERR_UNIMPLCMD, 1001u);
    EXPECT_EQ(ERR_OPENFONT, 1064u);
    EXPECT_EQ(ERR_ERRORCALLED, 1239u);
    EXPECT_EQ(ERR_AMIGAGUIDE, 1580u);
}
