#pragma once
// One backup or restore at a time on an installation: an exclusive lock on a file named by the
// installation folder's device and inode, so that every spelling of its path takes the same
// lock. The file lies in a folder only the running account can write ("/run/brimora-upgrade"
// for root, the account's runtime folder otherwise), never in the installation, which other
// accounts write. It holds the holder's process id. The lock goes with the process, however it
// ends, and no child process inherits it.
//
// Thread safety: one object per run, used by one thread.

#include <string>

namespace brimora::platform {

class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock of the installation at `installPath`, trying for up to waitMilliseconds.
  // Answers 0 when it holds it; EWOULDBLOCK with *holder set to the holder's process id (0 when
  // unknown) when another run held it all that time; another error code when the lock file could
  // not be made or opened (EPERM: its folder is not the running account's alone).
  int Take(const std::string& installPath, int waitMilliseconds, long* holder);

  // The folder the lock files lie in, for this account.
  static std::string Folder();

 private:
  int fd_ = -1;
};

}  // namespace brimora::platform
