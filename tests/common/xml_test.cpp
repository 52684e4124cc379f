#include "common/xml.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace brimora {
namespace {

const char kSettings[] =
    "<?xml version=\"1.0\"?><Config>"
    "<Upper>TRUE</Upper><Lower>true</Lower><Padded>TRUE </Padded><One>1</One><Empty/>"
    "<Int>42abc</Int><Letters>abc</Letters><Signed>\t -8</Signed><Huge>99999999999</Huge>"
    "<Small>-99999999999</Small><Sign>- 5</Sign>"
    "<r><str name=\"other\">x</str><str name=\"solr-spec-version\">9.4.1</str></r>"
    "<Mixed>a<b>b<![CDATA[<c>]]></b>&amp;d<!-- not text -->e</Mixed></Config>";

TEST(XmlReadTest, FlagsIntsAndStringsOfOneNode) {
  const XmlDocument doc = LoadXmlText(kSettings);
  ASSERT_TRUE(doc);
  const struct {
    const char* xpath;
    bool flag;         // ReadXmlFlag with the default true
    int number;        // ReadXmlInt with the default -1
    const char* text;  // ReadXmlString with the default "default"
  } cases[] = {
      {"//Upper", true, 0, "TRUE"},       {"//Lower", true, 0, "true"},
      {"//Padded", false, 0, "TRUE "},    {"//One", false, 1, "1"},
      {"//Empty", false, 0, ""},          {"//Int", false, 42, "42abc"},
      {"//Letters", false, 0, "abc"},     {"//Signed", false, -8, "\t -8"},
      {"//Huge", false, INT_MAX, "99999999999"}, {"//Small", false, INT_MIN, "-99999999999"},
      {"//Sign", false, 0, "- 5"},        {"//Missing", true, -1, "default"},
      {"//str[@name='solr-spec-version']", false, 9, "9.4.1"},
      {"//str[2]/@name", false, 0, "solr-spec-version"},
      {"/Config/Mixed", false, 0, "ab<c>&de"},  // CDATA and entities are text, comments not
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadXmlFlag(doc, c.xpath, true), c.flag) << c.xpath;
    EXPECT_EQ(ReadXmlInt(doc, c.xpath, -1), c.number) << c.xpath;
    EXPECT_EQ(ReadXmlString(doc, c.xpath, "default"), c.text) << c.xpath;
  }

  std::string text = "unchanged";
  EXPECT_FALSE(ReadXmlText(doc, "//Missing", text));
  EXPECT_EQ(text, "unchanged");
  const XmlNode context = SelectSingleNode(doc, "/Config/r");
  EXPECT_TRUE(ReadXmlText(XmlDocument(), "str", text, true, context));
  EXPECT_EQ(text, "X");
  EXPECT_EQ(ReadXmlInt(context, "../Int", -1), 42);
  EXPECT_EQ(ReadXmlInt(XmlDocument(), "//Int", -1), -1);
}

TEST(XmlReadTest, ComponentErrorsAreRaised) {
  const XmlDocument doc = LoadXmlText(kSettings);
  const XmlNode root = SelectSingleNode(doc, "/Config");
  std::string text;
  for (const char* xpath : {"//[", "count(//str)", "//str[@name='x'", ""}) {
    EXPECT_THROW(ReadXmlText(doc, xpath, text), XmlError) << xpath;
    EXPECT_THROW(SelectNodes(root, xpath), XmlError) << xpath;
    EXPECT_THROW(ReadXmlInt(root, xpath, 0), XmlError) << xpath;
    EXPECT_EQ(ReadXmlString(XmlNode(), xpath, "d"), "d") << xpath << ": none is not evaluated";
  }
  EXPECT_THROW(NodeText(XmlNode()), XmlError);
  EXPECT_THROW(ReadXmlFlag(XmlDocument(), "//Config", true), XmlError);
}

TEST(XmlSelectTest, NodeListsAndElementViews) {
  XmlNodeList list;
  {
    const XmlDocument doc =
        LoadXmlText("<Root><Section>A</Section><Other/><Section n='1'>B</Section></Root>");
    list = SelectNodes(doc, "//Root/Section");
    EXPECT_FALSE(AsElement(SelectSingleNode(doc, "//@n")));
    EXPECT_FALSE(AsElement(SelectSingleNode(doc, "//Section/text()")));
  }  // the list keeps the document alive
  for (int pass = 0; pass < 2; ++pass, list.Reset()) {
    std::string texts;
    while (XmlNode node = list.NextNode()) texts += NodeText(AsElement(node));
    EXPECT_EQ(texts, "AB") << "pass " << pass;
  }
}

TEST(XmlSelectTest, SelectionsThroughSeveralParentsComeInDocumentOrder) {
  const XmlDocument doc = LoadXmlText(
      "<Root><Section n='1'><Root><Section n='2'/></Root></Section><Section n='3'/></Root>");
  XmlNodeList list = SelectNodes(doc, "//Root/Section");
  std::string order;
  while (XmlNode node = list.NextNode()) order += ReadXmlString(node, "@n", "?");
  EXPECT_EQ(order, "123");
}

TEST(XmlSelectTest, DeeplyNestedDocumentIsReadWithoutRecursion) {
  constexpr int kDepth = 200000;
  std::string xml;
  for (int i = 0; i < kDepth; ++i) xml += "<n>";
  xml += "x";
  for (int i = 0; i < kDepth; ++i) xml += "</n>";
  EXPECT_EQ(ReadXmlString(LoadXmlText(xml), "/n", ""), "x");
}

class XmlFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    test::WriteFile(folder_ / "file.xml", bytes);
    return folder_ / "file.xml";
  }
  test::TempFolder folder_;
};

TEST_F(XmlFileTest, BadFilesFailWithoutThrowing) {
  for (const std::string& bytes :
       {std::string(), std::string(" \n"), std::string("<a><b>1</b>"), std::string("<a></b>"),
        std::string("<a/><b/>"), std::string("<a/>junk"), std::string("\0\xff<a/>", 5)}) {
    XmlDocument doc;
    EXPECT_FALSE(LoadXmlFile(Write(bytes), doc)) << bytes;
    EXPECT_FALSE(SelectSingleNode(doc, "//*")) << bytes << ": an empty document is left";
    EXPECT_FALSE(LoadXmlDocument(Write(bytes))) << bytes;
    EXPECT_FALSE(LoadXmlText(bytes)) << bytes;
  }
  XmlDocument doc;
  EXPECT_FALSE(LoadXmlFile(folder_ / "missing.xml", doc));
  EXPECT_FALSE(LoadXmlFile(folder_.Path(), doc)) << "a folder";
}

TEST_F(XmlFileTest, LargeAndUtf16FilesAreReadCompletely) {
  std::string big = "<Config>";
  std::size_t count = 0;
  for (; big.size() < 10 * 1024 * 1024; ++count) big += "<E>" + std::to_string(count) + "</E>";
  const XmlDocument doc = LoadXmlDocument(Write(big + "<Last>end</Last></Config>"));
  EXPECT_EQ(ReadXmlString(doc, "/Config/Last", ""), "end");
  EXPECT_EQ(SelectNodes(doc, "/Config/E").Size(), count);

  std::string utf16 = "\xff\xfe";  // UTF-16LE with its mark, holding "<a>é</a>"
  for (char16_t c : std::u16string(u"<a>\u00e9</a>")) utf16 += {char(c & 0xff), char(c >> 8)};
  EXPECT_EQ(ReadXmlString(LoadXmlDocument(Write(utf16)), "/a", ""), "\xc3\xa9");
}

}  // namespace
}  // namespace brimora
