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

#include "platform/named_lock.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

class SettingsFolderTest : public testing::Test {
 protected:
  // Lock files go to a folder of the test's own, so nothing is left in the shared temporary
  // folder and parallel tests never meet on a lock.
  void SetUp() override {
    if (const char* previous = std::getenv("TMPDIR")) previousTmpDir_ = previous;
    fs::create_directory(dir_ / "locks");
    setenv("TMPDIR", (dir_ / "locks").c_str(), 1);
  }
  void TearDown() override {
    previousTmpDir_ ? setenv("TMPDIR", previousTmpDir_->c_str(), 1) : unsetenv("TMPDIR");
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

  test::TempFolder dir_;
  std::optional<std::string> previousTmpDir_;
};

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
  // The default is cut the same way, and a zero-sized buffer holds only the end mark.
  std::string out;
  ReadProfileString("", "", "abcdef", out, 4, WriteFile("x.ini", ""));
  EXPECT_EQ(out, "abc");
  ReadProfileString("", "K", "abcdef", out, 0, WriteFile("x.ini", "K=v\n"));
  EXPECT_EQ(out, "");
}

TEST_F(SettingsFolderTest, StatusAndDefault) {
  ASSERT_EQ(mkfifo((dir_ / "fifo.ini").c_str(), 0600), 0);
  const struct {
    std::string key, path;
    int status;
  } cases[] = {
      {"", dir_ / "none.ini", kProfileRead},  // an empty key never touches the file
      {"K", dir_ / "none.ini", kProfileUnavailable},
      {"K", dir_.Path(), kProfileUnavailable},
      {"K", dir_ / "fifo.ini", kProfileUnavailable},  // must not block on the FIFO
  };
  for (const auto& c : cases) {
    std::string out = "junk";
    EXPECT_EQ(ReadProfileString("", c.key, "def", out, 260, c.path), c.status) << c.path;
    EXPECT_EQ(out, "def") << c.path;
  }
}

TEST_F(SettingsFolderTest, NamesWithoutFolderRestOnWorkingFolder) {
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
