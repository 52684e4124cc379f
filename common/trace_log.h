#pragma once
// The process-wide trace log: "../Logs/<name>Log.txt" (everything), "<name>Errors.txt" (level-0
// messages of this run; the previous run's file is kept as "<name>Errors_prev.txt") and
// "<name>Access.txt", all relative to the working folder at start-up. A housekeeping thread
// rotates files above 1 MiB and writes day headers. Only regular files are opened: a symbolic
// link, FIFO or other file at a log's path counts as a file that cannot be opened.
//
// Thread safety: every function may be called from any thread at any time.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/format.h"
#include "platform/clock.h"

namespace brimora {

// Called with a file name: the errors file's name just before it is moved away at start-up,
// and after every rotation with the name of the file that now holds the old contents.
using LogRotationCallback = std::function<void(const std::string& fileName)>;

// Starts the log. A second call while the log is started does nothing. Without errorsFileNow
// the previous run's errors file stays where it is until OpenTraceErrorsFile (a run that must
// first know it is the only one on its installation); errors go to the main log meanwhile.
void InitTraceLog(const std::string& applicationName, bool housekeeping,
                  LogRotationCallback callback = {}, bool errorsFileNow = true);
void OpenTraceErrorsFile();

// Stops and joins the housekeeping thread and closes the files, so every line written before
// the call is on disk. The level mask returns to its start-up value 1 and the retained messages
// are forgotten. Afterwards messages go to standard error only, and InitTraceLog may be called
// again (tests do).
void ShutdownTraceLog();

// Accepts masks 1 to 65535; writes "Log Level Reset to %X" or "Log Level Set error - ...".
void SetLogLevel(std::uint32_t mask);

// Writes one already formatted message. Levels: 0 error, 1 normal, 2 detail, 8 transfer
// errors, 999 retained (shown as level 1 and written again at the top of every rotated file).
// Messages are written as exactly one line, cut to 4,997 code points (see OneLogLine). Level-0 messages are also echoed to standard error; while the log
// is not active every message that passes the level mask goes to standard error instead. The
// echoes are escaped in the same way.
void WriteLogText(unsigned level, std::string_view message);

// printf-style: WriteLog(0, "Error backing up to the backup path: %s\n", path).
template <typename... Args>
void WriteLog(unsigned level, const char* format, const Args&... args) {
  WriteLogText(level, Format(format, args...));
}

// How many error lines (level 0) the process has written so far, to the trace log or to a
// backup log; CountErrorLine adds one written elsewhere (the message as it was given).
std::uint64_t ErrorLineCount();
void CountErrorLine(std::string_view message);
// From the call on, every error line counted is also kept (cut as a log line is, without its
// line end, otherwise as given), for a summary of the run; CollectedErrorLines answers them.
void CollectErrorLines();
std::vector<std::string> CollectedErrorLines();

// The login id shown in the calling thread's log lines, "System" when empty. A serving thread
// publishes "loginid:<id>" with SetCurrentThreadLoginText; only texts longer than the 8-character
// prefix count, and the id "svcagent4" is shown as "TRUSTED". This program sets none.
void SetCurrentThreadLoginText(std::string text);
std::string CurrentLoginId();

// True from the end of InitTraceLog until ShutdownTraceLog.
bool IsTraceLogActive();

// Test hooks. The clock replaces the local time used for line prefixes and day headers (an
// empty function restores the system clock). The housekeeping pass runs the rotation and
// day-header checks of the three files once, on the calling thread, so tests that start the
// log without its thread need not wait for it.
void SetTraceLogClockForTesting(std::function<platform::LocalTime()> clock);
void RunTraceLogHousekeepingForTesting();

}  // namespace brimora
