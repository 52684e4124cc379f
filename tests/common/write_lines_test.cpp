#include "common/write_lines.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace brimora {
namespace {

namespace fs = std::filesystem;

class WriteLinesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "write_lines_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path() const { return (dir_ / "out.txt").string(); }

  std::string Contents() const {
    std::ifstream in(Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
};

TEST_F(WriteLinesTest, ContentsForEveryFlag) {
  struct Case {
    std::vector<std::string> lines;
    bool newline;
    std::string expected;
  };
  const Case cases[] = {
      {{"/srv/brimora/Settings/Brimora.xml"}, false, "/srv/brimora/Settings/Brimora.xml"},
      {{"a", "b"}, false, "a\nb"},
      {{"a", "b"}, true, "a\nb\n"},
      {{"a", "b\n"}, true, "a\nb\n"},  // no second line end
      {{"a", "b\n"}, false, "a\nb\n"},
      {{"a", ""}, true, "a\n\n"},      // an empty last line still gets its line end
      {{"a", ""}, false, "a\n"},
      {{}, false, ""},
      {{}, true, "\n"},
      {{"\xE9t\xC3\xA9", std::string("nul\0byte", 8)}, false,
       std::string("\xE9t\xC3\xA9\nnul\0byte", 13)},
  };
  for (const Case& c : cases) {
    for (const bool raw : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(c.lines) + (c.newline ? " newline" : "") +
                   (raw ? " raw" : ""));
      std::ofstream(Path()) << "old content that is longer than every case";
      EXPECT_TRUE(WriteLinesToFile(Path(), c.lines, c.newline, raw));
      EXPECT_EQ(Contents(), c.expected);
    }
  }
}

TEST_F(WriteLinesTest, FailuresAreReported) {
  EXPECT_FALSE(WriteLinesToFile((dir_ / "missing" / "out.txt").string(), {"x"}, false, false));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_FALSE(WriteLinesToFile(dir_.string(), {"x"}, false, false));
  // A full disk shows only when the buffer is flushed at the close.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_FALSE(WriteLinesToFile("/dev/full", {"x"}, false, false));
  EXPECT_FALSE(WriteLinesToFile("/dev/full", {}, true, true));
  EXPECT_FALSE(WriteLinesToFile("/dev/full", {std::string(1 << 20, 'x'), "y"}, true, false));
}

}  // namespace
}  // namespace brimora
