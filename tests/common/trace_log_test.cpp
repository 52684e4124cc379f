#include "common/trace_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "backup/backup_log.h"
#include "common/log_folder_fixture.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
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
constexpr char kFileFull[] = "** File full, starting new file ** \n";

// Each test starts the log itself, with a clock fixed at 02:03:55 on a day of January 1980.
struct TraceLogTest : test::LogFolderTest {
  TraceLogTest() : LogFolderTest(kApp, false) { SetDay(2); }
  static void SetDay(int day) {
    const platform::LocalTime time{1980, 1, day, (day + 1) % 7, 2, 3, 55};  // the 2nd: Wednesday
    SetTraceLogClockForTesting([time] { return time; });
  }

  std::string Read(const char* file) const { return test::ReadFile(LogPath(file)); }
  Lines LinesOf(const char* file) const { return test::ReadLines(LogPath(file)); }
  // A line as the fixed clock writes it; main-log messages carry their shown level.
  static std::string LogLine(const std::string& text, const char* day = "Wed Jan 02") {
    return day + std::string(" 02:03:55 1980\tSystem\t") + text;
  }
  static std::string MainLine(int shown, const std::string& message) {
    return LogLine(std::to_string(shown) + " - " + message);
  }
};

// The first header of each file comes from whichever writes to it first; a new day gets a header
// of its own in the main log and the errors file, never in the access log.
TEST_F(TraceLogTest, EachFileGetsItsLineFormatAndHeadersAndStandardErrorTheRest) {
  testing::internal::CaptureStderr();
  WriteLog(1, "before start");
  WriteLog(2, "dropped by the mask");
  InitTraceLog(kApp, false);
  WriteLog(1, "copied %d files from %s", 3, "/srv/a");
  WriteLog(0, "ERROR: copy of %s failed\n", "a\rb");
  SetCurrentThreadLoginText("loginid:eve\nforged");  // a login id comes from a client
  WriteLog(1, "served");
  SetCurrentThreadLoginText("");
  SetDay(3);
  WriteLog(1, "next day");
  WriteLog(0, "an error");
  SetDay(4);
  RunTraceLogHousekeepingForTesting();
  RunTraceLogHousekeepingForTesting();  // the same day again: nothing more
  ShutdownTraceLog();
  WriteLog(999, "after shutdown");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "before start\nERROR: copy of a\\rb failed\nan error\nafter shutdown\n");
  EXPECT_FALSE(IsTraceLogActive());
  const std::string day3 = "** New Day ** Thu Jan 03 02:03:55 1980\n";
  const std::string day4 = "** New Day ** Fri Jan 04 02:03:55 1980\n";
  EXPECT_EQ(Read(kMainLog), std::string(kStartup) + "\n" + MainLine(1, "copied 3 files from /srv/a\n") +
                                MainLine(0, "ERROR: copy of a\\rb failed\n") +
                                "Wed Jan 02 02:03:55 1980\teve\\nforged\t1 - served\n" + day3 +
                                LogLine("1 - next day\n", "Thu Jan 03") +
                                LogLine("0 - an error\n", "Thu Jan 03") + day4);
  EXPECT_EQ(Read(kErrors), std::string(kSpacedStartup) + "\n" + LogLine("ERROR: copy of a\\rb failed\n") + day3 +
                               LogLine("an error\n", "Thu Jan 03") + day4);
  EXPECT_EQ(fs::file_size(LogPath(kAccess)), 0u);
}

TEST_F(TraceLogTest, LevelMaskFiltersAndAcceptsOnlyOneTo65535) {
  // `shown`: the level number in the line (its lowest bit set); -1: dropped.
  const struct { std::uint32_t mask; unsigned level; int shown; } cases[] = {
      {1, 2, -1}, {1, 8, -1}, {3, 2, 2},  {2, 6, 2},  {8, 999, 1}, {1, 1, 1},
      {8, 8, 4},  {12, 4, 3}, {0x8000, 0x8000, 16}, {0xFFFF, 0x10000, -1},
  };
  InitTraceLog(kApp, false);
  Lines expected = {kStartup};
  for (const auto& c : cases) {
    SetLogLevel(c.mask);
    expected.push_back(MainLine(1, Format("Log Level Reset to %X", c.mask)));
    WriteLog(c.level, "level %u under mask %X", c.level, c.mask);
    if (c.shown >= 0) expected.push_back(MainLine(c.shown, Format("level %u under mask %X", c.level, c.mask)));
  }
  for (const std::uint32_t refused : {0u, 0x10000u, 0xFFFFFFFFu}) {
    SetLogLevel(refused);
    expected.push_back(MainLine(1, Format("Log Level Set error - Invalid value %X", refused)));
  }
  WriteLog(2, "refused masks leave FFFF in force");
  expected.push_back(MainLine(2, "refused masks leave FFFF in force"));
  EXPECT_EQ(LinesOf(kMainLog), expected);
}

// Both logs write a message as OneLogLine does, each with its own limit.
TEST_F(TraceLogTest, EachLogCutsAtItsOwnLimitAndEscapesIntoOneLine) {
  const std::size_t backupLimit = CBackupLog::kMaxMessageLength;
  InitTraceLog(kApp, false);
  CBackupLog backupLog;
  ASSERT_TRUE(backupLog.Open(LogPath("Backup.log")));
  for (const std::string& message : {std::string("a\rb\n"), std::string(backupLimit + 1, 'c') + "\n"}) {
    WriteLogText(1, message);
    EXPECT_TRUE(backupLog.WriteText(1, message));
  }
  ShutdownTraceLog();
  EXPECT_EQ(LinesOf(kMainLog), (Lines{kStartup, MainLine(1, "a\\rb"), MainLine(1, std::string(4997, 'c'))}));
  // Backup-log lines begin with the time and a tab, the first one after the byte-order mark.
  const Lines backup = LinesOf("Backup.log");
  ASSERT_EQ(backup.size(), 2u);
  EXPECT_EQ(backup[0].substr(28), "a\\rb");
  EXPECT_EQ(backup[1].substr(25), std::string(backupLimit, 'c'));
}

// A link planted at a log's path is never written through: the access log is not opened, the
// errors file of the last run is moved aside as a link (a dangling one too), and so is a full
// main log that a link replaced while it was open.
TEST_F(TraceLogTest, LinksAtLogPathsAreNeverWrittenThroughAndMoveAsideAsLinks) {
  const std::string target = root_ / "root-owned.txt";
  test::WriteFile(target, "precious\n");
  test::WriteFile(LogPath(kMainLog), std::string(1048577, 'x'));
  fs::create_symlink(root_ / "never-created.txt", LogPath(kErrors));
  fs::create_symlink(target, LogPath(kAccess));
  testing::internal::CaptureStdout();
  InitTraceLog(kApp, false);
  fs::remove(LogPath(kMainLog));
  fs::create_symlink(target, LogPath(kMainLog));
  RunTraceLogHousekeepingForTesting();
  testing::internal::CaptureStderr();
  WriteLog(0, "an error");
  ShutdownTraceLog();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open access log file\n");
  EXPECT_EQ(test::ReadFile(target), "precious\n");
  EXPECT_TRUE(fs::is_symlink(LogPath(kErrorsPrev)) && fs::is_symlink(LogPath(kMainPrev)));
  EXPECT_EQ(LinesOf(kErrors), (Lines{kSpacedStartup, LogLine("an error")}));
  EXPECT_EQ(LinesOf(kMainLog), (Lines{kSpacedStartup, MainLine(0, "an error")}));
}

// A log above 1 MiB is moved aside, and the new one starts with the retained messages; when the
// move fails, the log goes on in the same file.
TEST_F(TraceLogTest, RotatesOnlyAboveOneMebibyteAndRewritesRetainedMessages) {
  const std::string header = std::string(kStartup) + "\n", retained = MainLine(1, "keep me\n");
  const std::string after = MainLine(1, "after\n");
  const std::string fresh = retained + "** New Day ** Wed Jan 02 02:03:55 1980\n" + after;
  for (const auto& [size, blocked] : {std::pair{1048576u, false}, {1048577u, false}, {1048577u, true}}) {
    SCOPED_TRACE("size " + std::to_string(size) + (blocked ? " blocked" : ""));
    fs::remove_all(LogPath(""));
    if (blocked) fs::create_directories(LogPath(kMainPrev) + "/blocker");  // cannot be replaced
    std::vector<fs::path> callbackNames;  // the files named to the rotation callback
    const std::string padding = std::string(size - header.size() - retained.size() - 1, 'x') + "\n";
    test::WriteFile(LogPath(kMainLog), padding);
    InitTraceLog(kApp, false, [&](const std::string& name) { callbackNames.emplace_back(name); });
    WriteLog(999, "keep me");
    ASSERT_EQ(fs::file_size(LogPath(kMainLog)), size);
    RunTraceLogHousekeepingForTesting();
    WriteLog(1, "after");
    ShutdownTraceLog();
    const std::string old = padding + header + retained;
    if (size == 1048576) {
      EXPECT_FALSE(fs::exists(LogPath(kMainPrev)));
      EXPECT_EQ(Read(kMainLog), old + after);
      EXPECT_EQ(callbackNames, std::vector<fs::path>{fs::canonical(LogPath(kErrors))});  // at start-up
      continue;
    }
    EXPECT_EQ(Read(kMainLog), blocked ? old + kFileFull + fresh : fresh);
    EXPECT_EQ(Read(kMainPrev), blocked ? "" : old + kFileFull);
    ASSERT_EQ(callbackNames.size(), 2u);
    EXPECT_EQ(callbackNames[1], fs::canonical(LogPath(blocked ? kMainLog : kMainPrev)));
  }
}

// Eight writers, with the housekeeping thread running, write messages of a length of their own;
// every tenth is an error. No line may be lost, doubled or mixed with another.
TEST_F(TraceLogTest, ConcurrentWritersProduceWholeLines) {
  const auto message = [](int t, int m) { return Format("writer %d message %d %s", t, m, std::string(t * 40, 'a')); };
  InitTraceLog(kApp, true);
  testing::internal::CaptureStderr();  // the level-0 echoes
  std::vector<std::thread> writers;
  std::multiset<std::string> expected, written;
  for (int t = 0; t < 8; ++t) {
    writers.emplace_back([t, message] {
      for (int m = 0; m < 250; ++m) WriteLogText(m % 10 == 0 ? 0 : 1, message(t, m));
    });
    for (int m = 0; m < 250; ++m) expected.insert(MainLine(m % 10 == 0 ? 0 : 1, message(t, m)));
  }
  for (std::thread& writer : writers) writer.join();
  ShutdownTraceLog();
  testing::internal::GetCapturedStderr();
  for (const std::string& line : LinesOf(kMainLog)) {
    if (!line.starts_with("** ")) written.insert(line);
  }
  EXPECT_TRUE(written == expected) << written.size() << " lines of " << expected.size() << " expected";
  EXPECT_EQ(LinesOf(kErrors).size(), 1u + 8 * 250 / 10);
}

}  // namespace
}  // namespace brimora
