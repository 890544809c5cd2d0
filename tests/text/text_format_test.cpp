#include <gtest/gtest.h>

#include "text/format.h"
#include "text/text.h"

namespace {

TEST(Format, ConversionsTheLogTextsUse) {
    EXPECT_EQ(text::format(u"domain%d->%s", 2, std::u16string(u"http://a")), u"domain2->http://a");
    EXPECT_EQ(text::format(u"%lf*%lf", 1048576.0, 524288.0), u"1048576.000000*524288.000000");
    EXPECT_EQ(text::format(u"给窗口%0x发送", 0x1a2b), u"给窗口1a2b发送");
    EXPECT_EQ(text::format(u"%2.2x%2.2x", 0x0f, 0xab), u"0fab");
    EXPECT_EQ(text::format(u"\\StringFileInfo\\%04x%04x\\%s", 0x804, 0x4b0, u"CompanyName"),
              u"\\StringFileInfo\\080404b0\\CompanyName");
    EXPECT_EQ(text::format(u"%d%%", -5), u"-5%");
    EXPECT_EQ(text::format(u"%x", -1), u"ffffffff");  // a negative int prints as its 32-bit pattern
}

TEST(Format, MissingOrMismatchedArgumentsPrintNothing) {
    EXPECT_EQ(text::format(u"a%sb%dc"), u"abc");
    EXPECT_EQ(text::format(u"[%d]", u"text"), u"[]");
    EXPECT_EQ(text::format(u"%s", 42), u"42");
    EXPECT_EQ(text::format(u"100%"), u"100%");
}

TEST(Text, Utf8RoundTripAndRepair) {
    std::u16string wide = u"升级 a\U0001F600z";
    EXPECT_EQ(text::fromUtf8(text::toUtf8(wide)), wide);
    EXPECT_EQ(text::toUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // lone surrogate
    EXPECT_EQ(text::fromUtf8("a\xFF"
                             "b"),
              u"a\xFFFD"
              "b");
    EXPECT_EQ(text::fromUtf8("\xE5\x8D"), u"\xFFFD\xFFFD");  // truncated sequence
}

TEST(Text, SplitTrimCaseAndAtoi) {
    EXPECT_EQ(text::split(u"a$$$$$$$$b$$$$ ", u"$$$$"), (std::vector<std::u16string>{u"a", u"b", u" "}));
    EXPECT_TRUE(text::split(u";;", u";").empty());
    EXPECT_EQ(text::trim(u" \t x y \r\n"), u"x y");
    EXPECT_TRUE(text::equalsNoCase(u"UPDATE", u"update"));
    EXPECT_FALSE(text::equalsNoCase(u"update", u"updates"));
    EXPECT_EQ(text::atoi(u"  -12abc"), -12);
    EXPECT_EQ(text::atoi(u"x1"), 0);
    EXPECT_EQ(text::atoi(u"99999999999"), 2147483647);
}

}  // namespace
