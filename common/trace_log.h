#pragma once
// The process-wide trace log: "../Logs/<name>Log.txt" (everything), "<name>Errors.txt" (level-0
// messages of this run; the previous run's file is kept as "<name>Errors_prev.txt") and
// "<name>Access.txt", all relative to the working folder at start-up. A housekeeping thread
// rotates files above 1 MiB and writes day headers.
//
// Thread safety: every function may be called from any thread at any time.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/format.h"

namespace brimora {

// Called with a file name: the errors file's name just before it is moved away at start-up,
// and after every rotation with the name of the file that now holds the old contents.
using LogRotationCallback = std::function<void(const std::string& fileName)>;

// Starts the log. A second call while the log is started does nothing.
void InitTraceLog(const std::string& applicationName, bool housekeeping,
                  LogRotationCallback callback = {});

// Stops and joins the housekeeping thread and closes the files, so every line written before
// the call is on disk. Afterwards messages go to standard error only, and InitTraceLog may be
// called again (tests do).
void ShutdownTraceLog();

// Accepts masks 1 to 65535; writes "Log Level Reset to %X" or "Log Level Set error - ...".
void SetLogLevel(std::uint32_t mask);

// Writes one already formatted message. Levels: 0 error, 1 normal, 2 detail, 8 transfer
// errors, 999 retained (shown as level 1 and written again at the top of every rotated file).
// Level-0 messages are also echoed to standard error.
void WriteLogText(unsigned level, std::string_view message);

// printf-style: WriteLog(0, "Error backing up to the backup path: %s\n", path).
template <typename... Args>
void WriteLog(unsigned level, const char* format, const Args&... args) {
  WriteLogText(level, Format(format, args...));
}

}  // namespace brimora
