#pragma once
// A file opened for reading and held under an advisory lock shared by every process of the
// machine, the counterpart of a named system mutex that guards one file. The lock belongs to the
// open file itself, not to a name in a shared folder, so no other account can hold it without
// being able to read the file. The operating system releases it when the holding process ends,
// however it ends, so a crashed holder never blocks the others for good.
//
// The lock is advisory: it keeps out only readers that ask for it too.
//
// Thread safety: one object must not be used by two threads at once. Two objects of the same
// process that lock the same file exclude each other like two processes do.

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"

namespace brimora::platform {

// Outcomes of LockedFile::Open.
enum class FileLockResult {
  kLocked,          // open and locked: Stream() reads the file
  kMissing,         // nothing at the path, or a folder on the way is missing
  kNotRegularFile,  // a symbolic link, folder, FIFO, socket or device at the path
  kTimedOut,        // another holder kept the lock for the whole wait
  kFailed,          // the file could not be opened or locked; Error() tells why
};

class LockedFile {
 public:
  LockedFile();
  ~LockedFile();  // closes the file, which releases the lock
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens `path` read-only and waits at most `timeoutMs` milliseconds (0: a single try) for its
  // exclusive lock. A file this object holds is closed first.
  // A symbolic link at the path is never followed (links in the folders above it are), and
  // only a regular file is kept: a FIFO is opened without waiting for a writer and refused at
  // once, so the call never blocks beyond the time-out. Nothing is ever created or written.
  FileLockResult Open(const std::string& path, std::uint32_t timeoutMs);

  // The locked file for reading from its start, or nullptr when none is held. The stream reads
  // the very file that was opened and locked, even when the path is changed afterwards. Owned
  // by this object: do not close it.
  std::FILE* Stream() const { return stream_; }

  // Closes the file and releases the lock; does nothing when none is held.
  void Close();

  // The system error code (errno value) of the last Open that answered kFailed, else 0.
  int Error() const { return error_; }

 private:
  std::FILE* stream_ = nullptr;
  int error_ = 0;
};

// An open folder held under an advisory lock (flock on the folder itself), shared or exclusive.
// Used where a file's lock would not last: a file that is replaced by a rename loses the lock
// with its old inode, a folder keeps its inode for its whole life. The same rules as for
// LockedFile: the kernel releases the lock when the holder ends, however it ends; it keeps out
// only those who ask for it too; one object must not be used by two threads at once.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();  // releases the lock
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Opens the folder at `path` (a link at the path itself is followed only with followLink) and
  // waits at most `timeoutMs` milliseconds (0: a single try) for its lock. A lock this object
  // holds is released first. Answers 0, EWOULDBLOCK when another holder kept a conflicting lock
  // for the whole wait, or the error code of opening or locking (EBADF for a folder this account
  // may not read).
  int Take(const std::string& path, bool followLink, bool shared, std::uint32_t timeoutMs);
  // The same for the entry `name` of `parent`, never through a link (ELOOP).
  int TakeChild(const Folder& parent, const std::string& name, bool shared, std::uint32_t timeoutMs);

  // The locked folder, open while the lock is held.
  const Folder& Held() const { return folder_; }
  bool Holds() const { return folder_.IsOpen(); }
  void Release();

 private:
  int Lock(bool shared, std::uint32_t timeoutMs);
  Folder folder_;
};

}  // namespace brimora::platform
