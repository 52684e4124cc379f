#include "common/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_command_runner.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Strings = std::vector<std::string>;

const std::string kTool = std::string(BRIMORA_TEST_TOOLS_DIR) + "/child_behaviour";

std::string ToolCommand(const Strings& arguments) {
  std::string line = QuoteArgument(kTool);
  for (const std::string& argument : arguments) line += " " + QuoteArgument(argument);
  return line;
}

TEST(ProcessCommandRunnerTest, PassesTheOptionsToTheChildAndReportsHowItEnded) {
  struct Case {
    Strings arguments;
    bool captureOutput;
    bool stderrToo;
    bool completed;
    std::optional<int> exitCode;
    std::string output;
  };
  const Case cases[] = {
      {{"exit", "3"}, true, false, true, 3, "out\n"},
      {{"exit", "0"}, true, true, true, 0, "out\nerr\n"},
      {{"exit", "4"}, false, true, true, 4, ""},
      {{"args", "a b", "\"", "end\\"}, true, false, true, 0, "a b\0\"\0end\\\0"s},
      {{"signal", std::to_string(SIGKILL)}, true, true, false, 128 + SIGKILL, ""},
  };
  CProcessCommandRunner runner;
  for (const Case& c : cases) {
    const std::string line = ToolCommand(c.arguments);
    SCOPED_TRACE(line + (c.captureOutput ? "" : ", no capture") + (c.stderrToo ? ", stderr" : ""));
    CommandOptions options;
    options.captureOutput = c.captureOutput;
    options.stderrToo = c.stderrToo;
    const CommandResult result = runner.Run(line, options);
    EXPECT_EQ(result.completed, c.completed);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.Succeeded(), c.completed && c.exitCode == 0);
  }

  CommandOptions missing;
  const CommandResult notStarted = runner.Run("brimora-no-such-program-on-path", missing);
  EXPECT_FALSE(notStarted.completed);
  EXPECT_EQ(notStarted.exitCode, std::nullopt);
}

TEST(ProcessCommandRunnerTest, RunsInTheWorkingFolderAndStopsAtTheTimeOut) {
  test::TempFolder folder;
  const std::string odd = folder / "blank \"quote\" \\";
  fs::create_directory(odd);
  CProcessCommandRunner runner;
  CommandOptions inFolder;
  inFolder.workingFolder = odd;
  const CommandResult cwd = runner.Run(ToolCommand({"cwd"}), inFolder);
  EXPECT_TRUE(cwd.Succeeded());
  EXPECT_EQ(fs::path(cwd.output), fs::canonical(odd));

  CommandOptions brief;
  brief.timeoutSeconds = 1;
  const auto start = std::chrono::steady_clock::now();
  const CommandResult hung = runner.Run(ToolCommand({"grandchild", folder / "pids"}), brief);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(hung.completed);
  EXPECT_EQ(hung.exitCode, std::nullopt);
  EXPECT_EQ(hung.output, "ready\n") << "what came before the time-out is kept";
}

TEST(CommandRunnerTest, ScopesReplaceTheProcessRunnerAndRestoreItInOrder) {
  EXPECT_NE(dynamic_cast<CProcessCommandRunner*>(&CurrentCommandRunner()), nullptr);
  test::CFakeCommandRunner outer;
  test::CFakeCommandRunner inner;
  {
    CScopedCommandRunner useOuter(outer);
    {
      CScopedCommandRunner useInner(inner);
      CurrentCommandRunner().Run("first", {});
    }
    CurrentCommandRunner().Run("second", {});
  }
  EXPECT_NE(dynamic_cast<CProcessCommandRunner*>(&CurrentCommandRunner()), nullptr);
  EXPECT_EQ(inner.CommandLines(), Strings{"first"});
  EXPECT_EQ(outer.CommandLines(), Strings{"second"});
}

TEST(CommandRunnerTest, TheFakePlaysItsScriptInOrderThenSucceedsWithoutOutput) {
  test::CFakeCommandRunner fake;
  fake.AnswerExit(1, "svn: E155004: locked\n");
  fake.AnswerTimeOut();
  CommandOptions options;
  options.workingFolder = "/srv";
  options.utf8 = true;

  const CommandResult first = fake.Run("svn update", options);
  EXPECT_TRUE(first.completed);
  EXPECT_EQ(first.exitCode, 1);
  EXPECT_EQ(first.output, "svn: E155004: locked\n");
  const CommandResult second = fake.Run("svn cleanup", {});
  EXPECT_FALSE(second.completed);
  EXPECT_EQ(second.exitCode, std::nullopt);
  for (int i = 0; i < 2; ++i) {
    const CommandResult later = fake.Run("svn update", {});
    EXPECT_TRUE(later.Succeeded());
    EXPECT_EQ(later.output, "");
  }

  EXPECT_EQ(fake.CommandLines(), (Strings{"svn update", "svn cleanup", "svn update", "svn update"}));
  EXPECT_EQ(fake.Commands()[0].options.workingFolder, "/srv");
  EXPECT_TRUE(fake.Commands()[0].options.utf8);
  EXPECT_FALSE(fake.Commands()[1].options.utf8);
  EXPECT_EQ(fake.AnswersLeft(), 0u);
}

}  // namespace
}  // namespace brimora
