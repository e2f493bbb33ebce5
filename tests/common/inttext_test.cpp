#include "common/IntText.h"

#include <gtest/gtest.h>

using namespace kestrune;

TEST(IntText, AcceptsTheStandardForms)
{
    const struct
    {
        const char *text;
        std::int32_t value;
    } rows[] = {
        {"0", 0},
        {"9600", 9600},
        {"  42", 42},
        {"\t7", 7},
        {"-3", -3},
        {"+5", 5},
        {"$1F", 31},
        {"x1f", 31},
        {"0x2580", 9600},
        {"0X2580", 9600},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"007", 7},
        {"$7FFFFFFF", INT32_MAX},
    };
    for (const auto &row : rows) {
        const auto v = TryStrToInt(row.text);
        ASSERT_TRUE(v.has_value()) << row.text;
        EXPECT_EQ(*v, row.value) << row.text;
    }
}

TEST(IntText, RefusesAnythingElse)
{
    for (const char *text :
         {"", " ", "-", "+", "$", "0x", "12 ", "1.5", "fast", "nine", "2147483648", "-2147483649",
          "4294967295", "99999999999999999999", "1e3", "0x1G", "$100000000", "--1", "8 k"}) {
        EXPECT_FALSE(TryStrToInt(text).has_value()) << text;
    }
}

TEST(IntText, ConversionErrorNamesTheText)
{
    try {
        (void)StrToInt("fast");
        FAIL() << "no error";
    } catch (const EConvertError &e) {
        EXPECT_STREQ(e.what(), "'fast' is not a valid integer value");
    }
    EXPECT_EQ(StrToIntDef("fast", 9600), 9600);
    EXPECT_EQ(StrToIntDef("0x2580", 1), 9600);
}
