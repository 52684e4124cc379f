#include "common/trace_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/tree_walk.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::string Repeat(const std::string& text, std::size_t count) {
  std::string repeated;
  for (std::size_t i = 0; i < count; ++i) repeated += text;
  return repeated;
}

constexpr char kApp[] = "Test";
constexpr char kMainLog[] = "TestLog.txt";
constexpr char kMainPrev[] = "TestLog_prev.txt";
constexpr char kErrors[] = "TestErrors.txt";
constexpr char kErrorsPrev[] = "TestErrors_prev.txt";
constexpr char kAccess[] = "TestAccess.txt";
// The first header of a run: a message to the main log writes the first form, housekeeping and
// the errors file the second.
constexpr char kStartup[] = "** TestLog Startup ** Wed Jan 02 02:03:55 1980";
constexpr char kSpacedStartup[] = "** Test Log Startup ** Wed Jan 02 02:03:55 1980";

// Runs each test in <temp>/work, so the log lands in <temp>/Logs, with a fixed clock.
class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "work");
    savedCwd_ = fs::current_path();
    fs::current_path(root_ / "work");
    SetDay(2);
  }

  void TearDown() override {
    ShutdownTraceLog();
    SetTraceLogClockForTesting({});
    fs::current_path(savedCwd_);
  }

  // 2 January 1980 was a Wednesday.
  static void SetDay(int day) {
    const platform::LocalTime time{1980, 1, day, (day + 1) % 7, 2, 3, 55};
    SetTraceLogClockForTesting([time] { return time; });
  }

  std::string LogPath(const char* file) const { return root_ / "Logs" + "/" + file; }
  std::string Read(const char* file) const { return test::ReadFile(LogPath(file)); }
  Lines LinesOf(const char* file) const { return test::ReadLines(LogPath(file)); }

  // A line as the fixed clock writes it; main-log messages carry their shown level.
  static std::string LogLine(const std::string& text, const char* day = "Wed Jan 02") {
    return day + std::string(" 02:03:55 1980\tSystem\t") + text;
  }
  static std::string MainLine(int shown, const std::string& message) {
    return LogLine(std::to_string(shown) + " - " + message);
  }

  test::TempFolder root_;
  fs::path savedCwd_;
};

TEST_F(TraceLogTest, EachFileGetsItsLineFormatAndStandardErrorTheRest) {
  testing::internal::CaptureStderr();
  WriteLog(1, "before start");
  WriteLog(2, "dropped by the mask");
  InitTraceLog(kApp, false);
  WriteLog(1, "copied %d files from %s", 3, "/srv/a");
  WriteLog(0, "ERROR: CopyFolder - failed\n");
  ShutdownTraceLog();
  WriteLog(999, "after shutdown");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "before start\nERROR: CopyFolder - failed\nafter shutdown\n");
  EXPECT_FALSE(IsTraceLogActive());

  EXPECT_EQ(LinesOf(kMainLog), (Lines{kStartup, MainLine(1, "copied 3 files from /srv/a"),
                                      MainLine(0, "ERROR: CopyFolder - failed")}));
  EXPECT_EQ(LinesOf(kErrors),
            (Lines{kSpacedStartup, LogLine("ERROR: CopyFolder - failed")}));
  EXPECT_TRUE(fs::exists(LogPath(kAccess)));
  EXPECT_EQ(Read(kAccess), "");
}

TEST_F(TraceLogTest, LevelMaskFiltersAndAcceptsOnlyOneTo65535) {
  struct Case {
    std::uint32_t mask;
    unsigned level;
    int shown;  // the level number in the line (the lowest bit set); -1: dropped
  };
  const Case cases[] = {
      {1, 2, -1}, {1, 8, -1}, {3, 2, 2},  {2, 6, 2},  {8, 999, 1},
      {1, 1, 1},  {8, 8, 4},  {12, 4, 3}, {0x8000, 0x8000, 16}, {0xFFFF, 0x10000, -1},
  };
  InitTraceLog(kApp, false);
  Lines expected = {kStartup};
  for (const Case& c : cases) {
    SetLogLevel(c.mask);
    expected.push_back(MainLine(1, Format("Log Level Reset to %X", c.mask)));
    WriteLog(c.level, "level %u under mask %X", c.level, c.mask);
    if (c.shown >= 0) {
      expected.push_back(MainLine(c.shown, Format("level %u under mask %X", c.level, c.mask)));
    }
  }
  // Refused masks leave FFFF in force.
  for (const std::uint32_t refused : {0u, 0x10000u, 0xFFFFFFFFu}) {
    SetLogLevel(refused);
    expected.push_back(MainLine(1, Format("Log Level Set error - Invalid value %X", refused)));
  }
  WriteLog(2, "detail still shown");
  expected.push_back(MainLine(2, "detail still shown"));
  EXPECT_EQ(LinesOf(kMainLog), expected);
}

TEST_F(TraceLogTest, LongMessagesAreCutAtWholeCharacters) {
  const std::string a4996(4996, 'a');
  const std::pair<std::string, std::string> cases[] = {  // message, line written
      {std::string(4997, 'b') + "\n", std::string(4997, 'b')},  // the newline is not counted
      {std::string(4998, 'c'), std::string(4997, 'c')},
      {a4996 + "\xC3\xA9" + "zz", a4996 + "\xC3\xA9"},
      {a4996 + "x\xE2\x82\xAC", a4996 + "x"},
      {a4996 + "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", a4996 + "\xF0\x9F\x98\x80"},
      {a4996 + "\xFF\xFE", a4996 + "\xFF"},  // invalid bytes count one each
      {"", ""},
      // The cut comes first and the escapes after it, so an escape is never cut in two and the
      // line may grow past the limit; a line end that the cut leaves last ends the line.
      {a4996 + "\x1b[31m", a4996 + "\\x1B"},
      {std::string(4997, '\x01') + "\n", Repeat("\\x01", 4997)},
      {std::string(4998, '\t'), Repeat("\\t", 4997)},
      {a4996 + "\nzz", a4996},
  };
  InitTraceLog(kApp, false);
  for (const auto& [message, written] : cases) WriteLogText(1, message);
  const Lines lines = LinesOf(kMainLog);
  ASSERT_EQ(lines.size(), 1 + std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(lines[i + 1], MainLine(1, cases[i].second)) << "case " << i;
  }
}

TEST_F(TraceLogTest, ControlCharactersInMessagesAreEscapedSoEveryMessageIsOneLine) {
  const std::string fifoName = "/srv/docs/x\nssh-ed25519 AAAA attacker\n";
  const std::string fifoLine = "INFO: CopyFile - \"/srv/docs/x\\nssh-ed25519 AAAA attacker\\n\" is "
                               "a socket, FIFO or device, not a file. Skipping...";
  const std::string errorLine = "ERROR: copy of a\\rb\\tc\\x1B[2J\\x7F\\x00 failed";
  InitTraceLog(kApp, false);
  testing::internal::CaptureStderr();
  WriteLog(1, kSpecialFileSkipped, fifoName);
  WriteLog(0, "ERROR: copy of %s failed\n", std::string("a\rb\tc\x1b[2J\x7f\0", 11));
  WriteLogText(1, "two line ends\n\n");
  WriteLogText(1, "\n");
  WriteLogText(1, "/installpath: <path> of the root Brimora directory (e.g., C:\\QXR\\Brimora)\n");
  WriteLog(999, "retained\t%s", "tab");
  // A login id comes from a client as well.
  SetCurrentThreadLoginText("loginid:eve\nforged");
  WriteLog(1, "served");
  SetCurrentThreadLoginText("");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), errorLine + "\n") << "the echo is escaped";
  ShutdownTraceLog();

  // Compared as a whole text, so a stray line end or carriage return would show.
  EXPECT_EQ(Read(kMainLog),
            std::string(kStartup) + "\n" + MainLine(1, fifoLine) + "\n" +
                MainLine(0, errorLine) + "\n" + MainLine(1, "two line ends\\n") + "\n" +
                MainLine(1, "") + "\n" +
                MainLine(1, "/installpath: <path> of the root Brimora directory (e.g., "
                            "C:\\QXR\\Brimora)") +
                "\n" + MainLine(1, "retained\\ttab") + "\n" +
                "Wed Jan 02 02:03:55 1980\teve\\nforged\t1 - served\n");
  EXPECT_EQ(Read(kErrors), std::string(kSpacedStartup) + "\n" + LogLine(errorLine) + "\n");
}

TEST_F(TraceLogTest, LinkInPlaceOfALogFileIsNeverWrittenThrough) {
  const struct {
    const char* file;
    const char* notice;
  } cases[] = {
      {kMainLog, "Cannot open trace log file\n"},
      {kErrors, "Cannot open critical error log file\n"},
      {kAccess, "Cannot open access log file\n"},
  };
  const std::string target = root_ / "root-owned.txt";
  for (const auto& c : cases) {
    for (const bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(c.file) + (dangling ? " dangling" : ""));
      fs::remove_all(root_ / "Logs");
      fs::remove(target);
      // A folder that cannot be replaced keeps the errors file from being moved aside.
      fs::create_directories(LogPath(kErrorsPrev) + "/blocker");
      if (!dangling) test::WriteFile(target, "precious\n");
      fs::create_symlink(target, LogPath(c.file));

      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      InitTraceLog(kApp, false);
      WriteLog(0, "an error");
      WriteLog(1, "a message");
      RunTraceLogHousekeepingForTesting();
      ShutdownTraceLog();
      testing::internal::GetCapturedStderr();
      EXPECT_EQ(testing::internal::GetCapturedStdout(), c.notice);

      EXPECT_TRUE(fs::is_symlink(LogPath(c.file)));
      if (dangling) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << "created through the link";
      } else {
        EXPECT_EQ(test::ReadFile(target), "precious\n");
      }
    }
  }
}

TEST_F(TraceLogTest, LinksAreMovedAsideAsLinks) {
  const std::string target = root_ / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  // The errors file of the last run is moved aside at start-up: a link there moves as a link,
  // even a dangling one.
  fs::create_directories(root_ / "Logs");
  fs::create_symlink(root_ / "never-created.txt", LogPath(kErrors));
  // A full main log that a link replaces while it is open: rotation moves the link aside.
  test::WriteFile(LogPath(kMainLog), std::string(1048577, 'x'));
  InitTraceLog(kApp, false);
  fs::remove(LogPath(kMainLog));
  fs::create_symlink(target, LogPath(kMainLog));
  RunTraceLogHousekeepingForTesting();
  testing::internal::CaptureStderr();
  WriteLog(0, "an error");
  ShutdownTraceLog();
  testing::internal::GetCapturedStderr();

  EXPECT_EQ(test::ReadFile(target), "precious\n");
  EXPECT_TRUE(fs::is_symlink(LogPath(kErrorsPrev)));
  EXPECT_TRUE(fs::is_symlink(LogPath(kMainPrev)));
  EXPECT_EQ(LinesOf(kErrors), (Lines{kSpacedStartup, LogLine("an error")}));
  EXPECT_EQ(LinesOf(kMainLog), (Lines{kSpacedStartup, MainLine(0, "an error")}));
}

TEST_F(TraceLogTest, RotationDoesNotReopenThroughALinkPlantedMeanwhile) {
  const std::string target = root_ / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  fs::create_directories(LogPath(kMainPrev) + "/blocker");  // the move fails: reopen to append
  test::WriteFile(LogPath(kMainLog), std::string(1048577, 'x'));
  testing::internal::CaptureStdout();
  InitTraceLog(kApp, false);
  fs::remove(LogPath(kMainLog));
  fs::create_symlink(target, LogPath(kMainLog));
  RunTraceLogHousekeepingForTesting();
  testing::internal::CaptureStderr();
  WriteLog(1, "after the rotation");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "after the rotation\n");
  ShutdownTraceLog();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open trace log file\n");
  EXPECT_EQ(test::ReadFile(target), "precious\n");
}

TEST_F(TraceLogTest, FifoInPlaceOfALogFileNeitherBlocksNorIsWritten) {
  fs::create_directories(LogPath(kErrorsPrev) + "/blocker");
  for (const char* file : {kMainLog, kErrors, kAccess}) {
    ASSERT_EQ(mkfifo(LogPath(file).c_str(), 0600), 0) << file;
  }
  // One FIFO has a reader, so opening it for writing would succeed at once.
  const int reader = open(LogPath(kMainLog).c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  InitTraceLog(kApp, false);
  WriteLog(0, "an error");
  ShutdownTraceLog();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cannot open trace log file\nCannot open critical error log file\n"
            "Cannot open access log file\n");
  char byte;
  EXPECT_EQ(read(reader, &byte, 1), 0) << "nothing reached the FIFO's reader";
  close(reader);
}

TEST_F(TraceLogTest, ErrorsFileOfPreviousRunIsKeptAndMainLogGrows) {
  std::vector<std::string> callbackNames;
  for (const char* run : {"first", "second", "third"}) {
    InitTraceLog(kApp, false, [&](const std::string& name) { callbackNames.push_back(name); });
    WriteLog(0, "%s run failed\n", run);
    WriteLog(1, "%s run done\n", run);
    ShutdownTraceLog();
  }

  EXPECT_EQ(LinesOf(kErrors), (Lines{kSpacedStartup, LogLine("third run failed")}));
  EXPECT_EQ(LinesOf(kErrorsPrev), (Lines{kSpacedStartup, LogLine("second run failed")}));
  const std::string main = Read(kMainLog);
  for (const std::string run : {"first", "second", "third"}) {
    EXPECT_NE(main.find(MainLine(0, run + " run failed\n")), std::string::npos) << run;
    EXPECT_NE(main.find(MainLine(1, run + " run done\n")), std::string::npos) << run;
  }
  ASSERT_EQ(callbackNames.size(), 3u);
  for (const std::string& name : callbackNames) {
    EXPECT_EQ(fs::path(name), fs::canonical(LogPath(kErrors)));
  }
}

TEST_F(TraceLogTest, RotatesOnlyAboveOneMebibyteAndRewritesRetainedMessages) {
  // What the start and the retained message add to a pre-filled main log.
  const std::string header = std::string(kStartup) + "\n";
  const std::string retainedLine = MainLine(1, "keep me\n");
  const std::string after = MainLine(1, "after\n");

  for (const std::size_t size : {1048576u, 1048577u}) {
    SCOPED_TRACE("size " + std::to_string(size));
    fs::remove_all(root_ / "Logs");
    const std::string padding =
        std::string(size - header.size() - retainedLine.size() - 1, 'x') + "\n";
    test::WriteFile(LogPath(kMainLog), padding);

    std::vector<std::string> rotatedNames;
    InitTraceLog(kApp, false, [&](const std::string& name) { rotatedNames.push_back(name); });
    WriteLog(999, "keep me");
    ASSERT_EQ(fs::file_size(LogPath(kMainLog)), size);
    RunTraceLogHousekeepingForTesting();
    WriteLog(1, "after");
    ShutdownTraceLog();

    if (size == 1048576) {
      EXPECT_FALSE(fs::exists(LogPath(kMainPrev)));
      EXPECT_EQ(Read(kMainLog), padding + header + retainedLine + after);
      EXPECT_EQ(rotatedNames.size(), 1u);  // only the errors file at start-up
    } else {
      EXPECT_EQ(Read(kMainPrev), padding + header + retainedLine +
                                     "** File full, starting new file ** \n");
      EXPECT_EQ(Read(kMainLog),
                retainedLine + "** New Day ** Wed Jan 02 02:03:55 1980\n" + after);
      ASSERT_EQ(rotatedNames.size(), 2u);
      EXPECT_EQ(fs::path(rotatedNames[1]), fs::canonical(LogPath(kMainPrev)));
    }
  }
}

TEST_F(TraceLogTest, RotationThatCannotMoveContinuesInTheSameFile) {
  fs::create_directories(LogPath(kMainPrev) + "/blocker");  // a folder cannot be replaced
  const std::string full(1048577, 'x');
  test::WriteFile(LogPath(kMainLog), full);

  std::vector<std::string> rotatedNames;
  InitTraceLog(kApp, false, [&](const std::string& name) { rotatedNames.push_back(name); });
  RunTraceLogHousekeepingForTesting();
  ShutdownTraceLog();

  // The header is the first one of the run, so it is the start-up form.
  EXPECT_EQ(Read(kMainLog),
            full + "** File full, starting new file ** \n" + kSpacedStartup + "\n");
  ASSERT_EQ(rotatedNames.size(), 2u);
  EXPECT_EQ(fs::path(rotatedNames[1]), fs::canonical(LogPath(kMainLog)));
}

TEST_F(TraceLogTest, DayHeadersComeFromWhicheverWritesFirst) {
  InitTraceLog(kApp, false);
  RunTraceLogHousekeepingForTesting();
  WriteLog(1, "one");
  SetDay(3);
  WriteLog(1, "two");
  WriteLog(0, "three");
  SetDay(4);
  RunTraceLogHousekeepingForTesting();
  RunTraceLogHousekeepingForTesting();  // same day again: nothing more
  ShutdownTraceLog();

  const std::string day3 = "** New Day ** Thu Jan 03 02:03:55 1980";
  const std::string day4 = "** New Day ** Fri Jan 04 02:03:55 1980";
  EXPECT_EQ(LinesOf(kMainLog),
            (Lines{kSpacedStartup, MainLine(1, "one"), day3,
                   LogLine("1 - two", "Thu Jan 03"), LogLine("0 - three", "Thu Jan 03"),
                   day4}));
  EXPECT_EQ(LinesOf(kErrors),
            (Lines{kSpacedStartup, day3, LogLine("three", "Thu Jan 03"), day4}));
  EXPECT_EQ(Read(kAccess), "");  // shares the main log's marker, so it never gets a header
}

TEST_F(TraceLogTest, ConcurrentWritersProduceWholeLines) {
  constexpr int kThreads = 8;
  constexpr int kMessages = 250;
  // Message m of writer t, of a length that differs by writer; every tenth is an error.
  const auto message = [](int t, int m) {
    return Format("writer %d message %d %s", t, m, std::string(t * 40, static_cast<char>('a' + t)));
  };
  const auto level = [](int m) { return m % 10 == 0 ? 0 : 1; };
  InitTraceLog(kApp, true);
  testing::internal::CaptureStderr();  // the level-0 echoes
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int m = 0; m < kMessages; ++m) WriteLogText(level(m), message(t, m));
    });
  }
  for (std::thread& writer : writers) writer.join();
  ShutdownTraceLog();
  testing::internal::GetCapturedStderr();

  std::multiset<std::string> expected, written;
  for (int t = 0; t < kThreads; ++t) {
    for (int m = 0; m < kMessages; ++m) expected.insert(MainLine(level(m), message(t, m)));
  }
  for (const std::string& line : LinesOf(kMainLog)) {
    if (line.rfind("** ", 0) != 0) written.insert(line);
  }
  EXPECT_TRUE(written == expected) << written.size() << " lines of " << expected.size()
                                   << " expected; some lost, doubled or mixed";
  EXPECT_EQ(LinesOf(kErrors).size(), 1u + kThreads * kMessages / 10);
}

}  // namespace
}  // namespace brimora
