#include "common/wildcard.h"

#include <gtest/gtest.h>

namespace brimora {
namespace {

TEST(WildcardTest, Table) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.*", "README", true},          {"report.*", "report", true},
      {"report.*", "reports", false},   {"*.xml", "a.xml", true},
      {"*.xml", "a.xmlx", false},       {"a*b*c", "aXXbYYbZc", true},
      {"a*b*c", "aXXbYYbZ", false},     {"?", "\xc3\xa9", true},  // one character of two bytes
      {"\xc3\x89T\xc3\x89.TXT", "\xc3\xa9t\xc3\xa9.txt", true},   // ÉTÉ / été
      {"\xd0\x9c\xd0\x98\xd0\xa0", "\xd0\xbc\xd0\xb8\xd1\x80", true},  // МИР / мир
      {"\xce\xa3*", "\xcf\x83\xce\xbf", true},                      // Σ / σο
      {"bad\xff", "bad\xff", true},     {"bad\xff", "bad\xfe", false},
      {"bad\xff", "bad\xc3\xbf", false},  // a stray byte is not the character of its code
      {"report*", "report", true},
      {"BrimoraParams_*.xml", "brimoraparams_X.XML", true},
      {"BrimoraParams_*.xml", "BrimoraParams.xml", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.matches)
        << "pattern \"" << c.pattern << "\", name \"" << c.name << "\"";
  }
}

}  // namespace
}  // namespace brimora
