#include "common/write_lines.h"

#include <fcntl.h>
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

TEST(WriteLinesTest, RefusesWhatIsNotARegularFileWithoutFollowingOrBlocking) {
  const test::TempFolder dir;
  const std::string target = dir / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  fs::create_symlink(target, dir / "linked.txt");
  fs::create_symlink(dir / "never-created.txt", dir / "dangling.txt");
  fs::create_hard_link(target, dir / "hard-linked.txt");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir / "read-fifo").c_str(), 0600), 0);
  // A FIFO somebody is reading opens without waiting and must still be refused.
  const int reader = open((dir / "read-fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);

  const struct {
    std::string path;
    int error;
  } cases[] = {
      {dir / "linked.txt", ELOOP},         {dir / "dangling.txt", ELOOP},
      {dir / "fifo", ENXIO},               {dir / "read-fifo", ENXIO},
      {dir.Path(), EISDIR},                {dir / "missing/out.txt", ENOENT},
      {"/dev/null", ENXIO},                {dir / "hard-linked.txt", EMLINK},
  };
  for (const auto& c : cases) {
    for (const bool raw : {false, true}) {
      SCOPED_TRACE(c.path + (raw ? " raw" : ""));
      int error = 0;
      EXPECT_FALSE(WriteLinesToFile(c.path, {"/srv/Settings/Brimora.xml"}, true, raw, &error));
      EXPECT_EQ(error, c.error);
    }
  }
  char byte;
  EXPECT_EQ(read(reader, &byte, 1), 0) << "nothing reached the FIFO's reader";
  close(reader);
  EXPECT_EQ(test::ReadFile(target), "precious\n");
  EXPECT_TRUE(fs::is_symlink(dir / "linked.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "never-created.txt")));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(WriteLinesTest, NewFileHasTheUsualModeAndAFullDiskIsReported) {
  const test::TempFolder dir;
  const mode_t saved = umask(027);
  EXPECT_TRUE(WriteLinesToFile(dir / "new.txt", {"x"}, false, false));
  umask(saved);
  EXPECT_EQ(fs::status(dir / "new.txt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::string small = dir / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount tmpfs here: " << std::strerror(errno);
  }
  int error = 0;
  EXPECT_FALSE(WriteLinesToFile(small + "/big.txt", {"x", std::string(1 << 20, 'y')}, true,
                                false, &error));
  EXPECT_EQ(error, ENOSPC);
  // A line that fits the buffer meets the full disk only when it is flushed at the close.
  error = 0;
  EXPECT_FALSE(WriteLinesToFile(small + "/small.txt", {"x"}, false, false, &error));
  EXPECT_EQ(error, ENOSPC);
  // The backup log meets it when it flushes its line.
  CBackupLog log;
  EXPECT_TRUE(log.Open(small + "/BackupLog.log"));
  EXPECT_FALSE(log.WriteText(1, "a short line"));
  umount2(small.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace brimora
