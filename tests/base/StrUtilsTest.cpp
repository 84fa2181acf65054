#include "base/StrUtils.h"
#include "base/Exceptions.h"

#include <gtest/gtest.h>

TEST(StrUtils, TrimRemovesBlanksAndControlCharactersOnly) {
    EXPECT_EQ(Trim(" \t\r\n\x01 x y \x1f"), "x y");
    EXPECT_EQ(Trim("\xa0x\xa0"), "\xa0x\xa0"); // bytes above 32 stay
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a "), "  a");
}

TEST(StrUtils, ShortTextCutsAt255Bytes) {
    EXPECT_EQ(ShortText(std::string(300, 'a')).size(), 255u);
    EXPECT_EQ(ShortText("abc"), "abc");
}

TEST(StrUtils, CaseHelpersTouchAsciiOnly) {
    EXPECT_EQ(UpperCase("abc\xe9z"), "ABC\xe9Z");
    EXPECT_EQ(LowerCase("Text/HTML"), "text/html");
    EXPECT_TRUE(SameText("Content-Type", "CONTENT-type"));
    EXPECT_TRUE(StartsText("to:", "To: x"));
    EXPECT_FALSE(StartsText("to:", "To"));
    EXPECT_EQ(FindText("FileName=x", "name"), 4u);
    EXPECT_LT(CompareText("abc", "ABD"), 0);
}

TEST(StrUtils, IntegerConversion) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("  -7"), -7);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt64("3000000000"), 3000000000LL);
    EXPECT_THROW(StrToInt("2147483648"), EConvertError);
    EXPECT_THROW(StrToInt("12a"), EConvertError);
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("-"), EConvertError);
    EXPECT_THROW(StrToInt64("99999999999999999999"), EConvertError);
    EXPECT_EQ(StrToIntDef("x", 60), 60);
    EXPECT_EQ(StrToIntDef("110", 60), 110);
    try {
        StrToInt("1.5");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message, "'1.5' is not a valid integer value");
    }
}
