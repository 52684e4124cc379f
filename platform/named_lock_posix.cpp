#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace brimora::platform {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

bool IsValidName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

// Opens the lock file without following a link planted in its place and without blocking on a
// FIFO. The file is opened read-only: flock needs no write access, and a file created 0644 can
// then be locked by every account, so users of the tool never lock each other out for good.
// An existing file is opened without O_CREAT because the kernel refuses O_CREAT on another
// user's file in a sticky folder such as /tmp.
int OpenLockFile(const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
      if (fd >= 0) {
        (void)::fchmod(fd, 0644);  // the umask may have taken the others' read bit away
      } else if (errno == EEXIST) {
        continue;  // another process created it in between
      }
    }
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  return -1;
}

}  // namespace

CrossProcessLock::CrossProcessLock() = default;

CrossProcessLock::~CrossProcessLock() { Release(); }

std::string CrossProcessLock::LockFilePath(const std::string& name) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  if (path.back() != '/') path += '/';
  return path + name;
}

bool CrossProcessLock::Acquire(const std::string& name, std::uint32_t timeoutMs) {
  Release();
  if (!IsValidName(name)) return false;
  const int fd = OpenLockFile(LockFilePath(name));
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kPollInterval,
                                                                              deadline - now));
  }
  ::close(fd);
  return false;
}

void CrossProcessLock::Release() {
  if (fd_ < 0) return;
  // Closing the only descriptor of the open file drops the lock; the explicit unlock also
  // covers a descriptor that a forked child still shares.
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

bool CrossProcessLock::IsHeld() const { return fd_ >= 0; }

}  // namespace brimora::platform
