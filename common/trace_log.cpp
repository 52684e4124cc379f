#include "common/trace_log.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/file_utils.h"
#include "common/progress.h"
#include "common/strings.h"
#include "common/time_text.h"
#include "platform/files.h"
#include "platform/open_file.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxNameCodePoints = 260;
constexpr std::size_t kMaxMessageCodePoints = 4997;
constexpr long kRotationSize = 1048576;
constexpr int kMoveAttempts = 5;
constexpr auto kMovePause = std::chrono::milliseconds(10);
constexpr auto kHousekeepingInterval = std::chrono::milliseconds(1000);
constexpr int kDayUnset = -1;
constexpr unsigned kRetainedLevel = 999;
constexpr unsigned kMaxShownLevel = 255;
constexpr std::uint32_t kInitialMask = 1;
constexpr std::uint32_t kMaxMask = 65535;

constexpr char kCannotOpenMain[] = "Cannot open trace log file\n";
constexpr char kCannotOpenErrors[] = "Cannot open critical error log file\n";
constexpr char kCannotOpenAccess[] = "Cannot open access log file\n";
constexpr char kCannotStartThread[] = "Could not create logging thread\n";
constexpr char kWriteLogStartup[] = "** %sLog Startup ** ";
constexpr char kHousekeepingStartup[] = "** %s Log Startup ** ";
constexpr char kNewDay[] = "** New Day ** ";
constexpr char kFileFull[] = "** File full, starting new file ** \n";
constexpr char kLevelReset[] = "Log Level Reset to %X\n";
constexpr char kLevelInvalid[] = "Log Level Set error - Invalid value %X\n";

struct LogFile {
  std::FILE* handle = nullptr;
  std::string path;
  std::string previousPath;
};

struct TraceLogState {
  // Serialises Init and Shutdown against each other; never taken by writers.
  std::mutex lifecycle;
  bool started = false;

  // Re-entrant because a rotation writes the retained messages through WriteLogText while
  // holding it. Guards everything below up to the housekeeping members.
  std::recursive_mutex lock;
  std::string name;
  LogFile main;
  LogFile errors;
  LogFile access;
  int mainDay = kDayUnset;
  int errorsDay = kDayUnset;
  std::vector<std::string> retained;
  LogRotationCallback callback;

  std::atomic<bool> active{false};
  std::atomic<std::uint32_t> mask{kInitialMask};

  std::thread housekeeper;
  std::mutex stopMutex;
  std::condition_variable stopSignal;
  bool stopRequested = false;

  std::mutex clockMutex;
  std::function<platform::LocalTime()> clock;
};

// Never destroyed: threads of other objects may still log while static objects are torn down.
TraceLogState& State() {
  static TraceLogState* state = new TraceLogState;
  return *state;
}

thread_local std::string tLoginText;

platform::LocalTime Now() {
  TraceLogState& state = State();
  std::function<platform::LocalTime()> clock;
  {
    std::lock_guard<std::mutex> guard(state.clockMutex);
    clock = state.clock;
  }
  return clock ? clock() : platform::LocalTimeNow();
}

void WriteText(std::FILE* file, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), file);
}

void WriteFlushed(std::FILE* file, const std::string& text) {
  WriteText(file, text);
  std::fflush(file);
}

// The sink used while the log is not active or the main log is missing.
void WriteDebugOutput(const std::string& text) {
  WriteErrorOutput(text);
}

void PrintNotice(const char* text) {
  WriteReportOutput(text);
}

std::string LogPrefix(const platform::LocalTime& now) {
  // A login id is text from a client, so it is escaped as messages are.
  const std::string login = EscapeControlCharacters(CurrentLoginId());
  return CtimeText(now) + "\t" + (login.empty() ? std::string("System") : login);
}

void WriteDayHeader(std::FILE* file, const char* startupFormat, int& dayMarker,
                    const platform::LocalTime& now, const std::string& name) {
  std::string header =
      dayMarker == kDayUnset ? Format(startupFormat, name) : std::string(kNewDay);
  header += CtimeText(now) + "\n";
  WriteFlushed(file, header);
  dayMarker = now.day;
}

bool Passes(unsigned level, std::uint32_t mask) {
  return level == 0 || level == 1 || level == kRetainedLevel || (level & mask) != 0;
}

unsigned ShownLevel(unsigned level) {
  if (level == kRetainedLevel) return 1;
  return std::min(kMaxShownLevel, 1u + static_cast<unsigned>(std::countr_zero(level)));
}

// Renames with replacement; a rename moves a link itself, never what it points to. Between
// file systems only a regular file is moved, by copying and removing it, and the copy replaces
// a link at `to` rather than writing through it.
bool MoveReplacing(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) return true;
  if (error != std::errc::cross_device_link) return false;
  platform::FileInfo info;
  if (platform::GetFileInfo(from, false, &info) != 0 || info.kind != platform::EntryKind::kFile) {
    return false;
  }
  bool skipped = false;
  if (platform::CopyOneFile(from, to, false, platform::SourceLink::kCopyAsLink, &skipped) != 0 || skipped) return false;
  return platform::RemoveFile(from) == 0;
}

// Null when the file cannot be opened, also when a link, FIFO or anything else but a regular
// file stands at the path: the log never writes through a link planted in its folder.
std::FILE* OpenLogFile(const std::string& path, platform::OpenMode mode) {
  std::FILE* file = nullptr;
  if (platform::OpenFileStream(path, mode, &file) != 0) return nullptr;
  // The write position is the file's size, which the rotation check reads with ftell.
  if (mode == platform::OpenMode::kAppend) std::fseek(file, 0, SEEK_END);
  return file;
}

std::FILE* OpenAppending(const std::string& path) {
  return OpenLogFile(path, platform::OpenMode::kAppend);
}

std::FILE* OpenTruncating(const std::string& path) {
  return OpenLogFile(path, platform::OpenMode::kTruncate);
}

void CloseFile(LogFile& file) {
  if (file.handle != nullptr) std::fclose(file.handle);
  file.handle = nullptr;
}

void CheckLogFile(LogFile& file, int& dayMarker) {
  TraceLogState& state = State();
  const platform::LocalTime now = Now();
  bool rotated = false;
  std::string oldContents;
  LogRotationCallback callback;
  {
    std::lock_guard<std::recursive_mutex> guard(state.lock);
    const long size = file.handle != nullptr ? std::ftell(file.handle) : 0;
    if (size > kRotationSize) {
      WriteText(file.handle, kFileFull);
      CloseFile(file);
      bool moved = false;
      for (int attempt = 0; attempt < kMoveAttempts && !moved; ++attempt) {
        moved = MoveReplacing(file.path, file.previousPath);
        if (!moved) std::this_thread::sleep_for(kMovePause);
      }
      file.handle = moved ? OpenTruncating(file.path) : OpenAppending(file.path);
      rotated = true;
      oldContents = moved ? file.previousPath : file.path;
      callback = state.callback;
      if (file.handle != nullptr) {
        const std::vector<std::string> retained = state.retained;
        for (const std::string& message : retained) WriteLog(1, "%s\n", message);
      } else {
        PrintNotice(kCannotOpenMain);
      }
    }

    if (!(dayMarker == now.day && !rotated)) {
      if (file.handle == nullptr) {
        dayMarker = now.day;
      } else {
        WriteDayHeader(file.handle, kHousekeepingStartup, dayMarker, now, state.name);
      }
    }
  }
  if (rotated && callback) callback(oldContents);
}

void HousekeepingPass() {
  TraceLogState& state = State();
  // The access file has no day marker of its own and shares the main log's.
  CheckLogFile(state.main, state.mainDay);
  CheckLogFile(state.errors, state.errorsDay);
  CheckLogFile(state.access, state.mainDay);
}

void HousekeepingLoop() {
  TraceLogState& state = State();
  for (;;) {
    HousekeepingPass();
    std::unique_lock<std::mutex> wait(state.stopMutex);
    if (state.stopSignal.wait_for(wait, kHousekeepingInterval,
                                  [&state] { return state.stopRequested; })) {
      return;
    }
  }
}

// Moves the previous run's errors file aside and opens this run's.
void OpenErrorsFile(TraceLogState& state) {
  if (state.errors.handle != nullptr) return;
  if (state.callback) state.callback(state.errors.path);
  // Whatever stands at the path is moved aside, a link or dangling link included (the link
  // itself, not its target), so the new file can be created in its place.
  if (!PathIsMissing(state.errors.path)) MoveReplacing(state.errors.path, state.errors.previousPath);
  state.errors.handle = OpenTruncating(state.errors.path);
  if (state.errors.handle == nullptr) PrintNotice(kCannotOpenErrors);
}

}  // namespace

void OpenTraceErrorsFile() {
  TraceLogState& state = State();
  std::lock_guard<std::mutex> lifecycle(state.lifecycle);
  if (!state.started) return;
  std::lock_guard<std::recursive_mutex> guard(state.lock);
  OpenErrorsFile(state);
}

void InitTraceLog(const std::string& applicationName, bool housekeeping,
                  LogRotationCallback callback, bool errorsFileNow) {
  TraceLogState& state = State();
  std::lock_guard<std::mutex> lifecycle(state.lifecycle);
  if (state.started) return;

  // The folder is resolved once, so the files stay where they are when the working folder
  // changes later in the run (rotation renames them by these names).
  std::error_code error;
  const fs::path relative = fs::path("..") / "Logs";
  fs::create_directories(relative, error);
  fs::path folder = fs::weakly_canonical(fs::absolute(relative, error), error);
  if (folder.empty()) folder = relative;

  const std::string name(LeftCodePoints(applicationName, kMaxNameCodePoints));
  auto logPath = [&folder, &name](const char* kind) {
    return (folder / (name + kind + ".txt")).string();
  };
  {
    std::lock_guard<std::recursive_mutex> guard(state.lock);
    state.name = name;
    state.callback = callback;
    state.main = LogFile{nullptr, logPath("Log"), logPath("Log_prev")};
    state.errors = LogFile{nullptr, logPath("Errors"), logPath("Errors_prev")};
    state.access = LogFile{nullptr, logPath("Access"), logPath("Access_prev")};
    state.mainDay = kDayUnset;
    state.errorsDay = kDayUnset;
    state.retained.clear();

    state.main.handle = OpenAppending(state.main.path);
    if (state.main.handle == nullptr) PrintNotice(kCannotOpenMain);
    if (errorsFileNow) OpenErrorsFile(state);
    state.access.handle = OpenAppending(state.access.path);
    if (state.access.handle == nullptr) PrintNotice(kCannotOpenAccess);
  }

  if (housekeeping) {
    state.stopRequested = false;
    try {
      state.housekeeper = std::thread(HousekeepingLoop);
    } catch (const std::system_error&) {
      PrintNotice(kCannotStartThread);
    }
  }
  state.active = true;
  state.started = true;
}

void ShutdownTraceLog() {
  TraceLogState& state = State();
  std::lock_guard<std::mutex> lifecycle(state.lifecycle);
  if (!state.started) return;
  if (state.housekeeper.joinable()) {
    {
      std::lock_guard<std::mutex> guard(state.stopMutex);
      state.stopRequested = true;
    }
    state.stopSignal.notify_all();
    state.housekeeper.join();
  }
  std::lock_guard<std::recursive_mutex> guard(state.lock);
  state.active = false;
  CloseFile(state.main);
  CloseFile(state.errors);
  CloseFile(state.access);
  state.mainDay = kDayUnset;
  state.errorsDay = kDayUnset;
  state.retained.clear();
  state.callback = nullptr;
  state.mask = kInitialMask;
  state.stopRequested = false;
  state.started = false;
}

void SetLogLevel(std::uint32_t mask) {
  if (mask >= 1 && mask <= kMaxMask) {
    State().mask = mask;
    WriteLog(1, kLevelReset, mask);
  } else {
    WriteLog(1, kLevelInvalid, mask);
  }
}

namespace {
std::atomic<std::uint64_t> gErrorLines{0};

struct ErrorLineCollector {
  std::mutex lock;
  bool collecting = false;
  std::vector<std::string> lines;
};

ErrorLineCollector& Collector() {
  static ErrorLineCollector* collector = new ErrorLineCollector;
  return *collector;
}
}  // namespace

std::uint64_t ErrorLineCount() { return gErrorLines.load(); }

void CountErrorLine(std::string_view message) {
  ++gErrorLines;
  ErrorLineCollector& collector = Collector();
  std::lock_guard<std::mutex> guard(collector.lock);
  if (!collector.collecting) return;
  std::string_view line = LeftCodePoints(message, kMaxMessageCodePoints);
  if (line.ends_with('\n')) line.remove_suffix(1);
  collector.lines.emplace_back(line);
}

void CollectErrorLines() {
  ErrorLineCollector& collector = Collector();
  std::lock_guard<std::mutex> guard(collector.lock);
  collector.collecting = true;
}

std::vector<std::string> CollectedErrorLines() {
  ErrorLineCollector& collector = Collector();
  std::lock_guard<std::mutex> guard(collector.lock);
  return collector.lines;
}

void WriteLogText(unsigned level, std::string_view message) {
  TraceLogState& state = State();
  if (!Passes(level, state.mask)) return;
  if (level == 0) CountErrorLine(message);
  std::string text = OneLogLine(message, kMaxMessageCodePoints);
  if (!state.active) {
    WriteDebugOutput(text);
    return;
  }

  std::lock_guard<std::recursive_mutex> guard(state.lock);
  if (!state.active) {
    WriteDebugOutput(text);
    return;
  }
  const platform::LocalTime now = Now();
  const std::string prefix = LogPrefix(now);

  if (level != 0) {
    if (level == kRetainedLevel) {
      // Kept without its newline: the rotation writes it again as one "%s\n" line.
      state.retained.push_back(text.substr(0, text.size() - 1));
    }
    if (state.main.handle == nullptr) {
      WriteDebugOutput(text);
      return;
    }
    if (state.mainDay != now.day) {
      WriteDayHeader(state.main.handle, kWriteLogStartup, state.mainDay, now, state.name);
    }
    WriteFlushed(state.main.handle, Format("%s\t%s%d - %s", prefix, "", ShownLevel(level), text));
    return;
  }

  WriteDebugOutput(text);
  if (state.errors.handle != nullptr) {
    if (state.errorsDay != now.day) {
      WriteDayHeader(state.errors.handle, kHousekeepingStartup, state.errorsDay, now, state.name);
    }
    WriteFlushed(state.errors.handle, Format("%s\t%s", prefix, text));
  }
  // Errors reach the main log even when the errors file could not be opened.
  if (state.main.handle != nullptr) {
    WriteFlushed(state.main.handle, Format("%s\t0 - %s", prefix, text));
  }
}

void SetCurrentThreadLoginText(std::string text) {
  tLoginText = std::move(text);
}

std::string CurrentLoginId() {
  constexpr std::size_t kPrefixLength = 8;  // "loginid:"
  if (tLoginText.size() <= kPrefixLength) return {};
  std::string id = tLoginText.substr(kPrefixLength);
  return id == "svcagent4" ? std::string("TRUSTED") : id;
}

bool IsTraceLogActive() {
  return State().active;
}

void SetTraceLogClockForTesting(std::function<platform::LocalTime()> clock) {
  TraceLogState& state = State();
  std::lock_guard<std::mutex> guard(state.clockMutex);
  state.clock = std::move(clock);
}

void RunTraceLogHousekeepingForTesting() {
  HousekeepingPass();
}

}  // namespace brimora
