// Moving through a document and reading attributes and element text.
#include <gtest/gtest.h>

#include "xml_fixture.h"

namespace {

const char16_t kModuleList[] =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    u"<root>\r\n"
    u"  <File md5=\"m1\" zipmd5=\"z1\">Orvix.exe</File>\r\n"
    u"  <Other/>\r\n"
    u"  <File md5='m2' zipmd5 = \"z2\">codecs\\a.dll</File>\r\n"
    u"</root>\r\n";

}  // namespace

TEST(XmlNavigation, WalksSiblingsInOrderAndStaysPutWhenNothingFollows) {
    XmlDocument doc(kModuleList);
    ASSERT_TRUE(doc.findElement(u"root"));
    ASSERT_TRUE(doc.enterElement());
    ASSERT_TRUE(doc.findElement(u"File"));
    EXPECT_EQ(doc.getElementText(), u"Orvix.exe");
    EXPECT_EQ(doc.readAttribute(u"zipmd5"), u"z1");
    ASSERT_TRUE(doc.findElement(u"File"));  // skips Other
    EXPECT_EQ(doc.getElementText(), u"codecs\\a.dll");
    EXPECT_EQ(doc.readAttribute(u"md5"), u"m2");
    EXPECT_EQ(doc.readAttribute(u"zipmd5"), u"z2");
    EXPECT_FALSE(doc.findElement(u"File"));
    EXPECT_EQ(doc.readAttribute(u"md5"), u"m2");  // position unchanged
    EXPECT_FALSE(doc.findElement(u"Other"));      // only searches forward
    ASSERT_TRUE(doc.leaveElement());
    EXPECT_EQ(doc.elementName(), u"root");
    EXPECT_FALSE(doc.leaveElement());  // already at the top level
}

TEST(XmlNavigation, NamesCompareExactly) {
    XmlDocument doc(u"<root><item/></root>");
    EXPECT_FALSE(doc.findElement(u"Root"));
    EXPECT_FALSE(doc.findElement(u"roo"));
    EXPECT_TRUE(doc.findElement(u"root"));
    doc.enterElement();
    EXPECT_FALSE(doc.findElement(u"Item"));
    EXPECT_TRUE(doc.findElement(u"item"));
}

TEST(XmlNavigation, EnterAndLeaveNeedAPosition) {
    XmlDocument doc(u"<update><exeupdate version=\"1.2.3.4\"/></update>");
    EXPECT_FALSE(doc.enterElement());  // no current element yet
    EXPECT_FALSE(doc.leaveElement());
    EXPECT_EQ(doc.readAttribute(u"version"), u"");
    EXPECT_EQ(doc.getElementText(), u"");
    // The version-information read: update at the top level, exeupdate inside it.
    ASSERT_TRUE(doc.findElement(u"update") && doc.enterElement() && doc.findElement(u"exeupdate"));
    EXPECT_EQ(doc.readAttribute(u"version"), u"1.2.3.4");
    // Entering an empty element leaves nothing to find, and leaving comes back.
    EXPECT_TRUE(doc.enterElement());
    EXPECT_FALSE(doc.findElement(u""));
    EXPECT_TRUE(doc.leaveElement());
    EXPECT_EQ(doc.readAttribute(u"version"), u"1.2.3.4");
}

TEST(XmlNavigation, LeavingResumesAfterTheElementLeft) {
    XmlDocument doc(u"<r><a><x/></a><b id=\"1\"/><a><x id=\"2\"/></a></r>");
    ASSERT_TRUE(doc.findElement(u"r") && doc.enterElement() && doc.findElement(u"a") && doc.enterElement());
    ASSERT_TRUE(doc.findElement(u"x"));
    ASSERT_TRUE(doc.leaveElement());
    ASSERT_TRUE(doc.findElement(u"a"));  // the second a, past b
    ASSERT_TRUE(doc.enterElement() && doc.findElement(u"x"));
    EXPECT_EQ(doc.readAttribute(u"id"), u"2");
}

TEST(XmlNavigation, IllFormedDocumentIsNavigableAsFarAsIndexed) {
    XmlDocument doc;
    EXPECT_FALSE(doc.parseText(u"<update><exeupdate version=\"9\"></update>"));
    ASSERT_TRUE(doc.findElement(u"update") && doc.enterElement() && doc.findElement(u"exeupdate"));
    EXPECT_EQ(doc.readAttribute(u"version"), u"9");
}

TEST(XmlNavigation, AttributeValuesAreUnescaped) {
    XmlDocument doc(
        u"<e plain=\"x&amp;y\" all=\"&lt;&gt;&quot;&apos;\" num=\"&#65;&#x42;&#x1F600;\""
        u" html=\"&copy;&nbsp;&euro;\" upper=\"&AMP;&EURO;\" cased=\"&Eacute;&eacute;&EACUTE;\""
        u" kept=\"&unknown; & &#xD800; &#0; &toolongname12; &#X41;\" loose = 'a' bare=v flag/>");
    ASSERT_TRUE(doc.findElement(u"e"));
    EXPECT_EQ(doc.readAttribute(u"plain"), u"x&y");
    EXPECT_EQ(doc.readAttribute(u"all"), u"<>\"'");
    EXPECT_EQ(doc.readAttribute(u"num"), u"AB\U0001F600");
    EXPECT_EQ(doc.readAttribute(u"html"), u"\u00A9\u00A0\u20AC");
    EXPECT_EQ(doc.readAttribute(u"upper"), u"&\u20AC");
    EXPECT_EQ(doc.readAttribute(u"cased"), u"\u00C9\u00E9\u00E9");
    EXPECT_EQ(doc.readAttribute(u"kept"), u"&unknown; & &#xD800; &#0; &toolongname12; &#X41;");
    EXPECT_EQ(doc.readAttribute(u"loose"), u"a");
    EXPECT_EQ(doc.readAttribute(u"bare"), u"v");
    EXPECT_EQ(doc.readAttribute(u"flag"), u"");
    EXPECT_EQ(doc.readAttribute(u"missing"), u"");
    EXPECT_EQ(doc.readAttribute(u"PLAIN"), u"");  // attribute names keep their case
}

TEST(XmlNavigation, ElementTextIsTheDirectCharacterData) {
    XmlDocument doc(
        u"<r><t>a &lt;b&gt; &amp; c</t><c><![CDATA[<raw> &amp;]]></c>"
        u"<m>x<!-- no --><i>inner</i>y<?pi?>z</m><e/><s></s></r>");
    ASSERT_TRUE(doc.findElement(u"r") && doc.enterElement());
    ASSERT_TRUE(doc.findElement(u"t"));
    EXPECT_EQ(doc.getElementText(), u"a <b> & c");
    ASSERT_TRUE(doc.findElement(u"c"));
    EXPECT_EQ(doc.getElementText(), u"<raw> &amp;");
    ASSERT_TRUE(doc.findElement(u"m"));
    EXPECT_EQ(doc.getElementText(), u"xyz");
    ASSERT_TRUE(doc.findElement(u"e"));
    EXPECT_EQ(doc.getElementText(), u"");
    ASSERT_TRUE(doc.findElement(u"s"));
    EXPECT_EQ(doc.getElementText(), u"");
}
