#include "app/plain_file_name.h"

#include <gtest/gtest.h>

TEST(PlainFileName, OnlyOrdinaryBareNamesPass) {
    for (const char16_t* name : {u"setup.exe", u"OrvixSetup_3.2.0.1.exe", u"a", u".hidden", u"con1.exe",
                                 u"COM10.exe", u"nul_setup.exe", u"lpt.exe", u"a b.exe", u"\u5b89\u88c5.exe"})
        EXPECT_TRUE(app::isPlainFileName(name)) << std::string(name, name + std::char_traits<char16_t>::length(name));
    struct Case {
        const char16_t* name;
        const char* why;
    } refused[] = {
        {u"", "empty"},
        {u".", "dots alone"},
        {u"..", "dots alone"},
        {u"...", "dots alone"},
        {u"sub\\a.exe", "folder"},
        {u"sub/a.exe", "folder"},
        {u"C:a.exe", "drive"},
        {u"a.exe:x", "stream"},
        {u"CON", "device"},
        {u"nul", "device"},
        {u"con.exe", "device"},
        {u"Com1.exe", "device"},
        {u"LPT9", "device"},
        {u"aux .txt", "device"},
        {u"CONOUT$", "device"},
        {u"setup.exe.", "trailing dot"},
        {u"setup.exe ", "trailing blank"},
        {u"a*.exe", "wildcard"},
        {u"a?.exe", "wildcard"},
        {u"a<b", "reserved"},
        {u"a>b", "reserved"},
        {u"a|b", "reserved"},
        {u"a\"b", "reserved"},
        {u"a\tb", "control"},
    };
    for (const Case& c : refused) EXPECT_FALSE(app::isPlainFileName(c.name)) << c.why;
}
