#pragma once
// A named lock shared by every process of the machine, the counterpart of a named system mutex.
// The lock lives in a file named like the lock in the system temporary folder ($TMPDIR, else
// /tmp). The operating system releases it when the holding process ends, however it ends, so
// a crashed holder never blocks the others for good.
//
// Thread safety: one object must not be used by two threads at once. Two objects of the same
// process that acquire the same name exclude each other like two processes do.

#include <cstdint>
#include <string>

namespace brimora::platform {

class CrossProcessLock {
 public:
  CrossProcessLock();
  ~CrossProcessLock();  // releases the lock when it is held
  CrossProcessLock(const CrossProcessLock&) = delete;
  CrossProcessLock& operator=(const CrossProcessLock&) = delete;

  // Waits at most `timeoutMs` milliseconds for the lock called `name` (0: a single try).
  // A lock this object already holds is released first. Returns false on time-out and when the
  // lock cannot be set up: a name that is empty, ".", ".." or contains "/" or a zero byte; a
  // lock file that is a link, not a regular file or cannot be opened.
  bool Acquire(const std::string& name, std::uint32_t timeoutMs);

  // Releases the lock if it is held; otherwise does nothing.
  void Release();

  bool IsHeld() const;

  // The file that carries the lock called `name` (the name is not checked).
  static std::string LockFilePath(const std::string& name);

 private:
  int fd_ = -1;
};

}  // namespace brimora::platform
