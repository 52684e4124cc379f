#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/posix_util.h"

namespace brimora::platform {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

// O_NOFOLLOW refuses a link at the path; O_NONBLOCK makes opening a FIFO return at once instead
// of waiting for a writer (it changes nothing for a regular file); O_NOCTTY keeps a terminal
// device from becoming the controlling terminal before the type check refuses it.
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

int OpenNoFollow(const std::string& path) {
  return posix::Retry([&] { return ::open(path.c_str(), kOpenFlags); });
}

// Polls for the lock (exclusive unless `operation` says LOCK_SH) until the deadline. Answers 0,
// EWOULDBLOCK on time-out, or the error of flock.
int LockWithTimeout(int fd, std::uint32_t timeoutMs, int operation = LOCK_EX) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK && errno != EINTR) return errno;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return EWOULDBLOCK;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPollInterval, deadline - now));
  }
}

}  // namespace

LockedFile::LockedFile() = default;

LockedFile::~LockedFile() { Close(); }

FileLockResult LockedFile::Open(const std::string& path, std::uint32_t timeoutMs) {
  Close();
  error_ = 0;
  const int fd = OpenNoFollow(path);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) return FileLockResult::kMissing;
    // ELOOP: a link at the path; ENXIO: a socket (or a device without a driver).
    if (error == ELOOP || error == ENXIO) return FileLockResult::kNotRegularFile;
    error_ = error;
    return FileLockResult::kFailed;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error_ = errno;
    ::close(fd);
    return FileLockResult::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return FileLockResult::kNotRegularFile;
  }
  const int lockError = LockWithTimeout(fd, timeoutMs);
  if (lockError != 0) {
    ::close(fd);
    if (lockError == EWOULDBLOCK) return FileLockResult::kTimedOut;
    error_ = lockError;
    return FileLockResult::kFailed;
  }
  // The stream takes over the descriptor: closing it closes the only descriptor of this open
  // file and so drops the lock.
  stream_ = ::fdopen(fd, "r");
  if (stream_ == nullptr) {
    error_ = errno;
    ::close(fd);
    return FileLockResult::kFailed;
  }
  return FileLockResult::kLocked;
}

void LockedFile::Close() {
  if (stream_ == nullptr) return;
  // Closing the last descriptor drops the lock; the explicit unlock also covers a copy of the
  // descriptor that a forked child still holds.
  ::flock(::fileno(stream_), LOCK_UN);
  std::fclose(stream_);
  stream_ = nullptr;
}

FolderLock::~FolderLock() { Release(); }

int FolderLock::Take(const std::string& path, bool followLink, bool shared, std::uint32_t timeoutMs) {
  Release();
  if (const int error = folder_.Open(path, followLink); error != 0) return error;
  return Lock(shared, timeoutMs);
}

int FolderLock::TakeChild(const Folder& parent, const std::string& name, bool shared, std::uint32_t timeoutMs) {
  Release();
  if (const int error = parent.OpenChild(name, &folder_); error != 0) return error;
  return Lock(shared, timeoutMs);
}

int FolderLock::Lock(bool shared, std::uint32_t timeoutMs) {
  const int error = LockWithTimeout(folder_.fd_, timeoutMs, shared ? LOCK_SH : LOCK_EX);
  if (error != 0) folder_ = Folder();
  return error;
}

void FolderLock::Release() {
  if (!folder_.IsOpen()) return;
  ::flock(folder_.fd_, LOCK_UN);
  folder_ = Folder();
}

}  // namespace brimora::platform
