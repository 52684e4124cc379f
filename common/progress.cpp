#include "common/progress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/format.h"
#include "common/strings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/terminal.h"

namespace brimora {
namespace {

constexpr auto kDrawInterval = std::chrono::milliseconds(250);
// Back to the line's start, and everything from there to the line's end erased.
constexpr char kClearLine[] = "\r\033[K";
constexpr char kLine[] = "%s: %llu files, %s, %s/s";
constexpr char kShare[] = ", %llu%%";
constexpr char kTimeLeft[] = ", %s left";
constexpr char kFinalLine[] = "Copied %llu files, %s in %s (%s/s)\n";

struct ProgressState {
  std::atomic<std::uint64_t> files{0};
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<bool> countBytes{false};

  // Guards everything below, and the order of what reaches the terminal.
  std::mutex lock;
  std::string area;
  CopyCounts totals;
  CopyCounts atStart;
  std::uint64_t startMilliseconds = 0;
  bool running = false;
  bool onScreen = false;  // a drawn line stands on the terminal's last line
  bool outputReserved = false;

  std::thread drawer;
  std::condition_variable wake;
  bool stopRequested = false;
};

// Never destroyed: threads may still write messages while static objects are torn down.
ProgressState& State() {
  static ProgressState* state = new ProgressState;
  return *state;
}

std::string SizeText(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return Format("%llu B", static_cast<unsigned long long>(bytes));
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  return Format("%.1f %s", value, kUnits[unit]);
}

std::string DurationText(std::uint64_t seconds) {
  if (seconds >= 3600) return Format("%llu:%02llu:%02llu", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return Format("%llu:%02llu", seconds / 60, seconds % 60);
}

// The line as it stands now; the caller holds the lock.
std::string LineText(const ProgressState& state, bool final) {
  const std::uint64_t files = state.files.load(std::memory_order_relaxed) - state.atStart.files;
  const std::uint64_t bytes = state.bytes.load(std::memory_order_relaxed) - state.atStart.bytes;
  const std::uint64_t elapsed = platform::MonotonicMilliseconds() - state.startMilliseconds;
  const double seconds = static_cast<double>(elapsed == 0 ? 1 : elapsed) / 1000.0;
  const double rate = static_cast<double>(bytes) / seconds;
  const std::string rateText = SizeText(static_cast<std::uint64_t>(rate));
  if (final) return Format(kFinalLine, files, SizeText(bytes), DurationText(elapsed / 1000), rateText);

  std::string line = Format(kLine, state.area, files, SizeText(bytes), rateText);
  if (state.totals.bytes > 0) {
    const std::uint64_t done = std::min(bytes, state.totals.bytes);
    line += Format(kShare, static_cast<unsigned long long>(done * 100 / state.totals.bytes));
    if (done > 0 && done < state.totals.bytes) {
      line += Format(kTimeLeft, DurationText(static_cast<std::uint64_t>((state.totals.bytes - done) / rate)));
    }
  }
  // A line wider than the terminal would wrap, and the next drawing would erase only its end.
  if (const int columns = platform::StandardErrorColumns(); columns > 1) {
    line = std::string(LeftCodePoints(line, static_cast<std::size_t>(columns - 1)));
  }
  return line;
}

void Put(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// The caller holds the lock.
void Draw(ProgressState& state) {
  Put(stderr, kClearLine + LineText(state, false));
  state.onScreen = true;
}

void DrawLoop() {
  ProgressState& state = State();
  std::unique_lock<std::mutex> wait(state.lock);
  while (!state.wake.wait_for(wait, kDrawInterval, [&state] { return state.stopRequested; })) Draw(state);
}

void Write(std::FILE* stream, std::string_view text) {
  ProgressState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.onScreen) Put(stderr, kClearLine);
  state.onScreen = false;
  Put(stream, text);
}

}  // namespace

void NoteCopiedEntry(const platform::Folder& from, const std::string& name) {
  ProgressState& state = State();
  state.files.fetch_add(1, std::memory_order_relaxed);
  if (!state.countBytes.load(std::memory_order_relaxed)) return;
  platform::FileInfo info;
  if (from.DescribeChild(name, &info) == 0) state.bytes.fetch_add(info.size, std::memory_order_relaxed);
}

void NoteCopiedFile(const std::string& path, bool followLink) {
  ProgressState& state = State();
  state.files.fetch_add(1, std::memory_order_relaxed);
  if (!state.countBytes.load(std::memory_order_relaxed)) return;
  platform::FileInfo info;
  if (platform::GetFileInfo(path, followLink, &info) == 0) state.bytes.fetch_add(info.size, std::memory_order_relaxed);
}

void CountCopiedBytes(bool on) { State().countBytes.store(on, std::memory_order_relaxed); }

CopyCounts CopiedSoFar() {
  const ProgressState& state = State();
  return {state.files.load(std::memory_order_relaxed), state.bytes.load(std::memory_order_relaxed)};
}

void SetProgressArea(std::string_view name) {
  ProgressState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.area = name;
}

void SetProgressTotals(CopyCounts totals) {
  ProgressState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.totals = totals;
}

void StartProgressLine(std::string_view label) {
  ProgressState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.running) return;
  state.area = label;
  state.atStart = CopiedSoFar();
  state.startMilliseconds = platform::MonotonicMilliseconds();
  state.stopRequested = false;
  try {
    state.drawer = std::thread(DrawLoop);
    state.running = true;
    Draw(state);
  } catch (const std::system_error&) {
    // Without a thread there is no line; the run itself goes on.
  }
}

void StopProgressLine() {
  ProgressState& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.running) return;
    state.stopRequested = true;
  }
  state.wake.notify_all();
  state.drawer.join();
  std::lock_guard<std::mutex> guard(state.lock);
  Put(stderr, kClearLine + LineText(state, true));
  state.running = false;
  state.onScreen = false;
}

void WriteErrorOutput(std::string_view text) { Write(stderr, text); }

void WriteReportOutput(std::string_view text) {
  bool reserved = false;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    reserved = State().outputReserved;
  }
  Write(reserved ? stderr : stdout, text);
}

void ReserveStandardOutput() {
  std::lock_guard<std::mutex> guard(State().lock);
  State().outputReserved = true;
}

}  // namespace brimora
