#include "app/settings_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "platform/named_lock.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

class SettingsFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "settings_folder_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // Lock files go to a folder of the test's own, so nothing is left in the shared temporary
    // folder and parallel tests never meet on a lock.
    if (const char* previous = std::getenv("TMPDIR")) previousTmpDir_ = previous;
    fs::create_directory(dir_ / "locks");
    setenv("TMPDIR", (dir_ / "locks").c_str(), 1);
  }
  void TearDown() override {
    previousTmpDir_ ? setenv("TMPDIR", previousTmpDir_->c_str(), 1) : unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }

  std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Reads `key` (without a section unless given) with the usual 260-character buffer.
  std::string Read(const std::string& content, const std::string& key,
                   const std::string& section = "", std::size_t size = 260) {
    const std::string path = WriteFile("config.ini", content);
    std::string out;
    EXPECT_EQ(ReadProfileString(section, key, "DEFAULT", out, size, path), kProfileRead);
    return out;
  }

  fs::path dir_;
  std::optional<std::string> previousTmpDir_;
};

TEST_F(SettingsFolderTest, LineMatching) {
  struct Case {
    std::string content, section, expected;
  };
  const std::string key = "BrimoraSettingsFolder";
  const Case cases[] = {
      {"  brimorasettingsfolder = X\n", "", "X"},
      {"Brimora Settings Folder=X\n", "", "X"},
      {"BrimoraSettingsFolder= X \t \r\n", "", "X"},
      {"BrimoraSettingsFolder=a b  c \n", "", "a b  c"},
      {"BrimoraSettingsFolder=X", "", "X"},  // last line without a line end
      {"BrimoraSettingsFolderOld=Y\nBrimoraSettingsFolder=X\n", "", "X"},
      {"BrimoraSettingsFolder=\n", "", ""},  // an empty value is a value
      {"BrimoraSettingsFolder==X\n", "", "=X"},
      {"BrimoraSettingsFolder=first\nBrimoraSettingsFolder=second\n", "", "first"},
      // Without a section argument the first occurrence wins, whatever section it stands in.
      {"[A]\nBrimoraSettingsFolder=a\n[B]\nBrimoraSettingsFolder=b\n", "", "a"},
      {"[A]\nBrimoraSettingsFolder=a\n[B]\nBrimoraSettingsFolder=b\n", "[b]", "b"},
      {"[A]\nBrimoraSettingsFolder=a\n[B]  \r\nBrimoraSettingsFolder=b\n", "[B]", "b"},
      {"[A]\nBrimoraSettingsFolder=a\n[B]\nBrimoraSettingsFolder=b\n", "B", "DEFAULT"},
      // The next section header ends the search; a header with leading blanks is not one.
      {"[A]\nOther=1\n[B]\nBrimoraSettingsFolder=b\n", "[A]", "DEFAULT"},
      {"[A]\nOther=1\n [B]\nBrimoraSettingsFolder=b\n", "[A]", "b"},
      {" [A]\nBrimoraSettingsFolder=a\n", "[A]", "DEFAULT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("content '" + c.content + "' section '" + c.section + "'");
    EXPECT_EQ(Read(c.content, key, c.section), c.expected);
  }
}

TEST_F(SettingsFolderTest, ValueIsCutAtBufferSize) {
  const std::string key = "K";
  EXPECT_EQ(Read("K=" + std::string(300, 'v') + "\n", key), std::string(259, 'v'));
  // Characters are counted, not bytes, and never cut in half.
  const std::string euro = "\xE2\x82\xAC";
  std::string euros;
  for (int i = 0; i < 300; ++i) euros += euro;
  EXPECT_EQ(Read("K=" + euros + "\n", key), euros.substr(0, 259 * euro.size()));
  // Trailing blanks are removed after the cut.
  EXPECT_EQ(Read("K=ab   cd\n", key, "", 6), "ab");
  // The default is cut the same way, and a zero-sized buffer holds only the end mark.
  std::string out;
  ReadProfileString("", "", "abcdef", out, 4, WriteFile("x.ini", ""));
  EXPECT_EQ(out, "abc");
  ReadProfileString("", "K", "abcdef", out, 0, WriteFile("x.ini", "K=v\n"));
  EXPECT_EQ(out, "");
}

TEST_F(SettingsFolderTest, LongLinesAreReadInPieces) {
  // The value sits after a 8,191-byte piece of an over-long line, so it counts as a line.
  const std::string longLine = std::string(8191, 'x') + "K=tail\n";
  EXPECT_EQ(Read(longLine, "K"), "tail");
  // A piece never ends inside a UTF-8 sequence: the euro sign straddling the limit stays whole.
  const std::string straddling = "K=" + std::string(8188, 'a') + "\xE2\x82\xAC\n";
  EXPECT_EQ(Read(straddling, "K", "", 100000), std::string(8188, 'a'));
}

TEST_F(SettingsFolderTest, StatusAndDefault) {
  std::string out = "junk";
  // An empty key never touches the file: status 0 with the default, even without a file.
  const std::string missing = (dir_ / "none.ini").string();
  EXPECT_EQ(ReadProfileString("", "", "def", out, 260, missing), kProfileRead);
  EXPECT_EQ(out, "def");

  const std::string unreadable[] = {missing, dir_.string()};
  for (const std::string& path : unreadable) {
    SCOPED_TRACE(path);
    out = "junk";
    EXPECT_EQ(ReadProfileString("", "K", "def", out, 260, path), kProfileUnavailable);
    EXPECT_EQ(out, "def");
  }

  // A FIFO in the place of the file must not block the reader.
  const std::string fifo = (dir_ / "fifo.ini").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadProfileString("", "K", "def", out, 260, fifo), kProfileUnavailable);
}

TEST_F(SettingsFolderTest, NamesWithoutFolderRestOnWorkingFolder) {
  fs::create_directories(dir_ / "Execute");
  WriteFile("config.ini", "K=parent\n");
  WriteFile("Execute/config.ini", "K=here\n");
  const fs::path previous = fs::current_path();
  fs::current_path(dir_ / "Execute");
  std::string plain, virtualStore;
  ReadProfileString("", "K", "def", plain, 260, "config.ini");
  ReadProfileString("", "K", "def", virtualStore, 260, "/VANTREL.APP/Config.INI");
  fs::current_path(previous);
  EXPECT_EQ(plain, "here");
  EXPECT_EQ(virtualStore, "parent");  // the virtual-store name means ../config.ini
}

TEST_F(SettingsFolderTest, GetSettingsFolder) {
  const std::string install = (dir_ / "Brimora").string();
  fs::create_directories(install);
  // Without config.ini the default applies.
  EXPECT_EQ(GetSettingsFolder(install), install + "/../LornithData/Settings");

  struct Case {
    std::string line, expected;
  };
  const Case cases[] = {
      {"BrimoraSettingsFolder=/data/settings", "/data/settings"},
      {"BrimoraSettingsFolder= ../Other  ", install + "/../Other"},
      {"BrimoraSettingsFolder=Data/Settings", "Data/Settings"},
      {"Unrelated=1", install + "/../LornithData/Settings"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::ofstream(install + "/config.ini") << "[Settings]\n" << c.line << "\n";
    EXPECT_EQ(GetSettingsFolder(install), c.expected);
  }
}

TEST_F(SettingsFolderTest, LockHeldByAnotherProcessGivesStatus7) {
  if (std::system("command -v flock >/dev/null") != 0) GTEST_SKIP() << "flock is missing";
  const std::string ini = WriteFile("lockprobe.ini", "K=value\n");
  const std::string lockName = "LOCKPROBE.INI";  // the file name in upper case
  // util-linux flock holds the lock file while cat waits for its input to close.
  const std::string lockFile = platform::CrossProcessLock::LockFilePath(lockName);
  FILE* holder = popen(("exec flock -x '" + lockFile + "' cat").c_str(), "w");
  ASSERT_NE(holder, nullptr);
  platform::CrossProcessLock probe;
  for (int i = 0; i < 10000 && probe.Acquire(lockName, 0); ++i) {
    probe.Release();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::string out;
  EXPECT_EQ(ReadProfileString("", "K", "def", out, 260, ini), kProfileUnavailable);
  EXPECT_EQ(out, "def");
  pclose(holder);
  EXPECT_EQ(ReadProfileString("", "K", "def", out, 260, ini), kProfileRead);
  EXPECT_EQ(out, "value");
}

}  // namespace
}  // namespace brimora
