// What a person at a terminal and a monitoring system see of a run: the progress line, and the
// JSON summary on standard output.

#include <gmock/gmock.h>

#include <nlohmann/json.hpp>

#include "backup/backup_progress.h"
#include "common/name_escape.h"
#include "common/run_process.h"
#include "e2e/installation.h"

namespace brimora::test {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::ordered_json;

// Runs its arguments under a pseudo-terminal and exits with the child's exit code.
constexpr char kUnderTerminal[] = "import pty, sys; sys.exit(pty.spawn(sys.argv[1:]) >> 8)";

class RunSummaryTest : public BackupTest {
 protected:
  void SetUp() override { MakeSampleInstallation("site", {"--documents", "12"}); }
  // Standard output alone, or under a terminal both streams as the terminal shows them.
  ToolResult Run(const std::vector<std::string>& arguments, bool terminal = false) {
    std::string commandLine = terminal ? "python3 -c " + QuoteArgument(kUnderTerminal) + " " : "";
    commandLine += QuoteArgument(BRIMORA_EXECUTABLE);
    for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);
    ToolResult result;
    if (!RunProcess(commandLine, result.output, &result.exitCode, Execute(), 120, true, terminal)) result.exitCode = -1;
    return result;
  }
  std::string Logs() const { return TraceLog() + BackupLog() + ReadFile(Install() + "/Logs/BrimoraUpgradeErrors.txt"); }
};

TEST_F(RunSummaryTest, ProgressLineOnlyOnATerminalUnlessAskedAndNeverInTheLogs) {
  const std::vector<std::string> backup = {"--installpath", Install(), "--backuppath"};
  const struct { std::vector<std::string> arguments; bool terminal; const char* shown; } cases[] = {
      {{"p1"}, true, "\r\x1b[KBackup: 0 files, 0 B, 0 B/s"},
      {{"p2", "--quiet"}, true, nullptr},
      {{"p3"}, false, nullptr},
      {{"p4", "--progress"}, false, "\r\x1b[KBackup: 0 files, 0 B, 0 B/s"},
      // A message takes the line away and stands on a line of its own.
      {{"missing", "--restore"}, true, "\r\x1b[KRestore: 0 files, 0 B, 0 B/s\r\x1b[KRestore - ERROR: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    std::vector<std::string> arguments = backup;
    arguments.push_back(Root() + "/" + c.arguments[0]);
    arguments.insert(arguments.end(), c.arguments.begin() + 1, c.arguments.end());
    const ToolResult result = c.terminal ? Run(arguments, true) : RunTool(Execute(), arguments);
    EXPECT_EQ(result.exitCode, c.arguments[0] == "missing" ? 2 : 0) << result.output;
    if (c.shown != nullptr) {
      EXPECT_THAT(result.output, HasSubstr(c.shown));
      EXPECT_THAT(result.output, ContainsRegex("\x1b\\[KCopied [0-9]+ files, [0-9.]+ [KMG]?i?B in 0:[0-9]{2} \\([^)]*/s\\)\r?\n"));
    } else {
      EXPECT_THAT(result.output, Not(HasSubstr("\x1b[K")));
      EXPECT_THAT(result.output, Not(HasSubstr(" files, ")));
    }
    EXPECT_THAT(Logs(), Not(HasSubstr("\x1b[K")));
    EXPECT_THAT(Logs(), Not(HasSubstr("B/s")));
  }
}

// Every mode, success and failure: one document on standard output with the documented fields.
TEST_F(RunSummaryTest, JsonSummaryOfEveryModeOnStandardOutput) {
  const std::string unreadable = Root() + "/gone\xff";
  const std::string answer = Root() + "/answer.txt";
  const struct { std::vector<std::string> arguments; const char* mode; int exitCode; std::string record, error; } cases[] = {
      {{"--installpath", Install(), "--backuppath", Backup()}, "backup", 0, "\"complete\":true", ""},
      {{"--installpath", Install(), "--backuppath", Backup()}, "backup", 2, "null", "already holds a backup run"},
      {{"--verify", "--backuppath", Backup()}, "verify", 0, "\"problems\":0", ""},
      {{"--verify", "--backuppath", unreadable}, "verify", 2, "gone\\\\xff\",\"entriesChecked\":0", "gone\\\\xff"},
      {{"--restore", "--installpath", Install(), "--backuppath", Backup()}, "restore", 0,
       "{\"name\":\"FileStorage\",\"answer\":true,\"files\":", ""},
      {{"--restore", "--installpath", Install(), "--backuppath", unreadable}, "restore", 2,
       "{\"name\":\"FileStorage\",\"answer\":false", "does not exist"},
      {{"--installpath", Install(), "--getsettingsfilepath", answer}, "settingsFile", 0, "Settings/Brimora.xml\"", ""},
      {{"--installpath", Install(), "--getsettingsfilepath", Root() + "/no/answer"}, "settingsFile", 2, "\"answerFile\"",
       "Unable to write the settings file path"},
      {{"--installpath", Install()}, "usage", 1, "null", ""},
      {{"--help"}, "usage", 0, "null", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("--json");
    const ToolResult result = Run(arguments);
    const json summary = json::parse(result.output, nullptr, false);
    ASSERT_TRUE(summary.is_object()) << result.output;
    std::vector<std::string> fields;
    for (const auto& field : summary.items()) fields.push_back(field.key());
    EXPECT_THAT(fields, testing::UnorderedElementsAre("format", "mode", "exit_code", "answer", "started", "ended",
                                                      "errors", "record"));
    EXPECT_EQ(summary["format"], 1);
    EXPECT_EQ(summary["mode"], c.mode);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(summary["exit_code"], result.exitCode);
    EXPECT_EQ(summary["answer"], c.exitCode == 0);
    EXPECT_THAT(summary["ended"].get<std::string>(), ContainsRegex("^20[0-9-]{8}T[0-9:]{8}Z$"));
    EXPECT_THAT(summary["record"].dump(), HasSubstr(c.record));
    EXPECT_EQ(summary["errors"].empty(), c.error.empty()) << summary["errors"];
    EXPECT_THAT(summary["errors"].dump(), HasSubstr(c.error));
  }
  // The record of the first run gives a later one its totals, the search cores only when asked for.
  BackupRecord record;
  record.areas = {{"Database", AreaRecord::Answer::kTrue, 5, 100}, {"Logs", AreaRecord::Answer::kTrue, 2, 30}};
  record.finished = record.complete = true;
  platform::Folder folder;
  ASSERT_EQ(folder.Open(Root(), true), 0);
  ASSERT_EQ(WriteRecord(folder, record), 0);
  EXPECT_EQ(ReferenceTotals(Root(), true).bytes, 130u);
  EXPECT_EQ(ReferenceTotals(Root(), false).files, 2u);
  EXPECT_EQ(ReferenceTotals(Install(), false).bytes, 0u);
}

}  // namespace
}  // namespace brimora::test
