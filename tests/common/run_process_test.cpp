#include "common/run_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;
using test::TempFolder;

const std::string kTool = std::string(BRIMORA_TEST_TOOLS_DIR) + "/child_behaviour";

// What the "args" child prints: each argument followed by a NUL byte.
std::string ArgsReport(const Strings& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += argument + '\0';
  return text;
}

std::string CommandLine(const Strings& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + QuoteArgument(word);
  return line;
}

// True once the process runs no more: gone, or a zombie nobody has reaped yet.
bool ProcessGone(pid_t pid) {
  const std::string stat = test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return kill(pid, 0) != 0 || close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
}

bool AwaitGone(pid_t pid) {
  for (auto until = Clock::now() + std::chrono::seconds(5); !ProcessGone(pid);) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Strings ReadPids(const std::string& file) {
  std::istringstream in(test::ReadFile(file));
  return Strings(std::istream_iterator<std::string>(in), {});
}

// Strings that break naive quoting: shell syntax, quotes next to backslashes, line breaks,
// non-ASCII letters and bytes that are not UTF-8.
const Strings& HostileStrings() {
  static const Strings strings = {
      "", " ", "two words", "\"", "\"\"", "a\"b", "trailing\\", "trailing two\\\\", "\\\"",
      "\\\\\"\\\\", "\" \"", "$(touch x)", "`touch x`", "a; touch x", "a && touch x | cat > y",
      "line\nbreak", "tab\there", "\r\n", "Grüße, 日本語, Ελληνικά",
      std::string("bad \xff\xfe utf-8 \xc3("), "%s %d %n", "C:\\Program Files\\Tool\\",
      "'single' \"double\"", "-option", "*.*",
  };
  return strings;
}

// --- Splitting and quoting -------------------------------------------------------------------

TEST(SplitCommandLineTest, FollowsTheRuntimeRules) {
  struct Case {
    const char* line;
    Strings expected;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"  a \t b\tc  ", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" \"\" x", {"", "", "x"}},
      {"a\"\"b", {"ab"}},
      {"\"open to the end", {"open to the end"}},
      {"a\\b \\\\server\\share", {"a\\b", "\\\\server\\share"}},
      {"a\\\\\"b c\"", {"a\\b c"}},          // 2 backslashes + quote: one backslash, quote opens
      {"a\\\"b c", {"a\"b", "c"}},            // 1 backslash + quote: literal quote
      {"a\\\\\\\"b", {"a\\\"b"}},             // 3 backslashes + quote: one backslash, literal quote
      {"\"dir\\\\\" next", {"dir\\", "next"}},
      {"\"dir\\\" still\"", {"dir\" still"}},
      {"\"a\"\"\" b", {"a\"", "b"}},          // "" inside quotes: a literal quote, still quoted
      {"\"a\"\" b\"", {"a\" b"}},
      {"line\nbreak", {"line\nbreak"}},       // only blanks and tabs separate
      {"\"/opt/my tools/svn\" update \"x y\"", {"/opt/my tools/svn", "update", "x y"}},
      {"\"/odd\\\"name\\\\\" -v", {"/odd\"name\\", "-v"}},  // the program follows the same rules
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.expected) << "command line: [" << c.line << "]";
  }
}

TEST(QuoteArgumentTest, RoundTripsHostileStringsInEveryPosition) {
  // Plain values stay readable in logs.
  for (const char* plain : {"plain", "back\\slash\\", "/srv/Grüße", "--flag=a,b"}) {
    EXPECT_EQ(QuoteArgument(plain), plain);
  }
  Strings strings = HostileStrings();
  const std::string listFile = std::string(BRIMORA_TEST_DATA_DIR) + "/blns.txt";
  for (const std::string& line : test::ReadLines(listFile)) {
    if (!line.empty() && line[0] != '#') strings.push_back(line);
  }
  ASSERT_GT(strings.size(), 400u) << "tests/data/blns.txt is missing";
  // And random runs of quotes, backslashes and blanks.
  const char alphabet[] = {' ', '\t', '"', '\\', 'a', '\n', '\xff'};
  std::mt19937 random(20260101);
  while (strings.size() < 3000) {
    std::string& word = strings.emplace_back();
    for (std::size_t i = random() % 12; i > 0; --i) word += alphabet[random() % sizeof alphabet];
  }
  for (const std::string& s : strings) {
    // Alone, in the middle of a line between other quoted values, and as the program name.
    for (const Strings& words : {Strings{s}, Strings{"program", s, "a b\\", s}, Strings{s, "x"}}) {
      EXPECT_EQ(SplitCommandLine(CommandLine(words)), words) << "argument: [" << s << "]";
    }
  }
}

// --- Running children ------------------------------------------------------------------------

TEST(RunProcessTest, HostileArgumentsReachTheChildByteForByte) {
  TempFolder folder;
  std::string output;
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(CommandLine({kTool, "args"}) + " " + CommandLine(HostileStrings()),
                         output, &exitCode, folder.Path()));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(output, ArgsReport(HostileStrings()));
  EXPECT_FALSE(fs::exists(folder / "x") || fs::exists(folder / "y"))
      << "a shell ran part of an argument";
}

TEST(RunProcessTest, ReportsHowTheChildEndedAndCapturesStandardErrorOnlyWhenAsked) {
  struct Case {
    Strings command;
    bool stderrToo;
    bool success;
    int exitCode;
    std::string output;
  };
  const Case cases[] = {
      {{"exit", "0"}, false, true, 0, "out\n"},
      {{"exit", "0"}, true, true, 0, "out\nerr\n"},
      {{"exit", "3"}, false, true, 3, "out\n"},
      {{"exit", "255"}, true, true, 255, "out\nerr\n"},
      {{"signal", std::to_string(SIGKILL)}, false, false, 128 + SIGKILL, ""},  // not a success
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command[0] + " " + c.command[1] + ", stderrToo " + std::to_string(c.stderrToo));
    Strings words = c.command;
    words.insert(words.begin(), kTool);
    std::string output = "stale";
    int exitCode = -1;
    EXPECT_EQ(RunProcess(CommandLine(words), output, &exitCode, {}, 600, false, c.stderrToo),
              c.success);
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(output, c.output);
  }
}

TEST(RunProcessTest, ReadsALargeOutputCompletely) {
  const std::size_t size = 8 * 1024 * 1024 + 17;
  std::string output;
  ASSERT_TRUE(RunProcess(CommandLine({kTool, "big", std::to_string(size)}), output));
  std::string expected;
  for (std::size_t i = 0; i < size; ++i) expected += static_cast<char>('0' + i % 10);
  EXPECT_TRUE(output == expected) << "got " << output.size() << " bytes of " << size;
}

TEST(RunProcessTest, WorkingFolderProgramLookupAndStandardInput) {
  TempFolder folder;
  const std::string odd = folder / "with \"quote\" and blank \\";
  fs::create_directory(odd);
  std::string output;
  ASSERT_TRUE(RunProcess(CommandLine({kTool, "cwd"}), output, nullptr, odd));
  EXPECT_EQ(fs::path(output), fs::canonical(odd));
  // Without a working folder the child has the caller's.
  ASSERT_TRUE(RunProcess(CommandLine({kTool, "cwd"}), output));
  EXPECT_EQ(fs::path(output), fs::current_path());

  // A relative program path is taken against the child's working folder, a bare name from PATH.
  fs::copy_file(kTool, folder / "tool");
  ASSERT_TRUE(RunProcess("./tool args a", output, nullptr, folder.Path()));
  EXPECT_EQ(output, ArgsReport({"a"}));
  const char* saved = getenv("PATH");
  const std::string oldPath = saved != nullptr ? saved : "";
  setenv("PATH", (std::string(BRIMORA_TEST_TOOLS_DIR) + ":" + oldPath).c_str(), 1);
  const bool ran = RunProcess("child_behaviour args \"a b\"", output);
  saved != nullptr ? setenv("PATH", oldPath.c_str(), 1) : unsetenv("PATH");
  ASSERT_TRUE(ran);
  EXPECT_EQ(output, ArgsReport({"a b"}));

  // Standard input is at its end at once, so a prompting child cannot wait for an answer.
  ASSERT_TRUE(RunProcess(CommandLine({kTool, "stdin"}), output, nullptr, {}, 10));
  EXPECT_EQ(output, "eof 0");
}

TEST(RunProcessTest, ProgramsThatCannotStartAnswerFalseWithoutExitCode) {
  TempFolder folder;
  const std::string script = folder / "script";
  test::WriteFile(script, "#!/bin/sh\ntouch x\n");
  fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);

  const std::pair<std::string, std::string> cases[] = {  // command line, working folder
      {"", folder.Path()},
      {"   ", folder.Path()},
      {folder / "missing", folder.Path()},
      {"brimora-no-such-program-on-path", folder.Path()},
      {script, folder.Path()},         // not executable
      {folder.Path(), folder.Path()},  // a folder
      {CommandLine({kTool, "args"}) + std::string(" a\0b", 4), folder.Path()},
      // A working folder that does not exist is not replaced by the caller's.
      {CommandLine({kTool, "cwd"}), folder / "missing"},
  };
  for (const auto& [line, workingFolder] : cases) {
    SCOPED_TRACE("[" + line + "] in " + workingFolder);
    std::string output = "stale";
    int exitCode = 12345;
    EXPECT_FALSE(RunProcess(line, output, &exitCode, workingFolder));
    EXPECT_EQ(exitCode, 12345);
    EXPECT_EQ(output, "");
  }
  EXPECT_FALSE(fs::exists(folder / "x"));
}

TEST(RunProcessTest, TimeOutKillsTheChildAndItsWholeGroupEvenWhenTheyIgnoreTerm) {
  TempFolder folder;
  std::string output;
  int exitCode = 12345;
  const auto start = Clock::now();
  EXPECT_FALSE(
      RunProcess(CommandLine({kTool, "grandchild", folder / "pids"}), output, &exitCode, {}, 1));
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(exitCode, 12345);
  EXPECT_EQ(output, "ready\nterm\nterm\n") << "output read before the time-out is kept, TERM comes first";
  EXPECT_GE(elapsed, std::chrono::milliseconds(950));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));

  const Strings pids = ReadPids(folder / "pids");
  ASSERT_EQ(pids.size(), 2u) << "the child did not record its pids in time";
  for (const std::string& pid : pids) {
    const bool gone = AwaitGone(std::stoi(pid));
    if (!gone) kill(std::stoi(pid), SIGKILL);
    EXPECT_TRUE(gone) << "process " << pid << " survived the time-out";
  }
}

TEST(RunProcessTest, ABackgroundProcessHoldingTheOutputDoesNotDelayTheCall) {
  TempFolder folder;
  std::string output;
  int exitCode = -1;
  const auto start = Clock::now();
  const bool ran =
      RunProcess(CommandLine({kTool, "daemon", folder / "pid"}), output, &exitCode, {}, 30);
  const auto elapsed = Clock::now() - start;
  const Strings pids = ReadPids(folder / "pid");
  ASSERT_EQ(pids.size(), 1u);
  // A child that ended by itself leaves what it started running (a server it launched).
  const bool survived = !ProcessGone(std::stoi(pids[0]));
  kill(std::stoi(pids[0]), SIGKILL);

  EXPECT_TRUE(ran);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(output, "done\n");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_TRUE(survived);
}

}  // namespace
}  // namespace brimora
