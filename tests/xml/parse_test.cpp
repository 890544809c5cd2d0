// How the tolerant reader indexes well-formed and broken documents, and what it records.
#include <gtest/gtest.h>

#include <chrono>

#include "xml_fixture.h"

using xmltest::contains;
using xmltest::outlineOf;

TEST(XmlParse, WellFormedDocumentIgnoresMarkupThatIsNotAnElement) {
    const std::u16string text =
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        u"<!DOCTYPE root [<!ENTITY e \"a>b\"> <!-- ] -->]>\r\n"
        u"<!-- <ghost/> -->\r\n"
        u"<root a='1' b=\"x>y\">"
        u"<![CDATA[<notatag/>]]><?pi <fake/> ?><child/><child></child>"
        u"</root>\r\n";
    XmlDocument doc;
    EXPECT_TRUE(doc.parseText(text));
    EXPECT_EQ(doc.resultText(), u"");
    EXPECT_EQ(outlineOf(text), u"root(child child)");
}

TEST(XmlParse, TopLevelProblems) {
    XmlDocument doc;
    // Two roots: reported, not well formed, but both still reachable.
    EXPECT_FALSE(doc.parseText(u"<a/><b/>"));
    EXPECT_EQ(doc.resultText(), u"<root_has_sibling tagname=\"b\" offset=\"4\"/>");
    EXPECT_TRUE(doc.findElement(u"a"));
    EXPECT_TRUE(doc.findElement(u"b"));

    // Nothing at all: no records, not well formed.
    EXPECT_FALSE(doc.parseText(u""));
    EXPECT_EQ(doc.resultText(), u"");
    EXPECT_FALSE(doc.findElement(u""));

    // Text, a declaration and comments but no element.
    EXPECT_FALSE(doc.parseText(u"<?xml version=\"1.0\"?><!-- c --> text"));
    EXPECT_EQ(doc.resultText(), u"<no_root_element/>");
}

TEST(XmlParse, UnclosedElementEndsWhereItsParentEnds) {
    const std::u16string text = u"<r><a><b>x</a><c/></r>";
    XmlDocument doc;
    EXPECT_FALSE(doc.parseText(text));
    EXPECT_EQ(doc.resultText(), u"<unended_start_tag tagname=\"b\" offset=\"6\" offset2=\"10\"/>");
    // b stays inside a and does not swallow c, which follows a.
    EXPECT_EQ(outlineOf(text), u"r(a(b) c)");
    ASSERT_TRUE(doc.findElement(u"r") && doc.enterElement() && doc.findElement(u"a") && doc.enterElement() &&
                doc.findElement(u"b"));
    EXPECT_EQ(doc.getElementText(), u"x");

    // Elements still open at the end of the text end there.
    EXPECT_FALSE(doc.parseText(u"<r><a>tail"));
    EXPECT_TRUE(contains(doc.resultText(), u"tagname=\"a\" offset=\"3\" offset2=\"10\""));
    EXPECT_TRUE(contains(doc.resultText(), u"tagname=\"r\" offset=\"0\" offset2=\"10\""));
    EXPECT_EQ(outlineOf(u"<r><a>tail"), u"r(a)");
}

TEST(XmlParse, EndTagWithoutStartTagIsReportedAndSkipped) {
    XmlDocument doc;
    EXPECT_FALSE(doc.parseText(u"<a></x><b/></a>"));
    EXPECT_EQ(doc.resultText(), u"<lone_end_tag tagname=\"x\" offset=\"3\"/>");
    EXPECT_EQ(outlineOf(u"<a></x><b/></a>"), u"a(b)");
}

TEST(XmlParse, MalformedTagsAreReportedAndTheRestIsStillIndexed) {
    struct Case {
        std::u16string text, event, outline;
    };
    const Case cases[] = {
        {u"<a>1 < 2<b/></a>", u"<first_tag_syntax type=\"tag\" offset=\"5\"/>", u"a(b)"},
        {u"<a></ ><b/></a>", u"first_tag_syntax type=\"end_tag\"", u"a(b)"},
        {u"<a><b x=\"1<c/></a>", u"unterminated_tag_syntax type=\"start_tag\" offset=\"3\"", u"a(c)"},
        {u"<a><!-- never closed <b/></a>", u"unterminated_tag_syntax type=\"comment\"", u"a"},
        {u"<a><![CDATA[ <b/></a>", u"unterminated_tag_syntax type=\"cdata_section\"", u"a"},
        {u"<a><? <b/></a>", u"unterminated_tag_syntax type=\"processing_instruction\"", u"a"},
        {u"<!DOCTYPE a [ <b/></a>", u"unterminated_tag_syntax type=\"document_type\"", u""},
        {u"<a><!DOCTYPE a><b/></a>", u"doctype_tag_syntax type=\"document_type\"", u"a(b)"},
        {u"<a><!- x -><b/></a>", u"comment_tag_syntax type=\"comment\"", u"a(b)"},
        {u"<a><![CDAT[x]]><b/></a>", u"cdata_section_syntax type=\"cdata_section\"", u"a(b)"},
        {u"<![CDATA[x]]><a/>", u"cdata_section_syntax type=\"cdata_section\"", u"a"},
        {u"<a><!ELEMENT><b/></a>", u"exclamation_tag_syntax type=\"tag\"", u"a(b)"},
        {u"<a/><", u"unterminated_tag_syntax type=\"tag\"", u"a"},
    };
    for (const auto& c : cases) {
        XmlDocument doc;
        EXPECT_FALSE(doc.parseText(c.text)) << text::toUtf8(c.text);
        EXPECT_TRUE(contains(doc.resultText(), c.event)) << text::toUtf8(doc.resultText());
        EXPECT_EQ(outlineOf(c.text), c.outline) << text::toUtf8(c.text);
    }
}

TEST(XmlParse, ResultTextStopsGrowingAtItsLimit) {
    std::u16string text = u"<a>";
    for (int i = 0; i < 5000; ++i) text += u"</nothing>";
    text += u"</a>";
    XmlDocument doc;
    EXPECT_FALSE(doc.parseText(text));
    EXPECT_GE(doc.resultText().size(), xml::ResultLog::kLimit);
    EXPECT_LT(doc.resultText().size(), xml::ResultLog::kLimit + 100);
    // A new parse starts a new result text.
    EXPECT_TRUE(doc.parseText(u"<a/>"));
    EXPECT_EQ(doc.resultText(), u"");
}

// Hostile shapes that must stay linear and use no stack per nesting level.
TEST(XmlParse, DeepAndAdversarialInputStaysBounded) {
    const int depth = 200000;
    std::u16string open, close, lone;
    for (int i = 0; i < depth; ++i) {
        open += u"<a>";
        close += u"</a>";
        lone += u"</b>";
    }
    auto started = std::chrono::steady_clock::now();
    XmlDocument doc;
    EXPECT_TRUE(doc.parseText(open + close));
    int levels = 0;
    while (doc.findElement(u"a") && doc.enterElement()) ++levels;
    EXPECT_EQ(levels, depth);

    EXPECT_FALSE(doc.parseText(open));         // every element unclosed
    EXPECT_FALSE(doc.parseText(open + lone));  // end tags that match nothing on a deep stack
    std::u16string comments;
    for (int i = 0; i < depth; ++i) comments += u"<!--<?<![CDATA[";
    EXPECT_FALSE(doc.parseText(comments));  // unterminated constructs, over and over
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}
