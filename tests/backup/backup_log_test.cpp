#include "backup/backup_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/trace_log.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

constexpr char kBom[] = "\xEF\xBB\xBF";
// Every line is the time ("Wed Jan 02 02:03:55 1980"), a tab, the message and "\n".
constexpr std::uintmax_t kFrame = 24 + 1 + 1;

std::string Repeat(const std::string& text, std::size_t count) {
  std::string repeated;
  for (std::size_t i = 0; i < count; ++i) repeated += text;
  return repeated;
}

// A temporary folder with "Execute" as working folder (the trace log writes to "../Logs"), and
// the trace log started so that lines sent to it can be read back.
class BackupLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "Execute");
    fs::current_path(folder_ / "Execute");
    InitTraceLog("BackupLogTest", false);
  }
  void TearDown() override {
    ShutdownTraceLog();
    fs::current_path(saved_);
  }

  // The messages of the log's lines, after checking the mark and each line's shape.
  std::vector<std::string> Messages() {
    const std::string text = ReadFile(path_);
    EXPECT_EQ(text.substr(0, 3), kBom);
    EXPECT_TRUE(text.ends_with('\n')) << "the last line is ended too";
    static const std::regex kTime(
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\t");
    std::vector<std::string> lines = test::ReadLines(path_);
    if (!lines.empty()) lines[0].erase(0, 3);
    for (std::string& line : lines) {
      EXPECT_TRUE(line.size() >= 25 && std::regex_match(line.substr(0, 25), kTime))
          << "malformed line: " << line.substr(0, 80);
      line.erase(0, 25);
    }
    return lines;
  }
  // A log of `size` bytes that costs no disk space.
  void MakeSparseLog(std::uintmax_t size) {
    std::ofstream(path_, std::ios::binary).put('x');
    fs::resize_file(path_, size);
  }

  const fs::path saved_ = fs::current_path();
  test::TempFolder temp_;
  const fs::path folder_{temp_.Path()};
  const fs::path path_ = folder_ / "BackupLog.log", previous_ = folder_ / "BackupLog_prev.log";
};

TEST_F(BackupLogTest, LinesCarryTimeTabAndOneLineEnd) {
  {
    CBackupLog log;
    ASSERT_TRUE(log.Open(path_.string()));
    EXPECT_EQ(ReadFile(path_), kBom) << "a new file starts with the mark";
    EXPECT_TRUE(log.Write(1, "Backup %s - Backing up Configuration Files.\n", "/b1"));
    EXPECT_TRUE(log.WriteText(0, "100% no line end"));
  }
  CBackupLog log;  // continues the file without a second mark
  ASSERT_TRUE(log.Open(path_.string()));
  EXPECT_TRUE(log.WriteText(1, std::string(10000, 'a')));
  std::string twoByte;
  for (int i = 0; i < 9000; ++i) twoByte += "\xC3\xA9";
  EXPECT_TRUE(log.WriteText(1, twoByte));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Backup /b1 - Backing up Configuration Files.",
                                                  "100% no line end", std::string(8189, 'a'),
                                                  twoByte.substr(0, 2 * 8189)}));
}

TEST_F(BackupLogTest, ControlCharactersAreEscapedSoEveryMessageIsOneLine) {
  const std::string a8188(8188, 'a');
  const std::pair<std::string, std::string> cases[] = {  // message, line written
      {"Backup - \"/srv/docs/x\nssh-ed25519 AAAA attacker\n\" is a FIFO\n",
       "Backup - \"/srv/docs/x\\nssh-ed25519 AAAA attacker\\n\" is a FIFO"},
      {std::string("a\rb\tc\x1b[2J\x7f\0d", 12), "a\\rb\\tc\\x1B[2J\\x7F\\x00d"},
      {"two line ends\n\n", "two line ends\\n"},
      {"\n", ""},
      {"C:\\QXR\\Brimora", "C:\\QXR\\Brimora"},
      // The cut comes first and the escapes after it, so an escape is never cut in two.
      {a8188 + "\x1b[31m", a8188 + "\\x1B"},
      {std::string(8190, '\x01'), Repeat("\\x01", 8189)},
      {a8188 + "\nzz", a8188},
  };
  CBackupLog log;
  ASSERT_TRUE(log.Open(path_.string()));
  std::vector<std::string> expected;
  for (const auto& [message, written] : cases) {
    EXPECT_TRUE(log.WriteText(1, message));
    expected.push_back(written);
  }
  EXPECT_EQ(Messages(), expected);
  const std::string text = ReadFile(path_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::ssize(cases))
      << "one line end per message";
}

TEST_F(BackupLogTest, LinkOrFifoInPlaceOfTheLogIsNeverWritten) {
  const fs::path target = folder_ / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  CBackupLog log;

  // A link at the path when the log is opened: no file, so the lines go to the trace log.
  fs::create_symlink(target, path_);
  EXPECT_FALSE(log.Open(path_.string()));
  EXPECT_TRUE(log.WriteText(1, "to the trace log while\nlinked"));
  fs::remove(path_);
  fs::create_symlink(folder_ / "never-created.txt", path_);
  EXPECT_FALSE(log.Open(path_.string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder_ / "never-created.txt")));

  // A link planted after the open: the reopen for the next line refuses it.
  fs::remove(path_);
  ASSERT_TRUE(log.Open(path_.string()));
  EXPECT_TRUE(log.WriteText(1, "first line"));
  fs::rename(path_, folder_ / "moved.log");
  fs::create_symlink(target, path_);
  EXPECT_FALSE(log.WriteText(1, "lost line"));
  testing::internal::CaptureStderr();  // the level-0 echo
  EXPECT_TRUE(log.WriteText(0, "to the trace log after the link"));
  testing::internal::GetCapturedStderr();

  // A FIFO, without and with a reader: refused at once.
  fs::remove(path_);
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  EXPECT_FALSE(log.Open(path_.string()));
  const int reader = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_FALSE(log.Open(path_.string()));
  char byte;
  EXPECT_EQ(read(reader, &byte, 1), 0) << "nothing reached the FIFO's reader";
  close(reader);

  EXPECT_EQ(ReadFile(target), "precious\n");
  ShutdownTraceLog();
  const std::string trace = ReadFile(folder_ / "Logs" / "BackupLogTestLog.txt");
  EXPECT_NE(trace.find("to the trace log while\\nlinked\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("to the trace log after the link"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("lost line"), std::string::npos) << trace;
}

TEST_F(BackupLogTest, RotatesWhenBytesPlusLineCharactersExceedTheLimit) {
  const std::string e4 = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";  // 4 characters, 8 bytes
  const struct {
    std::string message;
    std::uintmax_t room;  // bytes missing from the limit before the write
    bool rotates;
    std::uintmax_t lineBytes;
  } cases[] = {
      {"abc", kFrame + 3, false, kFrame + 3},   // size plus characters is exactly the limit
      {"abc", kFrame + 2, true, kFrame + 3},    // one more
      {"abc\n", kFrame + 3, false, kFrame + 3}, // the given line end counts once
      {e4, kFrame + 4, false, kFrame + 8},      // characters count, not bytes
      {e4, kFrame + 3, true, kFrame + 8},
      {std::string(20000, 'z'), kFrame + 8189, false, kFrame + 8189},  // the cut line counts
      {"a\tb", kFrame + 4, false, kFrame + 4},  // the line as written, with its escape, counts
      {"a\tb", kFrame + 3, true, kFrame + 4},
  };
  for (const auto& c : cases) {
    const std::string name = c.message.substr(0, 8) + " room " + std::to_string(c.room);
    fs::remove(previous_);
    const std::uintmax_t before = CBackupLog::kRotationLimit - c.room;
    MakeSparseLog(before);
    CBackupLog log;
    ASSERT_TRUE(log.Open(path_.string())) << name;
    EXPECT_TRUE(log.WriteText(1, c.message)) << name;
    EXPECT_EQ(fs::exists(previous_), c.rotates) << name;
    EXPECT_EQ(c.rotates ? fs::file_size(previous_) : before, before) << name;
    EXPECT_EQ(fs::file_size(path_), (c.rotates ? 3 : before) + c.lineBytes) << name;
  }
}

TEST_F(BackupLogTest, OnlyOnePreviousGenerationIsKept) {
  test::WriteFile(previous_, "oldest");
  MakeSparseLog(CBackupLog::kRotationLimit);
  CBackupLog log;
  ASSERT_TRUE(log.Open(path_.string()));
  EXPECT_TRUE(log.WriteText(1, "first"));
  fs::resize_file(path_, CBackupLog::kRotationLimit);  // the new generation fills up too
  EXPECT_TRUE(log.WriteText(1, "second"));
  EXPECT_EQ(ReadFile(previous_).substr(0, 3), kBom) << "the first rotation's new file is kept";
  EXPECT_EQ(Messages(), std::vector<std::string>{"second"});
}

TEST_F(BackupLogTest, MessagesGoToTheTraceLogWhileNoFileIsOpen) {
  CBackupLog log;
  EXPECT_FALSE(log.Open((folder_ / "missing" / "BackupLog.log").string()));
  EXPECT_TRUE(log.Write(1, "Backup %s - to the trace log\n", "/b1"));

  // A log that cannot be reopened loses that line and sends the following ones to the trace log.
  fs::create_directories(folder_ / "gone");
  ASSERT_TRUE(log.Open((folder_ / "gone" / "BackupLog.log").string()));
  fs::remove_all(folder_ / "gone");
  EXPECT_FALSE(log.WriteText(1, "lost line"));
  EXPECT_TRUE(log.WriteText(0, "after the failure"));

  ShutdownTraceLog();
  const std::string trace = ReadFile(folder_ / "Logs" / "BackupLogTestLog.txt");
  EXPECT_NE(trace.find("Backup /b1 - to the trace log"), std::string::npos) << trace;
  EXPECT_NE(trace.find("after the failure"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("lost line"), std::string::npos) << trace;
}

}  // namespace
}  // namespace brimora
