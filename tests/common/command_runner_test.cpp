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

}  // namespace
}  // namespace brimora
