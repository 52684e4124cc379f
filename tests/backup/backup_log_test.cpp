#include "backup/backup_log.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "common/log_folder_fixture.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

constexpr char kBom[] = "\xEF\xBB\xBF";
// Every line is the time ("Wed Jan 02 02:03:55 1980"), a tab, the message and "\n".
constexpr std::uintmax_t kFrame = 24 + 1 + 1;

// Cutting and escaping messages is tested together with the trace log's.
struct BackupLogTest : test::LogFolderTest {
  BackupLogTest() : LogFolderTest("BackupLogTest") {}

  // A name of two dots: the previous generation's name is made from the last one.
  const std::string path_ = root_ / "Backup.run.log", previous_ = root_ / "Backup.run_prev.log";
};

// A new file starts with the mark, a continued one does not. Without an open file the lines go to
// the trace log; a file that cannot be reopened loses its line, and the lines after it go to the
// trace log. A link is never written through.
TEST_F(BackupLogTest, LinesGoToTheFileOrWhileThereIsNoneToTheTraceLog) {
  CBackupLog log;
  EXPECT_FALSE(log.Open(root_ / "missing/BackupLog.log"));
  EXPECT_TRUE(log.Write(1, "Backup %s - to the trace log\n", "/b1"));
  {
    CBackupLog first;
    ASSERT_TRUE(first.Open(path_));
    EXPECT_EQ(ReadFile(path_), kBom);
    EXPECT_TRUE(first.Write(1, "Backup %s - Backing up Configuration Files.\n", "/b1"));
  }
  ASSERT_TRUE(log.Open(path_));
  EXPECT_EQ(log.Path(), path_);
  EXPECT_TRUE(log.WriteText(0, "100% no line end"));
  const std::string text = ReadFile(path_), time = "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}\t";
  EXPECT_TRUE(text.starts_with(kBom));
  EXPECT_TRUE(std::regex_match(text.substr(3), std::regex(time + "Backup /b1 - Backing up Configuration Files\\.\n" +
                                                          time + "100% no line end\n")))
      << text;

  const std::string target = root_ / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  fs::rename(path_, root_ / "moved.log");
  fs::create_symlink(target, path_);
  EXPECT_FALSE(log.WriteText(1, "lost line"));
  testing::internal::CaptureStderr();  // the level-0 echo
  EXPECT_TRUE(log.WriteText(0, "after the\nfailure"));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(target), "precious\n");
  const std::string trace = TraceText();
  EXPECT_NE(trace.find("\t1 - Backup /b1 - to the trace log\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("\t0 - after the\\nfailure\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("lost line"), std::string::npos) << trace;
}

TEST_F(BackupLogTest, RotatesWhenBytesPlusLineCharactersExceedTheLimit) {
  const std::string e4 = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";  // 4 characters, 8 bytes
  // `room`: the bytes missing from the limit before the line is written.
  const struct { std::string message; std::uintmax_t room; bool rotates; std::uintmax_t lineBytes; } cases[] = {
      {"abc", kFrame + 3, false, kFrame + 3},    // size plus characters is exactly the limit
      {"abc", kFrame + 2, true, kFrame + 3},     // one more
      {"abc\n", kFrame + 3, false, kFrame + 3},  // the given line end counts once
      {e4, kFrame + 4, false, kFrame + 8},       // characters count, not bytes
      {std::string(20000, 'z'), kFrame + 8189, false, kFrame + 8189},  // the cut line counts
      {"a\tb", kFrame + 3, true, kFrame + 4},  // the line as written, with its escape, counts
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.substr(0, 8) + " room " + std::to_string(c.room));
    test::WriteFile(previous_, "older generation");
    const std::uintmax_t before = CBackupLog::kRotationLimit - c.room;
    std::ofstream(path_, std::ios::binary).put('x');
    fs::resize_file(path_, before);  // a sparse log: no disk space taken
    CBackupLog log;
    ASSERT_TRUE(log.Open(path_));
    EXPECT_TRUE(log.WriteText(1, c.message));
    // A rotation replaces the previous generation; the new file starts with the mark.
    EXPECT_EQ(fs::file_size(previous_), c.rotates ? before : 16);
    EXPECT_EQ(fs::file_size(path_), (c.rotates ? 3 : before) + c.lineBytes);
  }
}

}  // namespace
}  // namespace brimora
