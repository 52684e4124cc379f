// Strings, log lines, file-name patterns and file URLs.

#include "common/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/file_url.h"
#include "common/wildcard.h"

namespace brimora {
namespace {

using Strings = std::vector<std::string>;
using namespace std::literals;

TEST(Strings, SplitTextKeepsEmptyPiecesAndAppends) {
  const struct { std::string text, separator; Strings pieces; } cases[] = {
      {"a//b", "/", {"a", "", "b"}}, {"abc", "/", {"abc"}}, {"/a/", "/", {"", "a", ""}}, {"/", "/", {"", ""}},
      {"a::b::", "::", {"a", "b", ""}}, {":::", "::", {"", ":"}}, {"", "/", {}}, {"a/b", "", {}},
  };
  for (const auto& c : cases) {
    Strings list = {"kept"};
    EXPECT_EQ(SplitText(c.text, list, c.separator), c.pieces.size()) << c.text << " at " << c.separator;
    list.erase(list.begin());
    EXPECT_EQ(list, c.pieces) << c.text << " at " << c.separator;
  }
}

// The cut comes first, at whole characters, and the escapes after it, so an escape is never cut in
// two and a line may grow past the limit; a line end that the cut leaves last ends the line.
TEST(Strings, OneLogLineCutsAtWholeCharactersThenEscapes) {
  constexpr std::size_t n = 40;
  const std::string a(n - 1, 'a');
  const struct { std::string message, line; } cases[] = {
      {std::string(n, 'b') + "\n", std::string(n, 'b')},  // the line end is cut, and one added
      {std::string(n + 1, 'c'), std::string(n, 'c')},
      {a + "\xC3\xA9" + "zz", a + "\xC3\xA9"},
      {a + "x\xE2\x82\xAC", a + "x"},
      {a + "\xFF\xFE", a + "\xFF"},  // bytes outside UTF-8 count one each
      {a + "\x1b[31m", a + "\\x1B"},
      {a + "\nzz", a},
      {"/srv/docs/x\nssh-ed25519 AAAA attacker\n", "/srv/docs/x\\nssh-ed25519 AAAA attacker"},
      {"a\rb\tc\x1b[2J\x7f\0d"s, "a\\rb\\tc\\x1B[2J\\x7F\\x00d"},
      {"two line ends\n\n", "two line ends\\n"},
      {"C:\\QXR\\Brimora \\n", "C:\\QXR\\Brimora \\n"},  // backslashes stay as they are
      {" ~\xC3\xA9\xE2\x80\xA8\xC2\x85", " ~\xC3\xA9\xE2\x80\xA8\xC2\x85"},  // no control bytes
  };
  for (const auto& c : cases) EXPECT_EQ(OneLogLine(c.message, n), c.line + "\n") << c.message;
}

TEST(Strings, IsNumber) {
  for (const char* number : {"42", "-3.5", "1e5", "1E+5", "1.", ".5", "+.", "1e5.5", "1e-5", "1e.5"}) {
    EXPECT_TRUE(IsNumber(number)) << number;
  }
  for (const char* text : {"+", "-", ".", "1e", "1e5x", "abc", "", "1e+", "1e.", "1..2", "1-2", "e5", " 42", "1e5e5"}) {
    EXPECT_FALSE(IsNumber(text)) << text;
  }
  EXPECT_FALSE(IsNumber(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(IsNumber("4\0" "2"sv));
}

TEST(Strings, UrlEncode) {
  const struct { std::string text, encoded; } cases[] = {
      {"a b", "a b"}, {"100%", "100%25"}, {"%25", "%2525"}, {"\t\x1f", "%09%1F"}, {"a\0b"s, "a%00b"},
      {"=\"<>\\^[]`+$,@:;/!#?&'|{}~", "=\"<>\\^[]`+$,@:;/!#?&'|{}~"},
      // U+00E9 and both ends of the one-escape range by their codes; U+0142 and "€" by their bytes.
      {"\xC3\xA9", "%E9"}, {"\xC2\x80\xC3\xBF", "%80%FF"}, {"\xC5\x82", "%C5%82"}, {"\xE2\x82\xAC", "%E2%82%AC"},
      // Not UTF-8, so byte by byte: Latin-1, a sequence cut short, an overlong "/", a surrogate.
      {"\xE9t\xE9", "%E9t%E9"}, {"\xC3", "%C3"}, {"\xC0\xAF", "%C0%AF"}, {"\xED\xA0\x80", "%ED%A0%80"},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.text), c.encoded) << "text '" << c.text << "'";
}

TEST(Strings, FromUtf8) {
  std::string text = "old";
  EXPECT_TRUE(FromUtf8("gr\xC3\xBC\xC3\x9F \xE2\x82\xAC", text));
  EXPECT_EQ(text, "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");
  EXPECT_TRUE(FromUtf8("ab\0cd"s, text));
  EXPECT_EQ(text, "ab");  // ends at the first zero byte
  for (const std::string& input :
       {""s, "\0x"s, "\xFF"s, "a\xC3"s, "\xC0\x80"s, "\xED\xB0\x80"s, "\xF4\x90\x80\x80"s, "\x80"s}) {
    text = "old";
    EXPECT_FALSE(FromUtf8(input, text)) << input;
    EXPECT_EQ(text, "") << input;
  }
}

TEST(WildcardTest, Table) {
  const struct { const char *pattern, *name; bool matches; } cases[] = {
      {"*.*", "README", true}, {"report.*", "report", true}, {"report.*", "reports", false},
      {"report*", "report", true}, {"*.xml", "a.xml", true}, {"*.xml", "a.xmlx", false},
      {"a*b*c", "aXXbYYbZc", true}, {"a*b*c", "aXXbYYbZ", false},
      {"BrimoraParams_*.xml", "brimoraparams_X.XML", true}, {"BrimoraParams_*.xml", "BrimoraParams.xml", false},
      // Characters, not bytes, with case folded: é; ÉTÉ and été; МИР and мир; Σ and σο.
      {"?", "\xc3\xa9", true}, {"\xc3\x89T\xc3\x89.TXT", "\xc3\xa9t\xc3\xa9.txt", true},
      {"\xd0\x9c\xd0\x98\xd0\xa0", "\xd0\xbc\xd0\xb8\xd1\x80", true}, {"\xce\xa3*", "\xcf\x83\xce\xbf", true},
      // A byte outside UTF-8 equals only itself, not the character of its code.
      {"bad\xff", "bad\xff", true}, {"bad\xff", "bad\xfe", false}, {"bad\xff", "bad\xc3\xbf", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.matches) << "\"" << c.pattern << "\" \"" << c.name << "\"";
  }
}

TEST(FileUrlTest, LocalAndNetworkUrlsConvertAndEverythingElseIsRefused) {
  const struct { std::string url; const char* path; } cases[] = {  // path nullptr: refused, output unchanged
      {"FILE:///srv/svn/repo/", "/srv/svn/repo/"}, {"file:///", "/"}, {"file://LocalHost/srv/repo", "/srv/repo"},
      {"file:///srv/my%20repo/%C3%A9t%c3%a9", "/srv/my repo/\xc3\xa9t\xc3\xa9"},
      {"file:///srv/100%/%zz%4", "/srv/100%/%zz%4"},  // broken escapes stay as they are
      {"file://server/share%20name", "//server/share name"}, {"", nullptr}, {"http://server/svn/repo", nullptr},
      {"file:/srv/repo", nullptr}, {"file://", nullptr}, {"file://server", nullptr}, {"file://server/", nullptr},
      {"/srv/svn/repo", nullptr}, {"file:///srv/a%00b", nullptr}, {"file:///srv/a\0b"s, nullptr},
      {"FILE://server/share/rep\x01\0\0\0x"s, nullptr}, {"filex:///srv", nullptr},
  };
  for (const auto& c : cases) {
    std::string path = "unchanged";
    EXPECT_EQ(FileUrlToPath(c.url, path), c.path != nullptr) << c.url;
    EXPECT_EQ(path, c.path != nullptr ? c.path : "unchanged") << c.url;
  }
  for (const std::string original : {"/srv/my repo/100%/a#b?c", "/srv/\xff\xfe/\xc3\xa9\n~x"}) {
    std::string path;
    EXPECT_TRUE(FileUrlToPath(PathToFileUrl(original), path) && path == original) << original;
  }
}

}  // namespace
}  // namespace brimora
