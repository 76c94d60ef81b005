#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "ArgVector.h"

namespace {

TEST(ToInt, FollowsAtoiRules)
{
    EXPECT_EQ(toInt("2048"), 2048);
    EXPECT_EQ(toInt("2048bits"), 2048);
    EXPECT_EQ(toInt("abc"), 0);
    EXPECT_EQ(toInt(""), 0);
    EXPECT_EQ(toInt("  \t-24"), -24);
    EXPECT_EQ(toInt("+7"), 7);
    EXPECT_EQ(toInt("- 7"), 0);
    EXPECT_EQ(toInt("0x18"), 0);
}

TEST(ToInt, SaturatesOutOfRange)
{
    EXPECT_EQ(toInt("2147483647"), INT_MAX);
    EXPECT_EQ(toInt("-2147483648"), INT_MIN);
    EXPECT_EQ(toInt("2147483648"), INT_MAX);
    EXPECT_EQ(toInt("-99999999999999999999999"), INT_MIN);
    EXPECT_EQ(toInt(std::string(5000, '9')), INT_MAX);
}

TEST(ToBool, OnlyTrueInAnyCase)
{
    EXPECT_TRUE(toBool("true"));
    EXPECT_TRUE(toBool("TRUE"));
    EXPECT_TRUE(toBool("True"));
    EXPECT_TRUE(toBool("tRuE"));
    EXPECT_FALSE(toBool("1"));
    EXPECT_FALSE(toBool("yes"));
    EXPECT_FALSE(toBool(""));
    EXPECT_FALSE(toBool("true "));
    EXPECT_FALSE(toBool("false"));
}

TEST(ArgVector, SkipsProgramNameAndRefusesMissingPositions)
{
    const char* argv[] = {"sigbrid", "capi", "list", "countContainer", "12x"};
    const ArgVector args(5, argv);
    EXPECT_EQ(args.size(), 4u);
    EXPECT_EQ(args.text(0), "capi");
    EXPECT_EQ(args.integer(3), 12);
    EXPECT_THROW(args.text(4), std::out_of_range);
}

}  // namespace
