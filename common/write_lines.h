#pragma once
// Writing a list of text lines to a file.
//
// Thread safety: may be called from any thread; concurrent calls on the same path race like
// any two writers of one file.

#include <string>
#include <vector>

namespace brimora {

// Replaces the file at `path` with the lines: every line but the last followed by "\n", the
// last as it is. With `endWithNewline`, one more "\n" follows unless the last line already
// ends with one (an empty list then writes a single "\n"). `rawMode` asks for a binary write,
// which on this system is the same as a text write. Line bytes are written unchanged.
//
// Only a regular file is written: a symbolic link at `path` (ELOOP), a folder (EISDIR) or a
// FIFO, socket or device (ENXIO) is refused without being followed, truncated or waited on.
//
// Returns true only when the file was opened, every byte written and the file closed without
// error (a full disk shows at the final flush). On failure whatever was written stays, and
// *error (when given) holds the system error code of the first failure.
bool WriteLinesToFile(const std::string& path, const std::vector<std::string>& lines,
                      bool endWithNewline, bool rawMode, int* error = nullptr);

}  // namespace brimora
