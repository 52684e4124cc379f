#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brimora {
namespace {

// The flags set, as letters: restore, includedb (d), check, help, getsettingsfilepath (q), json (J),
// quiet (Q), progress (P).
std::string Flags(const CBrimoraCommandLineInfo& info) {
  return std::string(info.restore ? "r" : "") + (info.includedb ? "d" : "") + (info.check ? "c" : "") +
         (info.help ? "h" : "") + (info.getsettingsfilepath ? "q" : "") + (info.json ? "J" : "") +
         (info.quiet ? "Q" : "") + (info.progress ? "P" : "");
}

// How the tool answers rejected arguments is tested with the tool itself.
TEST(CommandLine, SwitchesValuesAndAcceptance) {
  const struct {
    std::vector<std::string> arguments;
    std::string install, backup, answer, flags;
    bool accepted;
  } cases[] = {
      {{"/installpath", "/srv/i", "/backuppath", "/backups/b1"}, "/srv/i", "/backups/b1", "", "", true},
      {{"-INSTALLPATH", "i", "-BackupPath", "b", "/RESTORE"}, "i", "b", "", "r", true},
      // "/restore" as the value of backuppath is the switch; the next plain argument fills.
      {{"/backuppath", "/restore", "A", "/installpath", "I"}, "I", "A", "", "r", true},
      // Taking a value does not clear the pending kind: the last plain argument wins.
      {{"/backuppath", "A", "B", "/installpath", "I"}, "I", "B", "", "", true},
      // An absolute path that looks like a switch of another program is a plain value.
      {{"/installpath", "/h2/data", "/backuppath", "/check-out"}, "/h2/data", "/check-out", "", "", true},
      {{"/?"}, "", "", "", "h", false}, {{"-?"}, "", "", "", "h", false}, {{"--HELP"}, "", "", "", "h", false},
      {{"/help"}, "", "", "", "", false},  // not a switch of the tool, so a plain value
      // An unknown switch clears the pending kind; flags leave it alone.
      {{"/installpath", "I", "/backuppath", "--verbose", "B"}, "I", "", "", "", false},
      {{"/backuppath", "/includedb", "/check", "/h", "B"}, "", "B", "", "dch", false},
      {{"/installpath", "I", "/getsettingsfilepath", "F"}, "I", "", "F", "q", true},
      {{"-getsettingsfilepath", "F", "-check", "-installpath", "I"}, "I", "", "F", "cq", true},
      {{"/getsettingsfilepath", "F"}, "", "", "F", "q", false},
      // A query without its answer file is refused, even with a full backup pair.
      {{"/getsettingsfilepath", "/installpath", "I", "/backuppath", "B"}, "I", "B", "", "q", false},
      // The tool's own switches of this port, never after "/": there they are paths.
      {{"--JSON", "-quiet", "--progress", "/installpath", "I", "/backuppath", "B"}, "I", "B", "", "JQP", true},
      {{"/installpath", "/json", "/backuppath", "/progress", "/quiet"}, "/json", "/quiet", "", "", true},
      // A backup root instead of the backup path, with retention and an explicit reference; never both
      // folders, and the root's switches only with a backup ("/backuproot" stays a path).
      {{"--installpath", "I", "--backuproot", "R", "--keep", "14", "--full"}, "I", "", "", "", true},
      {{"-installpath", "I", "-backuproot", "R", "-linkdest", "P"}, "I", "", "", "", true},
      {{"--installpath", "I", "--backuppath", "B", "--linkdest", "P"}, "I", "B", "", "", true},
      {{"/installpath", "I", "/backuproot", "R"}, "R", "", "", "", false},
      {{"--installpath", "I", "--backuproot", "R", "--backuppath", "B"}, "I", "B", "", "", false},
      {{"--restore", "--installpath", "I", "--backuproot", "R"}, "I", "", "", "r", false},
      {{"--restore", "--installpath", "I", "--backuppath", "B", "--linkdest", "P"}, "I", "B", "", "r", false},
      {{"--verify", "--backuppath", "B", "--backuproot", "R"}, "", "B", "", "", false},
      {{"--installpath", "I", "--backuppath", "B", "--keep", "2"}, "I", "B", "", "", false},
      {{"--installpath", "I", "--backuproot", "R", "--keep", "0"}, "I", "", "", "", false},
      {{"--installpath", "I", "--backuproot", "R", "--keep", "2x"}, "I", "", "", "", false},
      {{"--installpath", "I", "--backuproot", "R", "--keep"}, "I", "", "", "", false},
      {{"--installpath", "I", "--backuproot", "R", "--full", "--linkdest", "P"}, "I", "", "", "", false},
  };
  for (const auto& c : cases) {
    CBrimoraCommandLineInfo info;
    info.ParseArguments(c.arguments);
    EXPECT_EQ(info.installPath + "|" + info.backupPath + "|" + info.settingsFilePath + "|" + Flags(info),
              c.install + "|" + c.backup + "|" + c.answer + "|" + c.flags)
        << testing::PrintToString(c.arguments);
    EXPECT_EQ(info.Accepted(), c.accepted) << testing::PrintToString(c.arguments);
  }
}

}  // namespace
}  // namespace brimora
