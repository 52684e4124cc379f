#pragma once
// The backup log: one UTF-8 text file that every message of a backup run goes to, with a single
// previous generation ("<folder>/<title>_prev.<ext>") that bounds its size.
//
// Each line is the local time ("Wed Jan 02 02:03:55 1980"), a tab and the message, ended by "\n".
// A message is always exactly one line: control bytes inside it are written as escapes (see
// EscapeControlCharacters), so text such as a file name cannot add lines of its own. A new (or
// empty) file starts with a UTF-8 byte-order mark. The log is only ever written to a regular
// file at its path, never through a symbolic link. While no file is open, messages go to the
// trace log at their level instead, so none is lost.
//
// Thread safety: every member may be called from any thread; all of them serialise on the
// object's own lock. The object must outlive every call.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/failsafe_lock.h"
#include "common/format.h"

namespace brimora {

class CBackupLog {
 public:
  // Longest message kept, in characters (code points); the rest is cut off.
  static constexpr std::size_t kMaxMessageLength = 8189;
  // The log is moved to its previous generation before a line that would make its size in bytes
  // plus the line's length in characters exceed this.
  static constexpr std::uint64_t kRotationLimit = 0x800000;

  CBackupLog();
  // Closes the file.
  ~CBackupLog();
  CBackupLog(const CBackupLog&) = delete;
  CBackupLog& operator=(const CBackupLog&) = delete;

  // Closes any open file and opens path (bytes, relative paths against the working folder) for
  // appending, creating it when missing. Answers whether a file is open afterwards; a link,
  // FIFO or anything else but a regular file at the path leaves none open.
  bool Open(const std::string& path);

  // Writes one line with the message, cut to kMaxMessageLength characters (see OneLogLine).
  // The file is reopened for every line, never through a link. Without an open file
  // the message goes to the trace log at level and the answer is true. Answers false when the
  // file could not be reopened (later lines then go to the trace log) or the line could not be
  // written.
  bool WriteText(unsigned level, std::string_view message);

  // printf-style: Write(1, "Backup %s - Backing up Configuration Files.\n", folder).
  template <typename... Args>
  bool Write(unsigned level, const char* format, const Args&... args) {
    return WriteText(level, Format(format, args...));
  }

  // The path given to the last Open (empty before).
  std::string Path();

 private:
  void Close();
  bool OpenForAppend();

  std::FILE* file_ = nullptr;
  CFailsafeLock lock_;
  std::string path_;
};

}  // namespace brimora
