// End-to-end runs of the built tool in a temporary installation, judged by its exit code and
// the log files it wrote.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace brimora {
namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(ExecuteFolder());
  }

  std::string Install() const { return root_ / "Brimora"; }
  std::string ExecuteFolder() const { return Install() + "/Execute"; }
  std::string LogsFolder() const { return Install() + "/Logs"; }
  std::string TraceLog() const { return test::ReadFile(LogsFolder() + "/BrimoraUpgradeLog.txt"); }
  std::string ErrorsFile() const { return test::ReadFile(LogsFolder() + "/BrimoraUpgradeErrors.txt"); }

  test::ToolResult Run(const std::vector<std::string>& arguments) {
    return test::RunTool(ExecuteFolder(), arguments);
  }

  test::TempFolder root_;
};

constexpr const char* kFirstUsageLine =
    "BrimoraUpgrade [/h | /?] [/includedb] [/restore] [/installpath <path>] [/backuppath <path>]";

TEST_F(CliTest, NoArgumentsShowUsageAndAreRejected) {
  const test::ToolResult result = Run({});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.output, HasSubstr(kFirstUsageLine));

  // The usage lines at level 1 in the main log, after the start-up header.
  const std::vector<std::string> lines = test::ReadLines(LogsFolder() + "/BrimoraUpgradeLog.txt");
  ASSERT_GE(lines.size(), 8u);
  EXPECT_THAT(lines.front(), ContainsRegex("^\\*\\* BrimoraUpgrade ?Log Startup \\*\\* "
                                           "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}$"));
  EXPECT_THAT(TraceLog(), HasSubstr(std::string("\tSystem\t1 - ") + kFirstUsageLine + "\n"));
  EXPECT_THAT(lines.back(), ContainsRegex("^[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9:]{8} [0-9]{4}"
                                          "\tSystem\t1 - /backuppath:  <path> on where to place the backup files$"));
  EXPECT_THAT(ErrorsFile(), Not(HasSubstr("\tSystem\t")));  // headers only, no error line
}

TEST_F(CliTest, HelpWinsOverEverythingElse) {
  const std::string backup = root_ / "backup";
  const test::ToolResult result =
      Run({"/installpath", Install(), "/backuppath", backup, "--restore", "/?"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_THAT(result.output, HasSubstr(kFirstUsageLine));
  EXPECT_FALSE(std::filesystem::exists(backup));
  EXPECT_THAT(TraceLog(), Not(HasSubstr("configuration")));
}

TEST_F(CliTest, RejectedArgumentCombinations) {
  const std::vector<std::vector<std::string>> rejected = {
      {"/restore", "/installpath", Install()},
      {"/backuppath", root_ / "b"},
      {"/installpath", Install(), "/backuppath", "--unknown", root_ / "b"},
      // A query without its answer file, even with a full backup pair beside it.
      {"/installpath", Install(), "/backuppath", root_ / "b", "/getsettingsfilepath"},
  };
  for (const std::vector<std::string>& arguments : rejected) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const test::ToolResult result = Run(arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.output, HasSubstr(kFirstUsageLine));
  }
  EXPECT_FALSE(std::filesystem::exists(root_ / "b"));
}

TEST_F(CliTest, SettingsFileQueryFollowsConfigIni) {
  const std::string settings = root_ / "elsewhere/Settings";
  test::WriteFile(Install() + "/config.ini", "[General]\n  Brimora Settings Folder = " + settings + "   \n");
  const std::string answer = root_ / "answer.txt";

  // Without check the configured folder is answered whether or not the file is there.
  ASSERT_EQ(Run({"-installpath", Install(), "-getsettingsfilepath", answer}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(answer), settings + "/Brimora.xml");

  // With check and no settings file there, the install path's own file is the answer.
  ASSERT_EQ(Run({"/INSTALLPATH", Install(), "/GetSettingsFilePath", answer, "/check"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(answer), Install() + "/Brimora.xml");

  test::WriteFile(settings + "/Brimora.xml", "<Settings/>");
  ASSERT_EQ(Run({"--installpath", Install(), "--getsettingsfilepath", answer, "--check"}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(answer), settings + "/Brimora.xml");
}

TEST_F(CliTest, SettingsFileQueryDefaultsBesideTheInstallation) {
  const std::string answer = root_ / "answer with blanks.txt";
  ASSERT_EQ(Run({"/installpath", Install(), "/getsettingsfilepath", answer}).exitCode, 0);
  EXPECT_EQ(test::ReadFile(answer), Install() + "/../LornithData/Settings/Brimora.xml");
}

TEST_F(CliTest, UnwritableAnswerIsAFailure) {
  const std::string answer = root_ / "missing-folder/answer.txt";
  const test::ToolResult result = Run({"/installpath", Install(), "/getsettingsfilepath", answer});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(ErrorsFile(), AllOf(HasSubstr(answer), HasSubstr("No such file or directory")));
  EXPECT_THAT(TraceLog(), HasSubstr("\t0 - Unable to write the settings file path to " + answer));
  EXPECT_THAT(result.output, HasSubstr(answer));  // echoed on standard error
}

TEST_F(CliTest, BackupWithoutSettingsFileFailsWithConfigurationError) {
  const std::string backup = root_ / "backup";
  const test::ToolResult result = Run({"/installpath", Install(), "/backuppath", backup});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(ErrorsFile(),
              AllOf(HasSubstr("There was an error reading the configuration - can't continue.\n"),
                    HasSubstr("Error backing up to the backup path: " + backup + "\n")));

  const test::ToolResult restore = Run({"/restore", "/installpath", Install(), "/backuppath", backup});
  EXPECT_EQ(restore.exitCode, 2);
  EXPECT_THAT(ErrorsFile(), HasSubstr("Error restoring from the backup path: " + backup + "\n"));
  // The previous run's errors survive one start.
  EXPECT_THAT(test::ReadFile(LogsFolder() + "/BrimoraUpgradeErrors_prev.txt"),
              HasSubstr("Error backing up to the backup path: "));
  EXPECT_THAT(ErrorsFile(), Not(HasSubstr("Error backing up")));
}

}  // namespace
}  // namespace brimora
