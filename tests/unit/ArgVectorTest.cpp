#include <gtest/gtest.h>

#include <climits>
#include <utility>

#include "ArgVector.h"

namespace {

// atoi's rules, saturating out of range.
TEST(ToInt, FollowsAtoiRulesAndSaturates)
{
    const std::pair<std::string, int> rows[]
        = { { "2048", 2048 }, { "2048bits", 2048 }, { "abc", 0 }, { "", 0 }, { "  \t-24", -24 }, { "+7", 7 },
              { "- 7", 0 }, { "0x18", 0 }, { "2147483647", INT_MAX }, { "-2147483648", INT_MIN },
              { "2147483648", INT_MAX }, { "-99999999999999999999999", INT_MIN }, { std::string(5000, '9'), INT_MAX } };
    for (const auto& [text, value] : rows)
        EXPECT_EQ(toInt(text), value) << text.substr(0, 30);
}

TEST(ToBool, OnlyTrueInAnyCase)
{
    for (const char* text : { "true", "TRUE", "True", "tRuE" })
        EXPECT_TRUE(toBool(text)) << text;
    for (const char* text : { "1", "yes", "", "true ", "false" })
        EXPECT_FALSE(toBool(text)) << text;
}

} // namespace
