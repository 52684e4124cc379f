#include "common/trace_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace brimora {
namespace {

namespace fs = std::filesystem;

constexpr char kApp[] = "Test";
constexpr char kMainLog[] = "TestLog.txt";
constexpr char kMainPrev[] = "TestLog_prev.txt";
constexpr char kErrors[] = "TestErrors.txt";
constexpr char kErrorsPrev[] = "TestErrors_prev.txt";
constexpr char kAccess[] = "TestAccess.txt";

std::string Repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

platform::LocalTime JanuaryDay(int day) {
  // 2 January 1980 was a Wednesday.
  return platform::LocalTime{1980, 1, day, (day + 1) % 7, 2, 3, 55};
}

// Runs each test in <temp>/work, so the log lands in <temp>/Logs, with a fixed clock.
class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "brimora-tracelog-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "work");
    savedCwd_ = fs::current_path();
    fs::current_path(root_ / "work");
    SetDay(2);
  }

  void TearDown() override {
    ShutdownTraceLog();
    SetTraceLogClockForTesting({});
    fs::current_path(savedCwd_);
    fs::remove_all(root_);
  }

  void SetDay(int day) {
    const platform::LocalTime time = JanuaryDay(day);
    SetTraceLogClockForTesting([time] { return time; });
  }

  fs::path LogPath(const char* file) const { return root_ / "Logs" / file; }

  std::string Read(const char* file) const {
    std::ifstream in(LogPath(file), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::vector<std::string> Lines(const char* file) const {
    std::vector<std::string> lines;
    std::istringstream in(Read(file));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The main-log line of a message at a shown level, as the fixed clock writes it.
  static std::string MainLine(int shown, const std::string& message, int day = 2) {
    return "Wed Jan 0" + std::to_string(day) + " 02:03:55 1980\tSystem\t" + std::to_string(shown) +
           " - " + message;
  }

  fs::path root_;
  fs::path savedCwd_;
};

TEST_F(TraceLogTest, EachFileGetsItsLineFormat) {
  InitTraceLog(kApp, false);
  testing::internal::CaptureStderr();
  WriteLog(1, "copied %d files from %s", 3, "/srv/a");
  WriteLog(0, "ERROR: CopyFolder - failed\n");
  const std::string echoed = testing::internal::GetCapturedStderr();
  ShutdownTraceLog();

  EXPECT_EQ(echoed, "ERROR: CopyFolder - failed\n");
  const std::vector<std::string> expectedMain = {
      "** TestLog Startup ** Wed Jan 02 02:03:55 1980",
      "Wed Jan 02 02:03:55 1980\tSystem\t1 - copied 3 files from /srv/a",
      "Wed Jan 02 02:03:55 1980\tSystem\t0 - ERROR: CopyFolder - failed",
  };
  EXPECT_EQ(Lines(kMainLog), expectedMain);
  const std::vector<std::string> expectedErrors = {
      "** Test Log Startup ** Wed Jan 02 02:03:55 1980",
      "Wed Jan 02 02:03:55 1980\tSystem\tERROR: CopyFolder - failed",
  };
  EXPECT_EQ(Lines(kErrors), expectedErrors);
  EXPECT_TRUE(fs::exists(LogPath(kAccess)));
  EXPECT_EQ(Read(kAccess), "");
}

TEST_F(TraceLogTest, LevelMaskFiltersAndLevelNumberIsLowestBit) {
  struct Case {
    std::uint32_t mask;
    unsigned level;
    int shown;  // -1: dropped
  };
  const Case cases[] = {
      {1, 2, -1},  {1, 8, -1},  {3, 2, 2},    {2, 6, 2},       {1, 999, 1},
      {1, 1, 1},   {8, 8, 4},   {12, 4, 3},   {0x8000, 0x8000, 16}, {0xFFFF, 0x10000, -1},
  };
  InitTraceLog(kApp, false);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SetLogLevel(cases[i].mask);
    WriteLog(cases[i].level, "case %d", static_cast<int>(i));
  }
  const std::string log = Read(kMainLog);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string message = "case " + std::to_string(i) + "\n";
    if (c.shown < 0) {
      EXPECT_EQ(log.find("- " + message), std::string::npos)
          << "mask " << c.mask << " level " << c.level << " should be dropped";
    } else {
      EXPECT_NE(log.find(MainLine(c.shown, message)), std::string::npos)
          << "mask " << c.mask << " level " << c.level << " should show " << c.shown;
    }
  }
}

TEST_F(TraceLogTest, SetLogLevelAcceptsOnlyOneTo65535) {
  struct Case {
    std::uint32_t mask;
    const char* message;
  };
  const Case cases[] = {
      {2, "Log Level Reset to 2"},
      {0, "Log Level Set error - Invalid value 0"},
      {65536, "Log Level Set error - Invalid value 10000"},
      {0xFFFFFFFFu, "Log Level Set error - Invalid value FFFFFFFF"},
  };
  InitTraceLog(kApp, false);
  for (const Case& c : cases) SetLogLevel(c.mask);
  // The rejected masks left mask 2 in force.
  WriteLog(2, "detail still shown");
  SetLogLevel(65535);

  std::vector<std::string> expected = {"** TestLog Startup ** Wed Jan 02 02:03:55 1980"};
  for (const Case& c : cases) expected.push_back(MainLine(1, c.message));
  expected.push_back(MainLine(2, "detail still shown"));
  expected.push_back(MainLine(1, "Log Level Reset to FFFF"));
  EXPECT_EQ(Lines(kMainLog), expected);
}

TEST_F(TraceLogTest, LongMessagesAreCutAtWholeCharacters) {
  const std::string a4996(4996, 'a');
  struct Case {
    const char* what;
    std::string message;
    std::string written;  // without the newline
  };
  const std::vector<Case> cases = {
      {"6000 ASCII", std::string(6000, 'a'), std::string(4997, 'a')},
      {"exactly 4997 plus newline", std::string(4997, 'b') + "\n", std::string(4997, 'b')},
      {"4998 ASCII", std::string(4998, 'c'), std::string(4998, 'c').substr(0, 4997)},
      {"two-byte at the boundary", a4996 + "\xC3\xA9" + "zz", a4996 + "\xC3\xA9"},
      {"three-byte after the boundary", a4996 + "x\xE2\x82\xAC", a4996 + "x"},
      {"four-byte at the boundary", a4996 + "\xF0\x9F\x98\x80" + "\xF0\x9F\x98\x80",
       a4996 + "\xF0\x9F\x98\x80"},
      {"all two-byte", Repeat("\xC3\xA9", 6000), Repeat("\xC3\xA9", 4997)},
      {"invalid bytes count one each", a4996 + "\xFF\xFE", a4996 + "\xFF"},
      {"empty", "", ""},
  };
  InitTraceLog(kApp, false);
  for (const Case& c : cases) WriteLogText(1, c.message);
  const std::vector<std::string> lines = Lines(kMainLog);
  ASSERT_EQ(lines.size(), 1 + cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(lines[i + 1], MainLine(1, cases[i].written)) << cases[i].what;
  }
}

TEST_F(TraceLogTest, ErrorsFileOfPreviousRunIsKeptAndMainLogGrows) {
  std::vector<std::string> callbackNames;
  for (const char* run : {"first", "second", "third"}) {
    InitTraceLog(kApp, false, [&](const std::string& name) { callbackNames.push_back(name); });
    WriteLog(0, "%s run failed\n", run);
    WriteLog(1, "%s run done\n", run);
    ShutdownTraceLog();
  }

  EXPECT_EQ(Lines(kErrors).back(), "Wed Jan 02 02:03:55 1980\tSystem\tthird run failed");
  EXPECT_EQ(Read(kErrors).find("second"), std::string::npos);
  EXPECT_EQ(Lines(kErrorsPrev).back(), "Wed Jan 02 02:03:55 1980\tSystem\tsecond run failed");
  EXPECT_EQ(Read(kErrorsPrev).find("first"), std::string::npos);

  const std::string main = Read(kMainLog);
  for (const char* run : {"first", "second", "third"}) {
    EXPECT_NE(main.find(MainLine(0, std::string(run) + " run failed\n")), std::string::npos) << run;
    EXPECT_NE(main.find(MainLine(1, std::string(run) + " run done\n")), std::string::npos) << run;
  }
  ASSERT_EQ(callbackNames.size(), 3u);
  for (const std::string& name : callbackNames) {
    EXPECT_EQ(fs::path(name), fs::canonical(LogPath(kErrors)));
  }
}

TEST_F(TraceLogTest, RotatesOnlyAboveOneMebibyteAndRewritesRetainedMessages) {
  // What the start and the retained message add to a pre-filled main log.
  const std::string header = "** TestLog Startup ** Wed Jan 02 02:03:55 1980\n";
  const std::string retainedLine = MainLine(1, "keep me\n");
  const std::string fileFull = "** File full, starting new file ** \n";
  const std::string newDay = "** New Day ** Wed Jan 02 02:03:55 1980\n";

  struct Case {
    std::size_t size;
    bool rotated;
  };
  for (const Case c : {Case{1048576, false}, Case{1048577, true}}) {
    SCOPED_TRACE("size " + std::to_string(c.size));
    fs::remove_all(root_ / "Logs");
    fs::create_directories(root_ / "Logs");
    const std::string padding =
        std::string(c.size - header.size() - retainedLine.size() - 1, 'x') + "\n";
    std::ofstream(LogPath(kMainLog), std::ios::binary) << padding;

    std::vector<std::string> rotatedNames;
    InitTraceLog(kApp, false, [&](const std::string& name) { rotatedNames.push_back(name); });
    WriteLog(999, "keep me");
    ASSERT_EQ(fs::file_size(LogPath(kMainLog)), c.size);
    RunTraceLogHousekeepingForTesting();
    WriteLog(1, "after");
    ShutdownTraceLog();

    const std::string after = MainLine(1, "after\n");
    if (!c.rotated) {
      EXPECT_FALSE(fs::exists(LogPath(kMainPrev)));
      EXPECT_EQ(Read(kMainLog), padding + header + retainedLine + after);
      EXPECT_EQ(rotatedNames.size(), 1u);  // only the errors file at start-up
    } else {
      EXPECT_EQ(Read(kMainPrev), padding + header + retainedLine + fileFull);
      EXPECT_EQ(Read(kMainLog), retainedLine + newDay + after);
      ASSERT_EQ(rotatedNames.size(), 2u);
      EXPECT_EQ(fs::path(rotatedNames[1]), fs::canonical(LogPath(kMainPrev)));
    }
  }
}

TEST_F(TraceLogTest, RotationThatCannotMoveContinuesInTheSameFile) {
  fs::create_directories(root_ / "Logs" / kMainPrev / "blocker");  // a folder cannot be replaced
  std::ofstream(LogPath(kMainLog), std::ios::binary) << std::string(1048577, 'x');

  std::vector<std::string> rotatedNames;
  InitTraceLog(kApp, false, [&](const std::string& name) { rotatedNames.push_back(name); });
  RunTraceLogHousekeepingForTesting();
  ShutdownTraceLog();

  // The header is the first one of the run, so it is the start-up form.
  EXPECT_EQ(Read(kMainLog), std::string(1048577, 'x') + "** File full, starting new file ** \n" +
                                "** Test Log Startup ** Wed Jan 02 02:03:55 1980\n");
  ASSERT_EQ(rotatedNames.size(), 2u);
  EXPECT_EQ(fs::path(rotatedNames[1]), fs::canonical(LogPath(kMainLog)));
}

TEST_F(TraceLogTest, DayHeadersComeFromWhicheverWritesFirst) {
  InitTraceLog(kApp, false);
  RunTraceLogHousekeepingForTesting();  // first header by housekeeping: blank before "Log"
  WriteLog(1, "one");
  SetDay(3);
  WriteLog(1, "two");
  WriteLog(0, "three");
  SetDay(4);
  RunTraceLogHousekeepingForTesting();
  RunTraceLogHousekeepingForTesting();  // same day again: nothing more
  ShutdownTraceLog();

  const std::vector<std::string> expectedMain = {
      "** Test Log Startup ** Wed Jan 02 02:03:55 1980",
      MainLine(1, "one"),
      "** New Day ** Thu Jan 03 02:03:55 1980",
      "Thu Jan 03 02:03:55 1980\tSystem\t1 - two",
      "Thu Jan 03 02:03:55 1980\tSystem\t0 - three",
      "** New Day ** Fri Jan 04 02:03:55 1980",
  };
  EXPECT_EQ(Lines(kMainLog), expectedMain);
  const std::vector<std::string> expectedErrors = {
      "** Test Log Startup ** Wed Jan 02 02:03:55 1980",
      "** New Day ** Thu Jan 03 02:03:55 1980",
      "Thu Jan 03 02:03:55 1980\tSystem\tthree",
      "** New Day ** Fri Jan 04 02:03:55 1980",
  };
  EXPECT_EQ(Lines(kErrors), expectedErrors);
  EXPECT_EQ(Read(kAccess), "");  // shares the main log's marker, so it never gets a header
}

TEST_F(TraceLogTest, ConcurrentWritersProduceWholeLines) {
  constexpr int kThreads = 8;
  constexpr int kMessages = 250;
  InitTraceLog(kApp, true);
  testing::internal::CaptureStderr();  // the level-0 echoes
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      const std::string filler(t * 40, static_cast<char>('a' + t));
      for (int m = 0; m < kMessages; ++m) {
        WriteLog(m % 10 == 0 ? 0 : 1, "writer %d message %d %s", t, m, filler);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  ShutdownTraceLog();
  testing::internal::GetCapturedStderr();

  std::set<std::pair<int, int>> seen;
  for (const std::string& line : Lines(kMainLog)) {
    if (line.rfind("** ", 0) == 0) continue;
    int t = -1, m = -1, shown = -1;
    char filler[400] = {};
    const int fields = std::sscanf(
        line.c_str(), "Wed Jan 02 02:03:55 1980\tSystem\t%d - writer %d message %d %399s", &shown,
        &t, &m, filler);
    ASSERT_GE(fields, 3) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(shown, m % 10 == 0 ? 0 : 1) << line;
    EXPECT_EQ(std::string(filler), std::string(t * 40, static_cast<char>('a' + t))) << line;
    EXPECT_TRUE(seen.insert({t, m}).second) << "duplicate: " << line;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kMessages));
  EXPECT_EQ(Lines(kErrors).size(), 1u + kThreads * kMessages / 10);
}

TEST_F(TraceLogTest, InactiveLogWritesToStandardErrorOnly) {
  testing::internal::CaptureStderr();
  WriteLog(1, "before start");
  WriteLog(2, "dropped by the mask");
  WriteLog(0, "early error\n");
  InitTraceLog(kApp, false);
  WriteLog(1, "while active");
  ShutdownTraceLog();
  WriteLog(999, "after shutdown");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "before start\nearly error\nafter shutdown\n");
  EXPECT_FALSE(IsTraceLogActive());
  EXPECT_EQ(Lines(kMainLog).size(), 2u);
}

}  // namespace
}  // namespace brimora
