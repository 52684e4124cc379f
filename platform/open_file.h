#pragma once
// Opening a file for writing as a C stream, for the files the tool writes by a fixed name in
// folders that other accounts may write: the trace-log files, the backup log, the answer file
// and the search-core dump pages; and reading such a file whole.
//
// Such a name may have been replaced by a symbolic link to a file elsewhere, or by a FIFO. The
// open never follows a link at the path and never waits for a FIFO's reader, and it hands out
// a stream only for a regular file.
//
// Thread safety: may be called from any thread.

#include <cstdio>
#include <string>

namespace brimora::platform {

enum class OpenMode {
  kAppend,    // every write goes to the end of the file ("a")
  kTruncate,  // the file is emptied first ("w")
};

// Opens `path` for writing and sets *stream to a stream that the caller owns and closes with
// fclose. A missing file is created with mode 0666 less the umask. The descriptor is not passed
// on to child processes.
//
// Only a regular file is opened. A symbolic link at `path` answers ELOOP, whether it points to
// a file or nowhere; a folder answers EISDIR; a FIFO, socket or device answers ENXIO; a file
// with a second name (a hard link, perhaps to a file elsewhere) answers EMLINK. None of them is
// created through, truncated or written, and the call never blocks on them.
//
// Answers 0, or an errno value with *stream set to null.
int OpenFileStream(const std::string& path, OpenMode mode, std::FILE** stream);

// Reads the regular file at `path` whole into *contents. Like OpenFileStream it never opens
// through a symbolic link at `path` (ELOOP) and never waits on a FIFO; a folder answers EISDIR,
// any other file that is not a regular one ENXIO. Answers 0, or an errno value with *contents
// empty.
int ReadFileContents(const std::string& path, std::string* contents);

}  // namespace brimora::platform
