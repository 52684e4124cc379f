#include "common/file_url.h"

#include <string>

#include <gtest/gtest.h>

namespace brimora {
namespace {

TEST(FileUrlTest, ConvertsLocalAndNetworkUrls) {
  const struct {
    const char* url;
    const char* path;
  } cases[] = {
      {"FILE:///srv/svn/repo/", "/srv/svn/repo/"},   {"file:///", "/"},
      {"file:///srv/my%20repo/%C3%A9t%c3%a9", "/srv/my repo/\xc3\xa9t\xc3\xa9"},
      {"file:///srv/100%/%zz%4", "/srv/100%/%zz%4"},  // broken escapes stay as they are
      {"file://LocalHost/srv/repo", "/srv/repo"},
      {"file://server/share%20name", "//server/share name"},
  };
  for (const auto& c : cases) {
    std::string path;
    EXPECT_TRUE(FileUrlToPath(c.url, path)) << c.url;
    EXPECT_EQ(path, c.path) << c.url;
  }
}

TEST(FileUrlTest, RejectsEverythingElseAndKeepsTheOutput) {
  using namespace std::string_literals;
  for (const std::string& url : {""s, "http://server/svn/repo"s, "svn://server/repo"s, "https://x/y"s,
                                 "file:/srv/repo"s, "file:"s, "file://"s, "file://server"s, "file://server/"s,
                                 "/srv/svn/repo"s, "file:///srv/a%00b"s, "file:///srv/a\0b"s,
                                 "FILE://server/share/rep\x01\0\0\0x"s, "filex:///srv"s}) {
    std::string path = "unchanged";
    EXPECT_FALSE(FileUrlToPath(url, path)) << url;
    EXPECT_EQ(path, "unchanged") << url;
  }
}

}  // namespace
}  // namespace brimora
