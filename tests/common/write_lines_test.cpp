#include "common/write_lines.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

TEST(WriteLinesTest, ContentsForEveryFlag) {
  const test::TempFolder dir;
  const std::string path = dir / "out.txt";
  const struct {
    std::vector<std::string> lines;
    bool newline;
    std::string expected;
  } cases[] = {
      {{"/srv/Settings/Brimora.xml"}, false, "/srv/Settings/Brimora.xml"},
      {{"a", "b"}, false, "a\nb"},   {{"a", "b"}, true, "a\nb\n"},
      {{"a", "b\n"}, false, "a\nb\n"}, {{"a", "b\n"}, true, "a\nb\n"},  // no second line end
      {{"a", ""}, false, "a\n"},     {{"a", ""}, true, "a\n\n"},  // an empty last line is a line
      {{}, false, ""},              {{}, true, "\n"},
      {{"\xE9t\xC3\xA9", std::string("nul\0byte", 8)}, false,
       std::string("\xE9t\xC3\xA9\nnul\0byte", 13)},
  };
  for (const auto& c : cases) {
    for (const bool raw : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(c.lines) + (c.newline ? " newline" : "") +
                   (raw ? " raw" : ""));
      test::WriteFile(path, "old content that is longer than every case");
      EXPECT_TRUE(WriteLinesToFile(path, c.lines, c.newline, raw));
      EXPECT_EQ(test::ReadFile(path), c.expected);
    }
  }
}

TEST(WriteLinesTest, FailuresAreReported) {
  const test::TempFolder dir;
  EXPECT_FALSE(WriteLinesToFile(dir / "missing/out.txt", {"x"}, false, false));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_FALSE(WriteLinesToFile(dir.Path(), {"x"}, false, false));
  // A full disk shows only when the buffer is flushed at the close.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_FALSE(WriteLinesToFile("/dev/full", {"x"}, false, false));
  EXPECT_FALSE(WriteLinesToFile("/dev/full", {}, true, true));
  EXPECT_FALSE(WriteLinesToFile("/dev/full", {std::string(1 << 20, 'x'), "y"}, true, false));
}

}  // namespace
}  // namespace brimora
