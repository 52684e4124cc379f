#include "common/settings_folder.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/log_folder_fixture.h"
#include "platform/file_lock.h"
#include "platform/files.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct SettingsFolderTest : test::LogFolderTest {
  SettingsFolderTest() : LogFolderTest("SettingsFolderTest") {}
  std::string WriteFile(const std::string& name, const std::string& content) {
    test::WriteFile(root_ / name, content);
    return root_ / name;
  }
};

TEST_F(SettingsFolderTest, ValueOfTheFirstMatchingLine) {
  const std::string bom = "\xEF\xBB\xBF", a8188(8188, 'a'), x8191(8191, 'x'), euro = "\xE2\x82\xAC";
  const struct { std::string content, section, expected; std::size_t size = 260; std::string key = "K"; } cases[] = {
      // White space anywhere in the key and letter case are ignored; inner blanks of the value stay.
      {"  brimora Settings folder = a b  c \t \r\n", "", "a b  c", 260, kSettingsFolderKey},
      {"KOld=Y\nK=X", "", "X"},  // the last line without a line end
      {"K=\n", "", ""},          // an empty value is a value
      // Without a section the first occurrence wins, whatever section it stands in; the next
      // section header ends the search; a header with leading blanks is not one.
      {"[A]\nK=a\n[B]\nK=b\n", "", "a"}, {"[A]\nK=a\n[B]  \r\nK=b\n", "[b]", "b"}, {"[A]\nK=a\n[B]\nK=b\n", "B", "D"},
      {"[A]\nOther=1\n[B]\nK=b\n", "[A]", "D"}, {"[A]\nOther=1\n [B]\nK=b\n", "[A]", "b"},
      // A byte-order mark is skipped only as the first bytes, and does not count towards a piece.
      {bom + "K=X\n", "", "X"}, {bom + bom + "K=X\n", "", "D"}, {"A=1\n" + bom + "K=X\n", "", "D"},
      {bom + x8191 + "K=X\n", "", "X"},
      // At most size - 1 characters, never half of one; trailing blanks go after the cut.
      {"K=" + std::string(300, 'v') + "\n", "", std::string(259, 'v')}, {"K=ab   cd\n", "", "ab", 6},
      {"K=" + euro + euro + euro + euro + "\n", "", euro + euro + euro, 4},
      // Lines are read in pieces of 8,191 bytes; a UTF-8 sequence at a piece's end starts the next.
      {x8191 + "K=tail\n", "", "tail"}, {"K=" + a8188 + "\xE2\x82\xAC\n", "", a8188, 100000},
      {x8191.substr(1) + "\xC3\xA9=v\n", "", "v", 260, "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(ReadProfileString(c.section, c.key, "D", out, c.size, WriteFile("config.ini", c.content)),
              kProfileRead);
    EXPECT_EQ(out, c.expected) << "content '" << c.content.substr(0, 40) << "' section '" << c.section << "'";
  }
}

// A name without a folder rests on the working folder; the virtual-store name means ../config.ini.
// What cannot be read answers status 7 with the default, cut like a value. Only a missing file is
// quiet: anything else in its place is named in a level-0 line, so the default never comes in
// silently.
TEST_F(SettingsFolderTest, WhichFileIsReadAndWhatCannotBeReadGivesTheDefault) {
  WriteFile("config.ini", "K=parent\n");
  WriteFile("Execute/config.ini", "K=here\n");
  const std::string target = WriteFile("real.ini", "K=linked\n");
  fs::create_symlink(target, root_ / "link.ini");
  fs::create_symlink(root_ / "gone.ini", root_ / "dangling.ini");
  ASSERT_EQ(mkfifo((root_ / "fifo.ini").c_str(), 0600), 0);
  fs::create_directory(root_ / "folder.ini");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (root_ / "socket.ini").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string tooLong = root_ / (std::string(300, 'x') + ".ini");  // beyond NAME_MAX
  const int kNo = kProfileUnavailable;  // the default is used
  // `logged`: the trace log names the path (the open failure of too long a name, else that it is
  // not a regular file); otherwise it does not mention it.
  const struct { std::string path; int status; bool logged; std::string key = "K", out = "def"; } cases[] = {
      {"config.ini", kProfileRead, false, "K", "her"}, {"/VANTREL.APP/Config.INI", kProfileRead, false, "K", "par"},
      {root_ / "none.ini", kProfileRead, false, ""},  // an empty key never touches the file
      {root_ / "none.ini", kNo, false}, {root_ / "nofolder/config.ini", kNo, false},
      {target + "/config.ini", kNo, false},  // a file on the way
      {root_ / "link.ini", kNo, true}, {root_ / "dangling.ini", kNo, true}, {root_ / "fifo.ini", kNo, true},
      {root_ / "folder.ini", kNo, true}, {root_ / "socket.ini", kNo, true}, {tooLong, kNo, true},
  };
  for (const auto& c : cases) {
    std::string out = "junk";
    EXPECT_EQ(ReadProfileString("", c.key, "default", out, 4, c.path), c.status) << c.path;
    EXPECT_EQ(out, c.out) << c.path;
  }
  close(listener);
  const std::string trace = TraceText();
  for (const auto& c : cases) {
    const std::string line = c.path != tooLong ? Format(kProfileNotRegularFile, c.path)
        : Format(kProfileOpenFailed, tooLong, ENAMETOOLONG, platform::ErrorText(ENAMETOOLONG));
    EXPECT_EQ(trace.find(c.logged ? line : c.path + "\"") != std::string::npos, c.logged) << c.path << " in\n" << trace;
  }
  EXPECT_FALSE(fs::exists(root_ / "gone.ini")) << "nothing is created through a link";
  EXPECT_EQ(test::ReadFile(target), "K=linked\n");
}

// The lock excludes every other holder of the file, of this process as of any other, until the
// holder closes the file or opens another.
TEST_F(SettingsFolderTest, LockOfTheFileHeldElsewhereGivesTheDefaultAndALogLine) {
  const std::string install = root_ / "Brimora", ini = install + "/config.ini";
  test::WriteFile(ini, "BrimoraSettingsFolder=/data/settings\n");
  platform::LockedFile holder;
  ASSERT_EQ(holder.Open(ini, 0), platform::FileLockResult::kLocked);
  std::string out;
  const auto start = Clock::now();
  EXPECT_EQ(ReadProfileString("", kSettingsFolderKey, "def", out, 260, ini), kProfileUnavailable);
  const auto waited = Clock::now() - start;
  EXPECT_EQ(out, "def");
  EXPECT_GE(waited, std::chrono::milliseconds(kProfileLockTimeoutMs - 50)) << "it must wait";
  EXPECT_LT(waited, std::chrono::milliseconds(kProfileLockTimeoutMs + 2000)) << "and not longer";
  EXPECT_EQ(GetSettingsFolder(install), install + "/../LornithData/Settings");

  ASSERT_EQ(holder.Open(WriteFile("other.ini", ""), 0), platform::FileLockResult::kLocked);
  EXPECT_EQ(ReadProfileString("", kSettingsFolderKey, "def", out, 260, ini), kProfileRead);
  EXPECT_EQ(out, "/data/settings");
  const std::string trace = TraceText(), line = Format(kProfileLockTimedOut, ini, kProfileLockTimeoutMs);
  EXPECT_NE(trace.find(line, trace.find(line) + 1), std::string::npos) << "a line for each read in\n" << trace;
}

}  // namespace
}  // namespace brimora
