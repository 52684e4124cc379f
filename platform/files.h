#pragma once
// Files and folders: the operating-system calls behind the file utilities, the folder copy engine
// and every single-file copy of the backup and restore.
//
// Names are bytes: every function takes and returns them unchanged, valid UTF-8 or not.
// Functions that can fail return 0 or the system's error code (an errno value); ErrorText turns
// that code into the system's message. None of them throws.
//
// Thread safety: every function may be called from any thread. GetCurrentFolder and
// SetCurrentFolder act on the one working folder of the process.

#include <cstdint>
#include <string>
#include <vector>

namespace brimora::platform {

// What a folder entry or path is, seen without following a symbolic link.
enum class EntryKind {
  kFile,    // a regular file
  kFolder,  // a real folder, never a link to one
  kLink,    // a symbolic link, whatever it points to (or dangling)
  kOther,   // a socket, FIFO or device: never opened by the copies
};

struct FolderEntry {
  std::string name;  // the bare name, never "." or ".."
  EntryKind kind = EntryKind::kFile;
};

struct FileInfo {
  EntryKind kind = EntryKind::kFile;
  std::uint32_t mode = 0;  // permission bits (07777)
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint64_t size = 0;
};

// Level-1 trace-log notice of a copy that meets a socket, FIFO or device ("%s": its path).
inline constexpr const char kSpecialFileSkipped[] =
    "INFO: CopyFile - \"%s\" is a socket, FIFO or device, not a file. Skipping...\n";

// Reads the entries of a folder into `entries` (replacing its contents), sorted by name in
// byte order, without "." and "..". With followLink false, a symbolic link at `folder` itself
// is not read through (ENOTDIR), so a recursive walk that calls this for every kFolder entry
// never leaves the tree, even when a folder is swapped for a link while it runs.
int ReadFolder(const std::string& folder, bool followLink, std::vector<FolderEntry>* entries);

// True when `folder` is a folder (a link to one counts) that this process may list.
bool CanListFolder(const std::string& folder);

// Describes a path. followLink false describes a link itself; true what it points to.
// Answers ENOENT when nothing is there.
int GetFileInfo(const std::string& path, bool followLink, FileInfo* info);

// The one single-file copy. Copies the contents, the permission bits and the access and
// modification times (to the nanosecond where the file system keeps them); when the process
// runs as root, the owner and group too. The kernel copies the data where it can.
// - failIfExists: the destination is created exclusively; anything already there (a dangling
//   link included) gives EEXIST and is left alone.
// - otherwise the copy is written beside the destination under a hidden temporary name and
//   renamed over it only when complete, so a failed copy leaves the old destination as it was
//   and never a partial file. A link at the destination is replaced, not written through; a
//   folder there gives EISDIR.
// - A symbolic link is copied as a link with the same target, never followed.
// - A socket, FIFO or device is not opened: the call writes kSpecialFileSkipped to the trace
//   log, sets *skipped (when given) and answers 0.
// - A folder gives EISDIR.
int CopyOneFile(const std::string& source, const std::string& destination, bool failIfExists,
                bool* skipped = nullptr);

// Gives `destination` the permission bits and times of `source` (followed when a link), and
// its owner and group when running as root. For folders a copy has just filled.
int CopyAttributes(const std::string& source, const std::string& destination);

// Creates one folder (mode 0777 less the umask). EEXIST when anything is already there.
int CreateFolder(const std::string& path);

// Removes a file or a symbolic link (never what the link points to).
int RemoveFile(const std::string& path);

// Removes an empty folder.
int RemoveFolder(const std::string& path);

// Adds write permission for the owner (clears "read-only"). A link is followed.
int AddOwnerWrite(const std::string& path);

// Renames a file or folder; replaces a file at `to` as rename(2) does.
int Rename(const std::string& from, const std::string& to);

int GetCurrentFolder(std::string* folder);
int SetCurrentFolder(const std::string& folder);

// $TMPDIR when set and not empty, else "/tmp". Never ends with "/" (unless it is "/").
std::string SystemTempFolder();

// Creates a new empty file, mode 0600, named folder + "/" + prefix + 8 lower-case hex digits +
// ending, with a name no other file had (exclusive create, retried on a clash). Sets *path.
int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                     const std::string& ending, std::string* path);

// The path made absolute against the working folder (no other change). An absolute path is
// returned as it is; when the working folder cannot be read, the path unchanged.
std::string AbsolutePath(const std::string& path);

// True when `path` is a regular file (links followed) that this process may execute.
bool IsExecutableFile(const std::string& path);

// The first directory of $PATH holding an executable `name`, joined with it; empty when none.
std::string FindOnPath(const std::string& name);

// The error code of the last failed system call of this thread, and setting it (so callers of
// functions that answer only true/false can still report "Error Code %d").
int LastError();
void SetLastError(int errorCode);

// The system's message for an error code (strerror's text).
std::string ErrorText(int errorCode);

}  // namespace brimora::platform
