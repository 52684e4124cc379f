#include "common/settings_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "common/format.h"
#include "common/trace_log.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs each test in <temp>/Execute with the trace log started, so its lines land in <temp>/Logs.
class SettingsFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "Execute");
    fs::create_directories(dir_ / "Logs");
    fs::current_path(dir_ / "Execute");
    InitTraceLog("SettingsFolderTest", false);
  }
  void TearDown() override {
    ShutdownTraceLog();
    fs::current_path(savedCwd_);
  }

  std::string WriteFile(const std::string& name, const std::string& content) {
    test::WriteFile(dir_ / name, content);
    return dir_ / name;
  }

  // Reads `key` (without a section unless given) with the usual 260-character buffer.
  std::string Read(const std::string& content, const std::string& key,
                   const std::string& section = "", std::size_t size = 260) {
    const std::string path = WriteFile("config.ini", content);
    std::string out;
    EXPECT_EQ(ReadProfileString(section, key, "DEFAULT", out, size, path), kProfileRead);
    return out;
  }

  // Everything the trace log received so far; stops the log to put every line on disk.
  std::string TraceLog() {
    ShutdownTraceLog();
    return test::ReadFile(dir_ / "Logs/SettingsFolderTestLog.txt");
  }

  const fs::path savedCwd_ = fs::current_path();
  test::TempFolder dir_;
};

// Holds an exclusive flock on a file from a second process (util-linux flock running cat, which
// waits for its input to close) until Release or destruction.
class FlockHolder {
 public:
  explicit FlockHolder(const std::string& path)
      : pipe_(popen(("exec flock -x '" + path + "' cat").c_str(), "w")) {
    if (pipe_ == nullptr) return;
    // Wait until the holder has the lock, so the reader meets it for its whole wait.
    platform::LockedFile probe;
    for (int i = 0; i < 10000 && probe.Open(path, 0) != platform::FileLockResult::kTimedOut; ++i) {
      probe.Close();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~FlockHolder() { Release(); }
  bool Started() const { return pipe_ != nullptr; }
  void Release() {
    if (pipe_ != nullptr) pclose(pipe_);
    pipe_ = nullptr;
  }

 private:
  FILE* pipe_;
};

bool HaveFlockCommand() { return std::system("command -v flock >/dev/null") == 0; }

TEST_F(SettingsFolderTest, LineMatching) {
  const struct {
    std::string content, section, expected;
  } cases[] = {
      {"  brimorasettingsfolder = X\n", "", "X"},
      {"Brimora Settings Folder=X\n", "", "X"},
      {"BrimoraSettingsFolder= X \t \r\n", "", "X"},
      {"BrimoraSettingsFolder=a b  c \n", "", "a b  c"},
      {"BrimoraSettingsFolder=X", "", "X"},  // last line without a line end
      {"BrimoraSettingsFolderOld=Y\nBrimoraSettingsFolder=X\n", "", "X"},
      {"BrimoraSettingsFolder=\n", "", ""},  // an empty value is a value
      {"BrimoraSettingsFolder==X\n", "", "=X"},
      // Without a section argument the first occurrence wins, whatever section it stands in.
      {"[A]\nBrimoraSettingsFolder=a\n[B]\nBrimoraSettingsFolder=b\n", "", "a"},
      {"[A]\nBrimoraSettingsFolder=a\n[B]\nBrimoraSettingsFolder=b\n", "[b]", "b"},
      {"[A]\nBrimoraSettingsFolder=a\n[B]  \r\nBrimoraSettingsFolder=b\n", "[B]", "b"},
      {"[A]\nBrimoraSettingsFolder=a\n[B]\nBrimoraSettingsFolder=b\n", "B", "DEFAULT"},
      // The next section header ends the search; a header with leading blanks is not one.
      {"[A]\nOther=1\n[B]\nBrimoraSettingsFolder=b\n", "[A]", "DEFAULT"},
      {"[A]\nOther=1\n [B]\nBrimoraSettingsFolder=b\n", "[A]", "b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.content, "BrimoraSettingsFolder", c.section), c.expected)
        << "content '" << c.content << "' section '" << c.section << "'";
  }
}

TEST_F(SettingsFolderTest, ByteOrderMarkIsSkippedOnlyAtTheStartOfTheFile) {
  const std::string bom = "\xEF\xBB\xBF";
  const struct {
    std::string content, section, expected;
  } cases[] = {
      {bom + "BrimoraSettingsFolder=X\n", "", "X"},
      {bom + "[Settings]\nBrimoraSettingsFolder=X\n", "[Settings]", "X"},
      {bom + "\nBrimoraSettingsFolder=X\n", "", "X"},
      {bom, "", "DEFAULT"},
      // Anywhere else the mark is text and keeps the line from matching.
      {bom + bom + "BrimoraSettingsFolder=X\n", "", "DEFAULT"},
      {"A=1\n" + bom + "BrimoraSettingsFolder=X\n", "", "DEFAULT"},
      {"\xEF\xBB" "BrimoraSettingsFolder=X\n", "", "DEFAULT"},
      // The mark does not count towards the first piece: the line is 8,191 bytes without it.
      {bom + std::string(8191, 'x') + "BrimoraSettingsFolder=X\n", "", "X"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.content, "BrimoraSettingsFolder", c.section), c.expected)
        << "content '" << c.content.substr(0, 40) << "'";
  }
}

TEST_F(SettingsFolderTest, ValuesAreCutByCharactersAndLongLinesReadInPieces) {
  std::string euros;
  for (int i = 0; i < 300; ++i) euros += "\xE2\x82\xAC";
  const struct {
    std::string content;
    std::size_t size;
    std::string expected;
  } cases[] = {
      {"K=" + std::string(300, 'v') + "\n", 260, std::string(259, 'v')},
      {"K=" + euros + "\n", 260, euros.substr(0, 259 * 3)},  // characters, never half of one
      {"K=ab   cd\n", 6, "ab"},                               // trailing blanks go after the cut
      // The value after an 8,191-byte piece of an over-long line counts as a line of its own.
      {std::string(8191, 'x') + "K=tail\n", 260, "tail"},
      // A piece never ends inside a UTF-8 sequence: the euro sign straddling the limit stays whole.
      {"K=" + std::string(8188, 'a') + "\xE2\x82\xAC\n", 100000, std::string(8188, 'a')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.content, "K", "", c.size), c.expected) << c.content.substr(0, 30);
  }
  // The lead byte of a sequence cut at a piece's end starts the next piece with the rest.
  EXPECT_EQ(Read(std::string(8190, 'x') + "\xC3\xA9=v\n", "\xC3\xA9"), "v");
  // The default is cut the same way, and a zero-sized buffer holds only the end mark.
  std::string out;
  ReadProfileString("", "", "abcdef", out, 4, WriteFile("x.ini", ""));
  EXPECT_EQ(out, "abc");
  ReadProfileString("", "K", "abcdef", out, 0, WriteFile("x.ini", "K=v\n"));
  EXPECT_EQ(out, "");
}

// What cannot be read answers status 7 with the default. Only a missing file is quiet: anything
// else in the file's place is named in a level-0 line, so the default never comes in silently.
TEST_F(SettingsFolderTest, WhatCannotBeReadGivesTheDefaultAndOnlyAMissingFileIsQuiet) {
  const std::string target = WriteFile("real.ini", "K=linked\n");
  fs::create_symlink(target, dir_ / "link.ini");
  fs::create_symlink(dir_ / "gone.ini", dir_ / "dangling.ini");
  ASSERT_EQ(mkfifo((dir_ / "fifo.ini").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder.ini");
  const std::string tooLong = dir_ / (std::string(300, 'x') + ".ini");  // beyond NAME_MAX
  const struct {
    std::string key, path;
    int status;
    std::string line;  // expected in the trace log; empty: nothing about this path
  } cases[] = {
      {"", dir_ / "none.ini", kProfileRead, ""},  // an empty key never touches the file
      {"K", dir_ / "none.ini", kProfileUnavailable, ""},
      {"K", dir_ / "nofolder/config.ini", kProfileUnavailable, ""},
      {"K", dir_ / "link.ini", kProfileUnavailable, Format(kProfileNotRegularFile, dir_ / "link.ini")},
      {"K", dir_ / "dangling.ini", kProfileUnavailable,
       Format(kProfileNotRegularFile, dir_ / "dangling.ini")},
      {"K", dir_ / "fifo.ini", kProfileUnavailable, Format(kProfileNotRegularFile, dir_ / "fifo.ini")},
      {"K", dir_ / "folder.ini", kProfileUnavailable,
       Format(kProfileNotRegularFile, dir_ / "folder.ini")},
      {"K", tooLong, kProfileUnavailable,
       Format(kProfileOpenFailed, tooLong, ENAMETOOLONG, platform::ErrorText(ENAMETOOLONG))},
  };
  for (const auto& c : cases) {
    std::string out = "junk";
    EXPECT_EQ(ReadProfileString("", c.key, "def", out, 260, c.path), c.status) << c.path;
    EXPECT_EQ(out, "def") << c.path;
  }
  const std::string trace = TraceLog();
  for (const auto& c : cases) {
    if (c.line.empty()) {
      EXPECT_EQ(trace.find(c.path + "\""), std::string::npos) << c.path << " in\n" << trace;
    } else {
      EXPECT_NE(trace.find(c.line), std::string::npos) << c.line << " not in\n" << trace;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "gone.ini")) << "nothing is created through a link";
  EXPECT_EQ(test::ReadFile(target), "K=linked\n");
}

TEST_F(SettingsFolderTest, NamesWithoutFolderRestOnWorkingFolder) {
  WriteFile("config.ini", "K=parent\n");
  WriteFile("Execute/config.ini", "K=here\n");
  std::string plain, virtualStore;
  ReadProfileString("", "K", "def", plain, 260, "config.ini");
  ReadProfileString("", "K", "def", virtualStore, 260, "/VANTREL.APP/Config.INI");
  EXPECT_EQ(plain, "here");
  EXPECT_EQ(virtualStore, "parent");  // the virtual-store name means ../config.ini
}

TEST_F(SettingsFolderTest, GetSettingsFolder) {
  const std::string install = dir_ / "Brimora";
  fs::create_directories(install);
  // Without config.ini the default applies.
  EXPECT_EQ(GetSettingsFolder(install), install + "/../LornithData/Settings");

  const struct {
    std::string line, expected;
  } cases[] = {
      {"BrimoraSettingsFolder=/data/settings", "/data/settings"},
      {"BrimoraSettingsFolder= ../Other  ", install + "/../Other"},
      {"BrimoraSettingsFolder=Data/Settings", "Data/Settings"},
      {"Unrelated=1", install + "/../LornithData/Settings"},
  };
  for (const auto& c : cases) {
    test::WriteFile(install + "/config.ini", "[Settings]\n" + c.line + "\n");
    EXPECT_EQ(GetSettingsFolder(install), c.expected) << c.line;
  }
  // A config.ini that is a link is not read through: the default applies, and is logged.
  fs::remove(install + "/config.ini");
  WriteFile("elsewhere.ini", "BrimoraSettingsFolder=/data/elsewhere\n");
  fs::create_symlink(dir_ / "elsewhere.ini", install + "/config.ini");
  EXPECT_EQ(GetSettingsFolder(install), install + "/../LornithData/Settings");
}

TEST_F(SettingsFolderTest, LockOfTheFileHeldByAnotherProcessGivesTheDefaultAndALogLine) {
  if (!HaveFlockCommand()) GTEST_SKIP() << "flock is missing";
  const std::string install = dir_ / "Brimora";
  const std::string ini = install + "/config.ini";
  test::WriteFile(ini, "BrimoraSettingsFolder=/data/settings\n");
  FlockHolder holder(ini);
  ASSERT_TRUE(holder.Started());

  std::string out;
  const auto start = Clock::now();
  const int status = ReadProfileString("", kSettingsFolderKey, "def", out, 260, ini);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(status, kProfileUnavailable);
  EXPECT_EQ(out, "def");
  EXPECT_GE(waited, std::chrono::milliseconds(kProfileLockTimeoutMs - 50)) << "it must wait";
  EXPECT_LT(waited, std::chrono::milliseconds(kProfileLockTimeoutMs + 2000)) << "and not longer";
  EXPECT_EQ(GetSettingsFolder(install), install + "/../LornithData/Settings");

  holder.Release();  // the holder ends, and the kernel drops its lock
  EXPECT_EQ(ReadProfileString("", kSettingsFolderKey, "def", out, 260, ini), kProfileRead);
  EXPECT_EQ(out, "/data/settings");

  const std::string trace = TraceLog();
  const std::string line = Format(kProfileLockTimedOut, ini, kProfileLockTimeoutMs);
  const std::size_t first = trace.find(line);
  EXPECT_NE(first, std::string::npos) << line << " not in\n" << trace;
  EXPECT_NE(trace.find(line, first + 1), std::string::npos) << "one line for each read";
}

// A lock file of the INI file's upper-case name in the temporary folder is nothing to the reader.
TEST_F(SettingsFolderTest, LockOnAFileOfTheSameNameInTheTemporaryFolderDoesNotMatter) {
  if (!HaveFlockCommand()) GTEST_SKIP() << "flock is missing";
  const std::optional<std::string> previousTmpDir =
      std::getenv("TMPDIR") ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;
  fs::create_directory(dir_ / "tmp");
  setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  const std::string ini = WriteFile("config.ini", "K=value\n");
  FlockHolder holder(dir_ / "tmp/CONFIG.INI");
  ASSERT_TRUE(holder.Started());
  ASSERT_TRUE(fs::exists(dir_ / "tmp/CONFIG.INI"));

  std::string out;
  const auto start = Clock::now();
  EXPECT_EQ(ReadProfileString("", "K", "def", out, 260, ini), kProfileRead);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kProfileLockTimeoutMs / 2));
  EXPECT_EQ(out, "value");
  previousTmpDir ? setenv("TMPDIR", previousTmpDir->c_str(), 1) : unsetenv("TMPDIR");
}

}  // namespace
}  // namespace brimora
