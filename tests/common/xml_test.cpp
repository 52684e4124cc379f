#include "common/xml.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace brimora {
namespace {

using namespace std::literals;

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
  // What ReadXmlFlag, ReadXmlInt and ReadXmlString read, with the defaults true, -1 and "default".
  const struct { const char* xpath; bool flag; int number; const char* text; } cases[] = {
      {"//Upper", true, 0, "TRUE"}, {"//Lower", true, 0, "true"}, {"//Padded", false, 0, "TRUE "},
      {"//One", false, 1, "1"}, {"//Empty", false, 0, ""}, {"//Int", false, 42, "42abc"},
      {"//Letters", false, 0, "abc"}, {"//Signed", false, -8, "\t -8"}, {"//Sign", false, 0, "- 5"},
      {"//Huge", false, INT_MAX, "99999999999"}, {"//Small", false, INT_MIN, "-99999999999"},
      {"//Missing", true, -1, "default"},
      {"//str[@name='solr-spec-version']", false, 9, "9.4.1"},
      {"//str[2]/@name", false, 0, "solr-spec-version"},
      {"/Config/Mixed", false, 0, "ab<c>&de"},  // CDATA and entities are text, comments not
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadXmlFlag(doc, c.xpath, true), c.flag) << c.xpath;
    EXPECT_EQ(ReadXmlInt(doc, c.xpath, -1), c.number) << c.xpath;
    EXPECT_EQ(ReadXmlString(doc, c.xpath, "default"), c.text) << c.xpath;
  }
  EXPECT_EQ(ReadXmlInt(SelectSingleNode(doc, "/Config/r"), "../Int", -1), 42);
  EXPECT_EQ(ReadXmlInt(XmlDocument(), "//Int", -1), -1);
}

// An XPath that is invalid or does not select nodes, and a none handle, are the caller's errors.
TEST(XmlReadTest, ComponentErrorsAreRaised) {
  const XmlDocument doc = LoadXmlText(kSettings);
  std::string text;
  for (const char* xpath : {"//[", "count(//str)", ""}) EXPECT_THROW(ReadXmlText(doc, xpath, text), XmlError) << xpath;
  EXPECT_EQ(ReadXmlString(XmlNode(), "//[", "d"), "d") << "a none handle is not evaluated";
  EXPECT_THROW(NodeText(XmlNode()), XmlError);
  EXPECT_THROW(ReadXmlFlag(XmlDocument(), "//Config", true), XmlError);
}

// Node lists come in document order and keep their document; a deep document is read without
// recursion.
TEST(XmlSelectTest, NodeListsAndDeepDocuments) {
  XmlNodeList list = SelectNodes(
      LoadXmlText("<Root><Section n='1'><Root><Section n='2'/></Root></Section><Other/><Section n='3'/></Root>"),
      "//Root/Section");
  std::string order;
  while (XmlNode node = list.NextNode()) order += ReadXmlString(node, "@n", "?");
  EXPECT_EQ(order, "123");
  std::string open, close;
  for (int i = 0; i < 200000; ++i, open += "<n>") close += "</n>";
  EXPECT_EQ(ReadXmlString(LoadXmlText(open + "x" + close), "/n", ""), "x");
}

TEST(XmlFileTest, OnlyWellFormedFilesLoadAndFailuresDoNotThrow) {
  const test::TempFolder folder;
  const std::string path = folder / "file.xml";
  for (const std::string& bytes : {""s, " \n"s, "<a><b>1</b>"s, "<a></b>"s, "<a/><b/>"s, "<a/>junk"s, "\0\xff<a/>"s}) {
    test::WriteFile(path, bytes);
    XmlDocument doc;
    EXPECT_FALSE(LoadXmlFile(path, doc)) << bytes;
    EXPECT_FALSE(SelectSingleNode(doc, "//*")) << bytes << ": an empty document is left";
    EXPECT_FALSE(LoadXmlDocument(path)) << bytes;
    EXPECT_FALSE(LoadXmlText(bytes)) << bytes;
  }
  XmlDocument doc;
  EXPECT_FALSE(LoadXmlFile(folder / "missing.xml", doc));
  EXPECT_FALSE(LoadXmlFile(folder.Path(), doc)) << "a folder";
  test::WriteFile(path, "\xff\xfe<\0a\0>\0\xe9\0<\0/\0a\0>\0"s);  // "<a>é</a>" in UTF-16LE with its mark
  EXPECT_EQ(ReadXmlString(LoadXmlDocument(path), "/a", ""), "\xc3\xa9");
}

}  // namespace
}  // namespace brimora
