// Loading and saving files: byte-order marks, declared encodings, UTF-8 detection and
// round trips through the three Unicode forms.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"
#include "xml/encodings.h"
#include "xml_fixture.h"

using testsupport::TempFolder;
using xmltest::contains;

namespace {

std::string utf16(std::u16string_view s, bool bigEndian) {
    std::string out;
    for (char16_t c : s) {
        char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

// Non-ASCII, a character outside the BMP and markup characters in values.
const char16_t kSample[] =
    u"<root>\r\n<File md5=\"\u66F4\u65B0 &amp; &quot;q&quot;\">\U0001F600 caf\u00E9 &lt;x&gt;</File>\r\n</root>";

void expectSample(XmlDocument& doc) {
    ASSERT_TRUE(doc.findElement(u"root") && doc.enterElement() && doc.findElement(u"File"));
    EXPECT_EQ(doc.readAttribute(u"md5"), u"\u66F4\u65B0 & \"q\"");
    EXPECT_EQ(doc.getElementText(), u"\U0001F600 caf\u00E9 <x>");
}

size_t fileCount(const TempFolder& box) {
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator(box.path()), std::filesystem::directory_iterator()));
}

}  // namespace

TEST(XmlFile, ByteOrderMarksSelectTheEncodingAndAreNotPartOfTheText) {
    TempFolder box;
    struct Case {
        std::string bytes;
        unsigned flag;
        const char16_t* record;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBF" + text::toUtf8(kSample), XmlDocument::kUtf8Mark, u"<bom encoding=\"UTF-8\"/>"},
        {"\xFF\xFE" + utf16(kSample, false), XmlDocument::kUtf16LittleEndian, u"<bom encoding=\"UTF-16LE\"/>"},
        {"\xFE\xFF" + utf16(kSample, true), XmlDocument::kUtf16BigEndian, u"<bom encoding=\"UTF-16BE\"/>"},
    };
    for (const auto& c : cases) {
        box.write("in.xml", c.bytes);
        XmlDocument doc;
        EXPECT_TRUE(doc.loadFile(box.agentPath("in.xml")));
        EXPECT_EQ(doc.text(), kSample);
        EXPECT_EQ(doc.documentFlags(), c.flag);
        EXPECT_TRUE(contains(doc.resultText(), c.record)) << text::toUtf8(doc.resultText());
        expectSample(doc);
    }
}

TEST(XmlFile, Utf16ZeroCharactersAreDroppedAndAnOddByteIgnored) {
    TempFolder box;
    box.write("in.xml", "\xFF\xFE" + utf16(std::u16string(u"<a>x\0y</a>", 10), false) + "!");
    XmlDocument doc;
    EXPECT_TRUE(doc.loadFile(box.agentPath("in.xml")));
    EXPECT_EQ(doc.text(), u"<a>xy</a>");
    EXPECT_TRUE(contains(doc.resultText(), u"<nulls_removed count=\"1\"/>"));
    EXPECT_TRUE(contains(doc.resultText(), u"truncation_error"));
}

TEST(XmlFile, ByteFilesUseTheDeclaredEncodingOrDetectUtf8) {
    TempFolder box;
    struct Case {
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        // No mark, starts with "<", nothing declared: UTF-8.
        {"<a>caf\xC3\xA9</a>", u"<a>caf\u00E9</a>"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>",
         u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\u00E9</a>"},
        {"<?xml version='1.0' encoding='windows-1252'?><a>\x80</a>",
         u"<?xml version='1.0' encoding='windows-1252'?><a>\u20AC</a>"},
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?><a>\xB8\xFC\xD0\xC2</a>",
         u"<?xml version=\"1.0\" encoding=\"GB2312\"?><a>\u66F4\u65B0</a>"},
        {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\"></head>"
         "<body>\xF0\xD2\xC9</body></html>",
         u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\"></head>"
         u"<body>\u041F\u0440\u0438</body></html>"},
        // Leading blank line, nothing declared, valid UTF-8: detected.
        {"\r\n<a>\xE6\x9B\xB4</a>", u"\r\n<a>\u66F4</a>"},
        // A UTF-16 declaration in a file that reads as single bytes is a wrong declaration.
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\xC3\xA9</a>",
         u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u00E9</a>"},
        // An unknown name falls back to detection.
        {"<?xml version=\"1.0\" encoding=\"no-such\"?><a>\xC3\xA9</a>",
         u"<?xml version=\"1.0\" encoding=\"no-such\"?><a>\u00E9</a>"},
    };
    for (const auto& c : cases) {
        box.write("in.xml", c.bytes);
        XmlDocument doc;
        doc.loadFile(box.agentPath("in.xml"));
        EXPECT_EQ(doc.text(), c.text) << c.bytes;
        EXPECT_EQ(doc.documentFlags(), 0u);
    }
}

TEST(XmlFile, EncodingNamesMapToCodePages) {
    const std::pair<const char16_t*, int> rows[] = {
        {u"utf-8", 65001},
        {u"UTF-8", 65001},
        {u"utf-16", 1200},
        {u"unicode", 1200},
        {u"ucs-2", 1200},
        {u"utf-16be", 1201},
        {u"utf-32le", 12000},
        {u"us-ascii", 20127},
        {u"iso-8859-1", 28591},
        {u"windows-1252", 1252},
        {u"gb2312", 936},
        {u"GBK", 936},
        {u"gb18030", 54936},
        {u"big5", 950},
        {u"Shift_JIS", 932},
        {u"euc-jp", 20932},
        {u"ks_c_5601-1987", 949},
        {u"koi8-r", 20866},
        {u"utf-7", 65000},
        {u"", xml::kAnsiCodePage},
        {u"UTF-32", 65005},
        {u"UTF-32BE", 65005},
        {u"no-such-charset", xml::kUnknownCodePage},
    };
    for (const auto& [name, codePage] : rows) EXPECT_EQ(xml::codePageOf(name), codePage) << text::toUtf8(name);
    EXPECT_EQ(xml::codePageOf(std::u16string(100, u'a')), xml::kUnknownCodePage);
}

TEST(XmlFile, RoundTripsThroughSaveAndLoad) {
    TempFolder box;
    struct Case {
        std::string name;
        std::string bytes;   // how the file starts out
        std::string prefix;  // how the saved file starts
    };
    const std::u16string declared = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + std::u16string(kSample);
    const Case cases[] = {
        {"utf8.xml", text::toUtf8(declared), "<?xml"},
        {"utf8bom.xml", "\xEF\xBB\xBF" + text::toUtf8(kSample), "\xEF\xBB\xBF<root>"},
        {"le.xml", "\xFF\xFE" + utf16(kSample, false), "\xFF\xFE<\0r\0"},
        {"be.xml", "\xFE\xFF" + utf16(kSample, true), std::string("\xFE\xFF\0<\0r", 6)},
    };
    for (const auto& c : cases) {
        box.write(c.name, c.bytes);
        XmlDocument doc;
        ASSERT_TRUE(doc.loadFile(box.agentPath(c.name))) << c.name;
        XmlDocument fromBytes;
        EXPECT_TRUE(fromBytes.loadBytes(c.bytes)) << c.name;
        EXPECT_EQ(fromBytes.text(), doc.text());
        EXPECT_EQ(fromBytes.documentFlags(), doc.documentFlags());
        // Edit, save under a new name, and read it back.
        ASSERT_TRUE(doc.findElement(u"root") && doc.enterElement() && doc.findElement(u"File"));
        ASSERT_TRUE(doc.addElement(u"Added", u"\u4E2D\u6587 <&>"));
        ASSERT_TRUE(doc.setAttribute(u"note", u"\U0001F600\"'"));
        ASSERT_TRUE(doc.saveFile(box.agentPath("out_" + c.name))) << text::toUtf8(doc.resultText());
        std::string saved = box.read("out_" + c.name);
        EXPECT_EQ(saved.substr(0, c.prefix.size()), c.prefix) << c.name;

        XmlDocument back;
        ASSERT_TRUE(back.loadFile(box.agentPath("out_" + c.name))) << c.name;
        EXPECT_EQ(back.text(), doc.text());
        EXPECT_EQ(back.documentFlags(), doc.documentFlags());
        expectSample(back);
        ASSERT_TRUE(back.findElement(u"Added"));
        EXPECT_EQ(back.getElementText(), u"\u4E2D\u6587 <&>");
        EXPECT_EQ(back.readAttribute(u"note"), u"\U0001F600\"'");
    }
    EXPECT_EQ(fileCount(box), 8u);  // no temporary files left behind
}

TEST(XmlFile, SavingChoosesTheEncodingFromTheText) {
    TempFolder box;
    // Declared UTF-8: UTF-8 without a mark.
    XmlDocument doc(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\u00E9</a>");
    ASSERT_TRUE(doc.saveFile(box.agentPath("a.xml")));
    EXPECT_EQ(box.read("a.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\xC3\xA9</a>");
    // Nothing declared: UTF-8 as well.
    ASSERT_TRUE(doc.parseText(u"<a>\u00E9</a>") && doc.saveFile(box.agentPath("b.xml")));
    EXPECT_EQ(box.read("b.xml"), "<a>\xC3\xA9</a>");
    // Latin-1 declared: one byte per character, what does not fit is reported.
    doc.parseText(u"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\u00E9\u4E2D</a>");
    ASSERT_TRUE(doc.saveFile(box.agentPath("c.xml")));
    EXPECT_EQ(box.read("c.xml"), "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>\xE9?</a>");
    EXPECT_TRUE(contains(doc.resultText(), u"<conversion_loss encoding=\"iso-8859-1\"/>"));
    // UTF-16 declared on a text that came from no file: written with its mark.
    doc.parseText(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>");
    ASSERT_TRUE(doc.saveFile(box.agentPath("d.xml")));
    EXPECT_EQ(box.read("d.xml").substr(0, 4), std::string("\xFF\xFE<\0", 4));
    XmlDocument back;
    EXPECT_TRUE(back.loadFile(box.agentPath("d.xml")));
    EXPECT_EQ(back.text(), doc.text());
}

TEST(XmlFile, FailuresAreReportedAndLeaveNothingBehind) {
    TempFolder box;
    XmlDocument doc(u"<a/>");
    EXPECT_FALSE(doc.loadFile(box.agentPath("missing.xml")));
    EXPECT_TRUE(contains(doc.resultText(), u"<file_error msg=\"cannot open"));
    EXPECT_EQ(doc.text(), u"");
    EXPECT_FALSE(doc.findElement(u"a"));

    // A code page this module has no encoder for: refused, the old file kept.
    box.write("keep.xml", "old");
    doc.parseText(u"<?xml version=\"1.0\" encoding=\"gbk\"?><a/>");
    EXPECT_FALSE(doc.saveFile(box.agentPath("keep.xml")));
    EXPECT_TRUE(contains(doc.resultText(), u"file_error"));
    EXPECT_EQ(box.read("keep.xml"), "old");

    doc.parseText(u"<a/>");
    EXPECT_FALSE(doc.saveFile(box.agentPath("no-such-folder\\a.xml")));
    EXPECT_EQ(fileCount(box), 1u);

    // Too big to be a document of ours.
    std::filesystem::resize_file(box.native("keep.xml"), XmlDocument::kMaxFileBytes + 1);
    EXPECT_FALSE(doc.loadFile(box.agentPath("keep.xml")));
    EXPECT_TRUE(contains(doc.resultText(), u"file too large"));
}

TEST(XmlFile, IllFormedFileLoadsFalseButStaysReadable) {
    TempFolder box;
    box.write("u.xml", "<root><File md5=\"1\">a.dll</File><File md5=\"2\">b.dll</root>");
    XmlDocument doc;
    EXPECT_FALSE(doc.loadFile(box.agentPath("u.xml")));
    ASSERT_TRUE(doc.findElement(u"root") && doc.enterElement());
    ASSERT_TRUE(doc.findElement(u"File") && doc.findElement(u"File"));
    EXPECT_EQ(doc.readAttribute(u"md5"), u"2");
    EXPECT_EQ(doc.getElementText(), u"b.dll");
}
