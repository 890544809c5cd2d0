// Adding elements and setting attributes in place: the text changes where the edit is and
// the index keeps matching the text.
#include <gtest/gtest.h>

#include "xml_fixture.h"

using xmltest::outline;
using xmltest::outlineOf;

namespace {

const char16_t kDeclaration[] = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

}  // namespace

TEST(XmlEdit, BuildsAListTheWayTheStagingListIsWritten) {
    XmlDocument doc(kDeclaration);
    ASSERT_TRUE(doc.addElement(u"root"));
    ASSERT_TRUE(doc.enterElement());
    for (const char16_t* name : {u"a.dll", u"b.dll"}) {
        ASSERT_TRUE(doc.addElement(u"File"));
        ASSERT_TRUE(doc.setAttribute(u"md5", u"0123"));
        ASSERT_TRUE(doc.setAttribute(u"OldFile", std::u16string(u"C:\\Orvix\\") + name));
        ASSERT_TRUE(doc.setAttribute(u"NewFile", std::u16string(u"C:\\Orvix\\OvUpdate\\bin\\") + name));
    }
    ASSERT_TRUE(doc.leaveElement());
    EXPECT_EQ(
        doc.text(),
        std::u16string(kDeclaration) +
            u"<root>\r\n"
            u"<File md5=\"0123\" OldFile=\"C:\\Orvix\\a.dll\" NewFile=\"C:\\Orvix\\OvUpdate\\bin\\a.dll\"/>\r\n"
            u"<File md5=\"0123\" OldFile=\"C:\\Orvix\\b.dll\" NewFile=\"C:\\Orvix\\OvUpdate\\bin\\b.dll\"/>\r\n"
            u"</root>");
    XmlDocument reread(doc.text());
    EXPECT_TRUE(reread.parseText(doc.text()));
}

TEST(XmlEdit, ValuesAreEscaped) {
    XmlDocument doc(u"<r/>");
    ASSERT_TRUE(doc.findElement(u"r") && doc.enterElement());
    ASSERT_TRUE(doc.addElement(u"v", u"a<b & c>d \"q\" 'p'"));
    EXPECT_NE(doc.text().find(u"<v>a&lt;b &amp; c&gt;d \"q\" 'p'</v>"), std::u16string::npos);
    EXPECT_EQ(doc.getElementText(), u"a<b & c>d \"q\" 'p'");

    ASSERT_TRUE(doc.setAttribute(u"at", u"<\"'&>"));
    EXPECT_NE(doc.text().find(u"at=\"&lt;&quot;&apos;&amp;&gt;\""), std::u16string::npos);
    EXPECT_EQ(doc.readAttribute(u"at"), u"<\"'&>");

    ASSERT_TRUE(doc.addElement(u"k", u"&amp; & &copy; &x", XmlDocument::kKeepReferences));
    EXPECT_NE(doc.text().find(u"<k>&amp; &amp; &copy; &amp;x</k>"), std::u16string::npos);

    // A CDATA value cannot end its section early.
    ASSERT_TRUE(doc.addElement(u"c", u"x]]>y<z>", XmlDocument::kCdata));
    EXPECT_NE(doc.text().find(u"<c><![CDATA[x]]]]><![CDATA[>y<z>]]></c>"), std::u16string::npos);
    EXPECT_EQ(doc.getElementText(), u"x]]>y<z>");
    EXPECT_TRUE(XmlDocument().parseText(doc.text()));
}

TEST(XmlEdit, SetAttributeReplacesOrAdds) {
    XmlDocument doc(u"<r><e a=\"1\" b='2' c=3 d/><f /></r>");
    ASSERT_TRUE(doc.findElement(u"r") && doc.enterElement() && doc.findElement(u"e"));
    ASSERT_TRUE(doc.setAttribute(u"a", u"one"));
    ASSERT_TRUE(doc.setAttribute(u"b", u"two"));
    ASSERT_TRUE(doc.setAttribute(u"c", u"three"));
    ASSERT_TRUE(doc.setAttribute(u"d", u"four"));
    ASSERT_TRUE(doc.setAttribute(u"n", u""));
    EXPECT_EQ(doc.text().substr(3, doc.text().find(u"<f") - 3),
              u"<e a=\"one\" b='two' c=\"three\" d=\"four\" n=\"\"/>");
    ASSERT_TRUE(doc.findElement(u"f") && doc.setAttribute(u"x", u"y"));
    EXPECT_EQ(doc.text(), u"<r><e a=\"one\" b='two' c=\"three\" d=\"four\" n=\"\"/><f x=\"y\" /></r>");
    EXPECT_EQ(doc.readAttribute(u"x"), u"y");
}

TEST(XmlEdit, RejectsWhatWouldBreakTheMarkup) {
    XmlDocument doc(u"<r/>");
    EXPECT_FALSE(doc.setAttribute(u"a", u"1"));  // no current element
    ASSERT_TRUE(doc.findElement(u"r"));
    for (const char16_t* bad : {u"", u"a b", u"a>", u"<a", u"a/", u"1a", u"a=b", u"a\"", u"-a"}) {
        EXPECT_FALSE(doc.addElement(bad)) << text::toUtf8(bad);
        EXPECT_FALSE(doc.setAttribute(bad, u"v")) << text::toUtf8(bad);
    }
    EXPECT_EQ(doc.text(), u"<r/>");

    // A start tag whose quotes do not pair up as values: an edit could move where it ends.
    XmlDocument odd(u"<r' a=x'><e a='1 b=2'/></r'>");
    ASSERT_TRUE(odd.findElement(u"r'"));
    EXPECT_FALSE(odd.setAttribute(u"n", u"v"));
    EXPECT_FALSE(odd.setAttribute(u"a", u"v"));
    EXPECT_EQ(odd.text(), u"<r' a=x'><e a='1 b=2'/></r'>");
    XmlDocument dangling(u"<r x=/>");
    ASSERT_TRUE(dangling.findElement(u"r"));
    EXPECT_FALSE(dangling.setAttribute(u"n", u"v"));
}

// After any mix of edits the index must describe the text exactly as a fresh parse does,
// whether or not blanks separate the elements.
TEST(XmlEdit, IndexMatchesAFreshParseAfterEdits) {
    for (const char16_t* original : {u"<r>\r\n  <a x=\"1\"><b/></a>\r\n  <c>text</c>\r\n  <d/>\r\n</r>",
                                     u"<r><a x=\"1\"><b/></a><c>text</c><d/></r>"}) {
        XmlDocument doc(original);
        ASSERT_TRUE(doc.findElement(u"r") && doc.enterElement() && doc.findElement(u"a"));
        ASSERT_TRUE(doc.setAttribute(u"x", u"longer than before"));
        ASSERT_TRUE(doc.addElement(u"a2", u"v"));  // between a and c
        ASSERT_TRUE(doc.setAttribute(u"long", std::u16string(300, u'z')));
        ASSERT_TRUE(doc.findElement(u"d") && doc.enterElement());
        ASSERT_TRUE(doc.addElement(u"d1"));  // into an empty element
        ASSERT_TRUE(doc.addElement(u"d2"));
        ASSERT_TRUE(doc.enterElement() && doc.addElement(u"d21"));
        ASSERT_TRUE(doc.leaveElement() && doc.leaveElement());
        ASSERT_TRUE(doc.setAttribute(u"n", u"1"));  // on d, which now has children
        ASSERT_TRUE(doc.leaveElement());
        ASSERT_TRUE(doc.setAttribute(u"top", u"<&>"));               // on r
        ASSERT_TRUE(doc.enterElement() && doc.addElement(u"last"));  // r has grown: still its end?
        ASSERT_TRUE(doc.leaveElement());

        EXPECT_EQ(outlineOf(doc.text()), u"r(a(b) a2 c d(d1 d2(d21)) last)");
        EXPECT_TRUE(XmlDocument().parseText(doc.text()));
        // The edited document's own index, walked from r.
        EXPECT_FALSE(doc.leaveElement());
        EXPECT_EQ(doc.readAttribute(u"top"), u"<&>");
        ASSERT_TRUE(doc.enterElement());
        XmlDocument walk = doc;
        EXPECT_EQ(outline(walk), u"a(b) a2 c d(d1 d2(d21)) last");
        ASSERT_TRUE(doc.findElement(u"a"));
        EXPECT_EQ(doc.readAttribute(u"x"), u"longer than before");
        ASSERT_TRUE(doc.findElement(u"a2"));
        EXPECT_EQ(doc.getElementText(), u"v");
        ASSERT_TRUE(doc.findElement(u"c"));
        EXPECT_EQ(doc.getElementText(), u"text");
        ASSERT_TRUE(doc.findElement(u"d"));
        EXPECT_EQ(doc.readAttribute(u"n"), u"1");
    }
}

// Long runs of appends, then edits far behind the end and appends again: every element
// still reads what a fresh parse of the text reads.
TEST(XmlEdit, EditsBehindAndAtTheEndKeepTheIndexInPlace) {
    XmlDocument doc(kDeclaration);
    ASSERT_TRUE(doc.addElement(u"root") && doc.enterElement());
    auto appendFiles = [&doc](size_t count) {
        for (size_t i = 0; i < count; ++i)
            ASSERT_TRUE(doc.addElement(u"File") && doc.setAttribute(u"n", std::u16string(i % 7, u'x')));
    };
    appendFiles(40);
    ASSERT_TRUE(doc.leaveElement() && doc.enterElement() && doc.findElement(u"File"));
    ASSERT_TRUE(doc.setAttribute(u"n", std::u16string(100, u'y')));        // longer: the rest moves on
    ASSERT_TRUE(doc.findElement(u"File") && doc.setAttribute(u"n", u""));  // shorter: it moves back
    ASSERT_TRUE(doc.addElement(u"Inserted", u"v"));
    while (doc.findElement(u"")) {
    }
    appendFiles(5);

    ASSERT_TRUE(doc.leaveElement());
    XmlDocument fresh;
    ASSERT_TRUE(fresh.parseText(doc.text()));
    ASSERT_TRUE(fresh.findElement(u"root") && fresh.enterElement() && doc.enterElement());
    int elements = 0;
    for (; fresh.findElement(u""); ++elements) {
        ASSERT_TRUE(doc.findElement(u"")) << elements;
        EXPECT_EQ(doc.elementName(), fresh.elementName()) << elements;
        EXPECT_EQ(doc.readAttribute(u"n"), fresh.readAttribute(u"n")) << elements;
        EXPECT_EQ(doc.getElementText(), fresh.getElementText()) << elements;
    }
    EXPECT_FALSE(doc.findElement(u""));
    EXPECT_EQ(elements, 46);
}

TEST(XmlEdit, AddsAtTheTopLevelAndIntoUnclosedElements) {
    XmlDocument doc;
    ASSERT_TRUE(doc.addElement(u"first"));  // into an empty text
    EXPECT_EQ(doc.text(), u"<first/>");
    ASSERT_TRUE(doc.addElement(u"second", u"2"));
    EXPECT_EQ(doc.text(), u"<first/>\r\n<second>2</second>");

    XmlDocument broken;
    EXPECT_FALSE(broken.parseText(u"<r><open>"));
    ASSERT_TRUE(broken.findElement(u"r") && broken.enterElement() && broken.findElement(u"open"));
    ASSERT_TRUE(broken.enterElement() && broken.addElement(u"inside"));
    ASSERT_TRUE(broken.leaveElement() && broken.addElement(u"after"));
    ASSERT_TRUE(broken.setAttribute(u"k", u"v"));
    EXPECT_EQ(broken.readAttribute(u"k"), u"v");
    ASSERT_TRUE(broken.leaveElement() && broken.enterElement());
    EXPECT_EQ(outline(broken), u"open(inside) after");
}
