#include "common/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace brimora {
namespace {

using Strings = std::vector<std::string>;

TEST(Strings, SplitTextKeepsEmptyPiecesAndAppends) {
  const struct {
    std::string text, separator;
    Strings pieces;
  } cases[] = {
      {"a//b", "/", {"a", "", "b"}},
      {"abc", "/", {"abc"}},
      {"/a/", "/", {"", "a", ""}},
      {"/", "/", {"", ""}},
      {"a::b::", "::", {"a", "b", ""}},
      {":::", "::", {"", ":"}},  // occurrences do not overlap
      {"", "/", {}},
      {"a/b", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text '" + c.text + "' separator '" + c.separator + "'");
    Strings list = {"kept"};
    const std::size_t count = SplitText(c.text, list, c.separator);
    EXPECT_EQ(count, c.pieces.size());
    Strings expected = {"kept"};
    expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
    EXPECT_EQ(list, expected);
  }
}

TEST(Strings, PathParts) {
  const struct {
    std::string path, parts;  // extension|title|folder
  } cases[] = {
      {"/logs/backup.log.old", "old|backup.log|/logs/"}, {"/logs/README", "||/logs/"},
      {"/a.b/c", "b/c||/a.b/"},  // a dot in a folder counts for the extension only
      {"file.txt", "txt|file|"}, {".hidden", "hidden||"}, {"/srv/dir/", "||/srv/dir/"},
      {"//host/share/x.y", "y|x|//host/share/"}, {"", "||"},
  };
  for (const auto& c : cases) {
    const Common::CFilePathString path(c.path);
    EXPECT_EQ(path.Extension() + "|" + path.Title() + "|" + path.Folder("/"), c.parts) << c.path;
  }
  // The separator of Folder and Split is the caller's.
  const Common::CFilePathString windowsStyle("C:\\a\\b.txt");
  EXPECT_EQ(windowsStyle.Folder("\\"), "C:\\a\\");
  EXPECT_EQ(windowsStyle.Folder("/"), "");
  EXPECT_EQ(windowsStyle.Title(), "C:\\a\\b");  // Title always splits at the native separator
  Strings pieces;
  EXPECT_EQ(Common::CFilePathString("//host/share").Split(pieces, "/"), 4u);
  EXPECT_EQ(pieces, (Strings{"", "", "host", "share"}));
}

TEST(Strings, IsNumber) {
  const struct {
    const char* text;
    bool number;
  } cases[] = {
      {"42", true},   {"-3.5", true}, {"1e5", true},   {"1E+5", true},  {"1.", true},
      {".5", true},   {"+.", true},   {"1e5.5", true}, {"1e-5", true},  {"1e.5", true},
      {"+", false},   {"-", false},   {".", false},    {"1e", false},   {"1e5x", false},
      {"abc", false}, {"", false},    {"1e+", false},  {"1e.", false},  {"1..2", false},
      {"1-2", false}, {"e5", false},  {" 42", false},  {"1e5e5", false}, {"1e5.5.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("text '") + c.text + "'");
    EXPECT_EQ(IsNumber(c.text), c.number);
    EXPECT_EQ(IsNumber(std::string_view(c.text)), c.number);
  }
  EXPECT_FALSE(IsNumber(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(IsNumber(std::string_view("4\0" "2", 3)));
}

TEST(Strings, UrlEncode) {
  const struct {
    std::string text, encoded;
  } cases[] = {
      {"a b", "a b"},      {"100%", "100%25"},   {"%25", "%2525"},   {"\t\x1f", "%09%1F"},
      {"\xC3\xA9", "%E9"},                // U+00E9 by its own code
      {"\xC2\x80\xC3\xBF", "%80%FF"},     // both ends of the one-escape range
      {"\xC5\x82", "%C5%82"},             // U+0142 by its UTF-8 bytes
      {"\xE2\x82\xAC", "%E2%82%AC"},      // the euro sign
      {"=\"<>\\^[]`+$,@:;/!#?&'|{}~", "=\"<>\\^[]`+$,@:;/!#?&'|{}~"},
      {"\xE9t\xE9", "%E9t%E9"},           // Latin-1 bytes that are not UTF-8
      {"\xC3", "%C3"},                    // a sequence cut short
      {"\xC0\xAF", "%C0%AF"},             // overlong "/" must not turn into a separator
      {"\xED\xA0\x80", "%ED%A0%80"},      // a surrogate
      {std::string("a\0b", 3), "a%00b"},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.text), c.encoded) << "text '" << c.text << "'";
}

TEST(Strings, EscapeControlCharactersLeavesNoLineBreakOrTerminalControl) {
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"x\nssh-ed25519 AAAA attacker\n", "x\\nssh-ed25519 AAAA attacker\\n"},
      {"a\r\n\tb", "a\\r\\n\\tb"},
      {"\x1b[31mred\x7f", "\\x1B[31mred\\x7F"},
      {std::string("\0\x01\x0b\x0c\x1f", 5), "\\x00\\x01\\x0B\\x0C\\x1F"},
      {"C:\\QXR\\Brimora \\n", "C:\\QXR\\Brimora \\n"},  // backslashes stay as they are
      {" ~\xC3\xA9\xE2\x80\xA8\xC2\x85\xFF", " ~\xC3\xA9\xE2\x80\xA8\xC2\x85\xFF"},  // not bytes
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeControlCharacters(c.text), c.escaped) << testing::PrintToString(c.text);
  }
  // Every byte value: the controls come out as printable escapes, all others as themselves.
  for (int byte = 0; byte < 256; ++byte) {
    const std::string text(1, static_cast<char>(byte));
    const std::string escaped = EscapeControlCharacters(text);
    if (byte >= 0x20 && byte != 0x7F) {
      EXPECT_EQ(escaped, text) << byte;
    } else {
      EXPECT_EQ(escaped.front(), '\\') << byte;
      EXPECT_TRUE(std::all_of(escaped.begin() + 1, escaped.end(),
                              [](char c) { return c > 0x20 && c < 0x7F; }))
          << byte;
    }
  }
}

TEST(Strings, FromUtf8) {
  std::string text = "old";
  EXPECT_TRUE(FromUtf8("gr\xC3\xBC\xC3\x9F \xE2\x82\xAC", text));
  EXPECT_EQ(text, "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");

  EXPECT_TRUE(FromUtf8(std::string_view("ab\0cd", 5), text));
  EXPECT_EQ(text, "ab");  // ends at the first zero byte

  const std::string rejected[] = {"", std::string("\0x", 2), "\xFF", "a\xC3", "\xC0\x80",
                                  "\xED\xB0\x80", "\xF4\x90\x80\x80", "\x80"};
  for (const std::string& input : rejected) {
    SCOPED_TRACE("input '" + input + "'");
    text = "old";
    EXPECT_FALSE(FromUtf8(input, text));
    EXPECT_EQ(text, "");
  }
}

TEST(Strings, UrlStringReservedSet) {
  const Common::CUrlString all;
  EXPECT_EQ(all.Reserved().size(), 22u + 32u + 4u);
  for (const char c : std::string("%/? \x01\x7F|~")) EXPECT_TRUE(all.IsReserved(c)) << int(c);
  for (const char c : std::string("aZ09-._{")) EXPECT_FALSE(all.IsReserved(c)) << c;
  const Common::CUrlString relaxed("/ ");
  EXPECT_EQ(relaxed.Reserved().size(), all.Reserved().size() - 2);
  EXPECT_FALSE(relaxed.IsReserved('/'));
  EXPECT_TRUE(relaxed.IsReserved('?'));
}

}  // namespace
}  // namespace brimora
