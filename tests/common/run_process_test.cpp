#include "common/run_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

std::string Tool() { return std::string(BRIMORA_TEST_TOOLS_DIR) + "/child_behaviour"; }

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

// What the "args" child prints for these arguments.
std::string ArgsReport(const Strings& arguments) {
  std::string text = std::to_string(arguments.size()) + "\n";
  for (const std::string& argument : arguments) text += Hex(argument) + "\n";
  return text;
}

std::string CommandLine(const Strings& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    line += QuoteArgument(word);
  }
  return line;
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "run_process_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool ProcessGone(pid_t pid) {
  if (kill(pid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

bool AwaitGone(pid_t pid) {
  auto until = Clock::now() + std::chrono::seconds(5);
  while (!ProcessGone(pid)) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Strings ReadPids(const fs::path& file) {
  std::ifstream in(file);
  Strings pids;
  for (std::string pid; in >> pid;) pids.push_back(pid);
  return pids;
}

// Strings that break naive quoting: shell syntax, quotes next to backslashes, line breaks,
// non-ASCII letters and bytes that are not UTF-8.
const Strings& HostileStrings() {
  static const Strings strings = {
      "",
      " ",
      "two words",
      "\"",
      "\"\"",
      "a\"b",
      "trailing\\",
      "trailing two\\\\",
      "\\\"",
      "\\\\\"\\\\",
      "\" \"",
      "$(touch x)",
      "`touch x`",
      "a; touch x",
      "a && touch x | cat > y",
      "line\nbreak",
      "tab\there",
      "\r\n",
      "Grüße, 日本語, Ελληνικά",
      std::string("bad \xff\xfe utf-8 \xc3("),
      "%s %d %n",
      "C:\\Program Files\\Tool\\",
      "'single' \"double\"",
      "-option",
      "*.*",
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
      {"a b\tc", {"a", "b", "c"}},
      {"  a   b  ", {"a", "b"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"\"\" \"\" x", {"", "", "x"}},
      {"a\"\"b", {"ab"}},
      {"\"open to the end", {"open to the end"}},
      {"a\\b \\\\server\\share", {"a\\b", "\\\\server\\share"}},
      {"a\\\\\"b c\"", {"a\\b c"}},          // 2 backslashes + quote: one backslash, quote opens
      {"a\\\"b c", {"a\"b", "c"}},            // 1 backslash + quote: literal quote
      {"a\\\\\\\"b", {"a\\\"b"}},             // 3 backslashes + quote: one backslash, literal quote
      {"\"dir\\\\\" next", {"dir\\", "next"}},
      {"\"dir\\\" still\"", {"dir\" still"}},
      {"\"a\"\"b\"", {"a\"b"}},               // "" inside quotes: a literal quote, still quoted
      {"\"a\"\"\" b", {"a\"", "b"}},
      {"\"a\"\" b\"", {"a\" b"}},
      {"line\nbreak", {"line\nbreak"}},       // only blanks and tabs separate
      {"\"/opt/my tools/svn\" update \"x y\"", {"/opt/my tools/svn", "update", "x y"}},
      {"\"/odd\\\"name\\\\\" -v", {"/odd\"name\\", "-v"}},  // the program follows the same rules
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.expected) << "command line: [" << c.line << "]";
  }
}

TEST(QuoteArgumentTest, LeavesPlainArgumentsAlone) {
  // Plain values stay readable in logs; the round trips below prove the quoted ones.
  for (const char* plain : {"plain", "back\\slash\\", "/srv/Grüße", "--flag=a,b"}) {
    EXPECT_EQ(QuoteArgument(plain), plain);
  }
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("a b\\"), "\"a b\\\\\"");
}

TEST(QuoteArgumentTest, RoundTripsHostileStringsInEveryPosition) {
  Strings strings = HostileStrings();
  std::ifstream list(std::string(BRIMORA_TEST_DATA_DIR) + "/blns.txt", std::ios::binary);
  ASSERT_TRUE(list) << "tests/data/blns.txt is missing";
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line[0] != '#') strings.push_back(line);
  }
  ASSERT_GT(strings.size(), 400u);

  for (const std::string& s : strings) {
    EXPECT_EQ(SplitCommandLine(QuoteArgument(s)), Strings{s}) << "argument: [" << s << "]";
    // In the middle of a line, between other quoted values, and as the program name.
    Strings words = {"program", s, "a b\\", s};
    EXPECT_EQ(SplitCommandLine(CommandLine(words)), words) << "argument: [" << s << "]";
    Strings asProgram = {s, "x"};
    EXPECT_EQ(SplitCommandLine(CommandLine(asProgram)), asProgram) << "program: [" << s << "]";
  }
}

TEST(QuoteArgumentTest, RoundTripsRandomMixesOfQuotesBackslashesAndBlanks) {
  const char alphabet[] = {' ', '\t', '"', '\\', 'a', '\n', '\xff'};
  std::mt19937 random(20260101);
  for (int round = 0; round < 5000; ++round) {
    Strings words(1 + random() % 4);
    for (std::string& word : words) {
      std::size_t length = random() % 9;
      for (std::size_t i = 0; i < length; ++i) word.push_back(alphabet[random() % sizeof alphabet]);
    }
    std::string line = CommandLine(words);
    ASSERT_EQ(SplitCommandLine(line), words) << "command line: [" << line << "]";
  }
}

// --- Running children ------------------------------------------------------------------------

TEST(RunProcessTest, HostileArgumentsReachTheChildByteForByte) {
  TempFolder folder;
  Strings arguments = HostileStrings();
  std::string output;
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(CommandLine({Tool(), "args"}) + " " + CommandLine(arguments), output,
                         &exitCode, folder.Path().string()));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(output, ArgsReport(arguments));
  EXPECT_FALSE(fs::exists(folder.Path() / "x")) << "a shell ran part of an argument";
  EXPECT_FALSE(fs::exists(folder.Path() / "y")) << "a shell ran part of an argument";
}

TEST(RunProcessTest, PassesTheExitCodeAndCapturesStandardErrorOnlyWhenAsked) {
  struct Case {
    int code;
    bool stderrToo;
    std::string expected;
  };
  const Case cases[] = {
      {0, false, "out\n"}, {0, true, "out\nerr\n"}, {3, false, "out\n"}, {255, true, "out\nerr\n"}};
  for (const Case& c : cases) {
    std::string output = "stale";
    int exitCode = -1;
    EXPECT_TRUE(RunProcess(CommandLine({Tool(), "exit", std::to_string(c.code)}), output,
                           &exitCode, {}, 600, false, c.stderrToo))
        << "code " << c.code << ", stderrToo " << c.stderrToo;
    EXPECT_EQ(exitCode, c.code);
    EXPECT_EQ(output, c.expected) << "code " << c.code << ", stderrToo " << c.stderrToo;
  }
}

TEST(RunProcessTest, ReadsALargeOutputCompletely) {
  const std::size_t size = 8 * 1024 * 1024 + 17;
  std::string output;
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(CommandLine({Tool(), "big", std::to_string(size)}), output, &exitCode));
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(output.size(), size);
  for (std::size_t i = 0; i < size; ++i) {
    ASSERT_EQ(output[i], static_cast<char>('0' + i % 10)) << "byte " << i;
  }
}

TEST(RunProcessTest, WorkingFolderAndStandardInput) {
  TempFolder folder;
  fs::path odd = folder.Path() / "with \"quote\" and blank \\";
  fs::create_directory(odd);
  std::string output;
  ASSERT_TRUE(RunProcess(CommandLine({Tool(), "cwd"}), output, nullptr, odd.string()));
  EXPECT_EQ(fs::path(output), fs::canonical(odd));

  // Without a working folder the child has the caller's.
  ASSERT_TRUE(RunProcess(CommandLine({Tool(), "cwd"}), output));
  EXPECT_EQ(fs::path(output), fs::current_path());

  // Standard input is at its end at once, so a prompting child cannot wait for an answer.
  ASSERT_TRUE(RunProcess(CommandLine({Tool(), "stdin"}), output, nullptr, {}, 10));
  EXPECT_EQ(output, "eof 0");

  // A relative program path is taken against the child's working folder.
  fs::copy_file(Tool(), folder.Path() / "tool");
  ASSERT_TRUE(RunProcess("./tool args a", output, nullptr, folder.Path().string()));
  EXPECT_EQ(output, ArgsReport({"a"}));
}

TEST(RunProcessTest, ProgramsThatCannotStartAnswerFalseWithoutExitCode) {
  TempFolder folder;
  fs::path notExecutable = folder.Path() / "script";
  std::ofstream(notExecutable) << "#!/bin/sh\ntouch x\n";
  fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);

  const std::string cases[] = {
      "",
      "   ",
      (folder.Path() / "missing").string(),
      "brimora-no-such-program-on-path",
      notExecutable.string(),
      folder.Path().string(),  // a folder
      CommandLine({Tool(), "args"}) + std::string(" a\0b", 4),
  };
  for (const std::string& line : cases) {
    std::string output = "stale";
    int exitCode = 12345;
    EXPECT_FALSE(RunProcess(line, output, &exitCode, folder.Path().string())) << "[" << line << "]";
    EXPECT_EQ(exitCode, 12345) << "[" << line << "]";
    EXPECT_EQ(output, "") << "[" << line << "]";
  }
  // A working folder that does not exist is not replaced by the caller's.
  int exitCode = 12345;
  std::string output;
  EXPECT_FALSE(RunProcess(CommandLine({Tool(), "cwd"}), output, &exitCode,
                          (folder.Path() / "missing").string()));
  EXPECT_EQ(exitCode, 12345);
  EXPECT_FALSE(fs::exists(folder.Path() / "x"));
}

TEST(RunProcessTest, FindsAProgramNameOnPath) {
  const char* saved = getenv("PATH");
  std::string oldPath = saved != nullptr ? saved : "";
  setenv("PATH", (std::string(BRIMORA_TEST_TOOLS_DIR) + ":" + oldPath).c_str(), 1);
  std::string output;
  bool ran = RunProcess("child_behaviour args \"a b\"", output);
  if (saved != nullptr) {
    setenv("PATH", oldPath.c_str(), 1);
  } else {
    unsetenv("PATH");
  }
  ASSERT_TRUE(ran);
  EXPECT_EQ(output, ArgsReport({"a b"}));
}

TEST(RunProcessTest, AChildEndedByASignalIsNotASuccess) {
  std::string output;
  int exitCode = -1;
  EXPECT_FALSE(RunProcess(CommandLine({Tool(), "signal", std::to_string(SIGKILL)}), output,
                          &exitCode));
  EXPECT_EQ(exitCode, 128 + SIGKILL);
}

TEST(RunProcessTest, TimeOutEndsTheChildAndItsWholeGroup) {
  TempFolder folder;
  fs::path pidFile = folder.Path() / "pids";
  std::string output;
  int exitCode = 12345;
  auto start = Clock::now();
  EXPECT_FALSE(RunProcess(CommandLine({Tool(), "grandchild", pidFile.string()}), output,
                          &exitCode, {}, 1));
  auto elapsed = Clock::now() - start;
  EXPECT_EQ(exitCode, 12345);
  EXPECT_GE(elapsed, std::chrono::milliseconds(950));
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));

  Strings pids = ReadPids(pidFile);
  ASSERT_EQ(pids.size(), 2u) << "the child did not record its pids in time";
  for (const std::string& pid : pids) {
    bool gone = AwaitGone(std::stoi(pid));
    if (!gone) kill(std::stoi(pid), SIGKILL);
    EXPECT_TRUE(gone) << "process " << pid << " survived the time-out";
  }
}

TEST(RunProcessTest, TimeOutEndsAChildThatIgnoresTerm) {
  std::string output;
  auto start = Clock::now();
  EXPECT_FALSE(RunProcess(CommandLine({Tool(), "hang-ignore-term"}), output, nullptr, {}, 1));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(output, "ready\n") << "output read before the time-out is kept";
}

TEST(RunProcessTest, ABackgroundProcessHoldingTheOutputDoesNotDelayTheCall) {
  TempFolder folder;
  fs::path pidFile = folder.Path() / "pid";
  std::string output;
  int exitCode = -1;
  auto start = Clock::now();
  bool ran = RunProcess(CommandLine({Tool(), "daemon", pidFile.string()}), output, &exitCode,
                        {}, 30);
  auto elapsed = Clock::now() - start;
  Strings pids = ReadPids(pidFile);
  ASSERT_EQ(pids.size(), 1u);
  pid_t background = std::stoi(pids[0]);
  // A child that ended by itself leaves what it started running (a server it launched).
  bool survived = !ProcessGone(background);
  kill(background, SIGKILL);

  EXPECT_TRUE(ran);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(output, "done\n");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_TRUE(survived);
}

}  // namespace
}  // namespace brimora
