#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brimora {
namespace {

CBrimoraCommandLineInfo Parse(const std::vector<std::string>& arguments) {
  CBrimoraCommandLineInfo info;
  info.ParseArguments(arguments);
  return info;
}

TEST(CommandLine, SwitchPrefixesAndCase) {
  struct Case {
    std::vector<std::string> arguments;
    std::string installPath, backupPath;
    bool restore;
  };
  const Case cases[] = {
      {{"/installpath", "/srv/brimora/Brimora", "/backuppath", "/backups/b1"}, "/srv/brimora/Brimora", "/backups/b1", false},
      {{"--installpath", "/srv/i", "--backuppath", "/srv/b"}, "/srv/i", "/srv/b", false},
      {{"-INSTALLPATH", "i", "-BackupPath", "b", "/RESTORE"}, "i", "b", true},
      {{"/InstallPath", "i", "--backupPATH", "b", "-restore"}, "i", "b", true},
      // "/restore" as the value of backuppath is the switch, not a path; the next plain argument fills.
      {{"/backuppath", "/restore", "A", "/installpath", "I"}, "I", "A", true},
      // Taking a value does not clear the pending kind: the last plain argument wins.
      {{"/backuppath", "A", "B", "/installpath", "I"}, "I", "B", false},
      // An absolute path that looks like a switch of another program is a plain value.
      {{"/installpath", "/h2/data", "/backuppath", "/check-out"}, "/h2/data", "/check-out", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const CBrimoraCommandLineInfo info = Parse(c.arguments);
    EXPECT_EQ(info.installPath, c.installPath);
    EXPECT_EQ(info.backupPath, c.backupPath);
    EXPECT_EQ(info.restore, c.restore);
    EXPECT_FALSE(info.help);
    EXPECT_TRUE(info.Accepted());
  }
}

TEST(CommandLine, UnknownSwitchClearsPendingValueKind) {
  const CBrimoraCommandLineInfo info = Parse({"/installpath", "I", "/backuppath", "--verbose", "B"});
  EXPECT_EQ(info.pendingValueKind, CBrimoraCommandLineInfo::kNone);
  EXPECT_EQ(info.backupPath, "");
  EXPECT_FALSE(info.Accepted());

  // Flags leave the pending kind alone.
  const CBrimoraCommandLineInfo kept = Parse({"/backuppath", "/includedb", "/check", "/h", "B"});
  EXPECT_EQ(kept.backupPath, "B");
  EXPECT_TRUE(kept.includedb);
  EXPECT_TRUE(kept.check);
  EXPECT_TRUE(kept.help);
}

TEST(CommandLine, HelpSpellings) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"/?"}, {"-?"}, {"/H"}, {"-h"}, {"--help"}, {"--HELP"},
                                             {"/installpath", "i", "/backuppath", "b", "/?"}}) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    EXPECT_TRUE(Parse(arguments).help);
  }
  // "/help" is not one of the tool's switch names, so it is a plain argument (a path).
  EXPECT_FALSE(Parse({"/help"}).help);
}

TEST(CommandLine, Acceptance) {
  EXPECT_FALSE(Parse({}).Accepted());
  EXPECT_FALSE(Parse({"/restore", "/installpath", "I"}).Accepted());
  EXPECT_FALSE(Parse({"/backuppath", "B"}).Accepted());
  EXPECT_TRUE(Parse({"/installpath", "I", "/getsettingsfilepath", "F"}).Accepted());
  EXPECT_TRUE(Parse({"-getsettingsfilepath", "F", "-check", "-installpath", "I"}).Accepted());
  EXPECT_FALSE(Parse({"/getsettingsfilepath", "F"}).Accepted());
  // A query without its answer file is refused, even with a full backup pair.
  EXPECT_FALSE(Parse({"/installpath", "I", "/backuppath", "B", "/getsettingsfilepath"}).Accepted());
  EXPECT_FALSE(Parse({"/getsettingsfilepath", "/installpath", "I", "/backuppath", "B"}).Accepted());
}

}  // namespace
}  // namespace brimora
