// Splitting and quoting command lines, running children, and the runner that tests replace.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "common/command_runner.h"
#include "platform/process.h"
#include "support/fake_command_runner.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

const std::string kTool = BRIMORA_TEST_TOOLS_DIR "/child_behaviour";

std::string CommandLine(const Strings& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + QuoteArgument(word);
  return line;
}

// True while the process runs: neither gone nor a zombie nobody has reaped yet.
bool Running(const std::string& pid) {
  const std::string stat = test::ReadFile("/proc/" + pid + "/stat");
  return stat.rfind(')') != std::string::npos && stat.compare(stat.rfind(')'), 3, ") Z") != 0;
}

TEST(SplitCommandLineTest, FollowsTheRuntimeRules) {
  const std::pair<const char*, Strings> cases[] = {
      {"  a \t b\tc  ", {"a", "b", "c"}},
      {"a\"b c\"d \"\" \"open", {"ab cd", "", "open"}},
      {"a\\b \\\\server\\share", {"a\\b", "\\\\server\\share"}},  // backslashes before no quote are literal
      {"a\\\\\"b c\"", {"a\\b c"}},                              // 2 backslashes + quote: one, and quoting
      {"a\\\"b c", {"a\"b", "c"}},                                // 1 backslash + quote: a literal quote
      {"a\\\\\\\"b", {"a\\\"b"}},                                 // 3 backslashes + quote: one, and a quote
      {"a\"\"b \"a\"\"\" b", {"ab", "a\"", "b"}},  // "" inside quotes is a literal quote, outside nothing
      {"line\nbreak", {"line\nbreak"}},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(SplitCommandLine(line), expected) << "[" << line << "]";
  EXPECT_EQ(QuoteArgument("back\\slash\\") + QuoteArgumentAlways("plain"), "back\\slash\\\"plain\"");
}

// Values that break naive quoting reach the child byte for byte (the program name too), in its
// working folder, with standard input at its end.
TEST(RunProcessTest, ArgumentsWorkingFolderAndInput) {
  test::TempFolder folder;
  const Strings hostile = {"", " ", "\"", "\"\"", "a\"b", "trailing\\", "two\\\\", "\\\"", "\" \"", "$(touch x)",
                           "a; touch x | cat > y", "line\nbreak", "tab\there", "Grüße", "bad \xff\xfe",
                           "C:\\Program Files\\", std::string(120000, 'b')};
  const std::string odd = folder / "with \"quote\" and blank \\";
  fs::create_directory(odd);
  fs::copy_file(kTool, odd + "/tool\\");
  std::string output, expected;
  for (const std::string& argument : hostile) expected += argument + '\0';
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(CommandLine({odd + "/tool\\", "args"}) + " " + CommandLine(hostile), output, &exitCode, odd));
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(output == expected) << "the arguments came back changed";
  EXPECT_FALSE(fs::exists(odd + "/x")) << "a shell ran part of an argument";
  ASSERT_TRUE(RunProcess("\"./tool\\\\\" cwd", output, nullptr, odd)) << "a relative program is found there";
  EXPECT_EQ(output, fs::canonical(odd).string());
  ASSERT_TRUE(RunProcess(CommandLine({kTool, "cwd"}), output));
  EXPECT_EQ(output, fs::current_path().string()) << "without a working folder the child has the caller's";
  EXPECT_TRUE(RunProcess("cat", output, nullptr, {}, 10) && output.empty()) << "a prompting child waits for no answer";
}

// At the time-out the child and everything it started get TERM, then KILL; what was read is kept.
TEST(RunProcessTest, TimeOutEndsTheWholeGroupWithTermThenKill) {
  test::TempFolder folder;
  std::string output;
  int exitCode = 12345;
  const auto start = Clock::now();
  EXPECT_FALSE(RunProcess(CommandLine({kTool, "grandchild", folder / "pids"}), output, &exitCode, {}, 1));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(950));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_EQ(exitCode, 12345);
  EXPECT_EQ(output, "ready\nterm\nterm\n");
  const std::string pids = test::ReadFile(folder / "pids");
  for (const std::string& pid : {pids.substr(0, pids.find(' ')), pids.substr(pids.find(' ') + 1)}) {
    for (auto until = Clock::now() + std::chrono::seconds(5); Running(pid) && Clock::now() < until;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(Running(pid) && kill(std::stoi(pid), SIGKILL) == 0) << pid << " of " << pids << " survived";
  }
}

// A child that ended by itself may leave a process running that holds its output open (a server
// it launched): the call returns at once with what the child wrote, and the process runs on.
TEST(RunProcessTest, ABackgroundProcessHoldingTheOutputDoesNotDelayTheCall) {
  test::TempFolder folder;
  std::string output;
  int exitCode = -1;
  const auto start = Clock::now();
  EXPECT_TRUE(RunProcess(CommandLine({kTool, "daemon", folder / "pid"}), output, &exitCode, {}, 20));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(output, "done\n");
  const std::string daemon = test::ReadFile(folder / "pid");
  EXPECT_TRUE(Running(daemon) && kill(std::stoi(daemon), SIGKILL) == 0);
}

TEST(RunChildTest, AChildThatWritesWithoutPauseStillMeetsItsDeadline) {
  platform::ChildOptions options;
  options.deadline = Clock::now() + std::chrono::milliseconds(500);
  options.outputLimit = 1024 * 1024;
  const platform::ChildResult result = platform::RunChild({kTool, "flood"}, options);
  EXPECT_LT(Clock::now() - *options.deadline, std::chrono::milliseconds(1000));
  EXPECT_TRUE(result.started && result.timedOut && !result.ended && result.outputTruncated);
  // Kept up to the limit, the rest read and dropped (memory stays bounded).
  EXPECT_EQ(result.output, std::string(options.outputLimit, 'f'));
}

// How the child ended, as the runner reports it, with the options that shape its capture. A
// program that cannot start (or may not: a NUL byte in an argument) reports no exit code.
TEST(ProcessCommandRunnerTest, ReportsHowTheChildEnded) {
  test::TempFolder folder;
  test::WriteFile(folder / "script", "#!/bin/sh\ntouch x\n");  // not executable
  const struct {
    std::string line, folder;
    bool captureOutput, stderrToo, completed;
    std::optional<int> exitCode;
    std::string output;
  } cases[] = {
      {CommandLine({kTool, "exit", "3"}), "", true, false, true, 3, "out\n"},
      {CommandLine({kTool, "exit", "0"}), "", true, true, true, 0, "out\nerr\n"},
      {CommandLine({kTool, "exit", "4"}), "", false, true, true, 4, ""},
      {CommandLine({kTool, "signal", std::to_string(SIGKILL)}), "", true, true, false, 128 + SIGKILL, ""},
      {"   ", "", true, true, false, std::nullopt, ""},
      {"brimora-no-such-program-on-path", "", true, true, false, std::nullopt, ""},
      {folder / "script", folder.Path(), true, true, false, std::nullopt, ""},
      {CommandLine({kTool, "args"}) + std::string(" a\0b", 4), "", true, true, false, std::nullopt, ""},
      {CommandLine({kTool, "cwd"}), folder / "missing", true, true, false, std::nullopt, ""},  // not the caller's
  };
  for (const auto& c : cases) {
    const CommandResult result = CProcessCommandRunner().Run(c.line, {c.folder, 600, c.captureOutput, c.stderrToo});
    EXPECT_EQ(result.completed, c.completed) << c.line;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.line;
    EXPECT_EQ(result.output, c.output) << c.line;
  }
  EXPECT_FALSE(fs::exists(folder / "x"));
}

TEST(CommandRunnerTest, ScopesReplaceTheProcessRunnerAndRestoreItInOrder) {
  test::CFakeCommandRunner outer, inner;
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
