#include "common/write_lines.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/backup_log.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

TEST(WriteLinesTest, ContentsForEveryFlagAndOnlyIntoARegularFile) {
  const test::TempFolder dir;
  const std::string path = dir / "out.txt";
  const struct { std::vector<std::string> lines; bool newline; std::string expected; } cases[] = {
      {{"/srv/Settings/Brimora.xml"}, false, "/srv/Settings/Brimora.xml"},
      {{"a", "b"}, false, "a\nb"},     {{"a", "b"}, true, "a\nb\n"},
      {{"a", "b\n"}, false, "a\nb\n"}, {{"a", "b\n"}, true, "a\nb\n"},  // no second line end
      {{"a", ""}, false, "a\n"},       {{"a", ""}, true, "a\n\n"},  // an empty last line is a line
      {{}, false, ""},                 {{}, true, "\n"},
      {{"\xE9t\xC3\xA9", std::string("nul\0byte", 8)}, false, std::string("\xE9t\xC3\xA9\nnul\0byte", 13)},
  };
  for (const auto& c : cases) {
    test::WriteFile(path, "old content that is longer than every case");
    EXPECT_TRUE(WriteLinesToFile(path, c.lines, c.newline, false));
    EXPECT_EQ(test::ReadFile(path), c.expected) << testing::PrintToString(c.lines) << (c.newline ? " newline" : "");
  }
  const mode_t saved = umask(027);  // a new file has mode 0666 less the umask
  EXPECT_TRUE(WriteLinesToFile(dir / "new.txt", {"x"}, false, false));
  umask(saved);
  EXPECT_EQ(fs::status(dir / "new.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // What is not a regular file is refused, never followed, truncated or waited on.
  const std::string target = dir / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  fs::create_symlink(target, dir / "linked.txt");
  fs::create_symlink(dir / "never-created.txt", dir / "dangling.txt");
  fs::create_hard_link(target, dir / "hard-linked.txt");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct { std::string path; int error; } refused[] = {
      {dir / "linked.txt", ELOOP}, {dir / "dangling.txt", ELOOP}, {dir / "fifo", ENXIO}, {"/dev/null", ENXIO},
      {dir.Path(), EISDIR},        {dir / "missing/out.txt", ENOENT}, {dir / "hard-linked.txt", EMLINK},
  };
  for (const auto& c : refused) {
    int error = 0;
    EXPECT_FALSE(WriteLinesToFile(c.path, {"/srv/Settings/Brimora.xml"}, true, false, &error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  EXPECT_EQ(test::ReadFile(target), "precious\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "never-created.txt")));
}

// A full disk shows when a write fails, or only when buffered bytes are flushed.
TEST(WriteLinesTest, FullDiskIsReportedByEveryWriter) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const test::TempFolder dir;
  const std::string small = dir / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount tmpfs here: " << std::strerror(errno);
  }
  int error = 0;
  EXPECT_FALSE(WriteLinesToFile(small + "/big.txt", {"x", std::string(1 << 20, 'y')}, true, false, &error));
  EXPECT_EQ(error, ENOSPC);
  error = 0;
  EXPECT_FALSE(WriteLinesToFile(small + "/small.txt", {"x"}, false, false, &error));
  EXPECT_EQ(error, ENOSPC);
  CBackupLog log;
  EXPECT_TRUE(log.Open(small + "/BackupLog.log"));
  EXPECT_FALSE(log.WriteText(1, "a short line"));
  umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace brimora
