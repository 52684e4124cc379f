#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/posix_util.h"

namespace brimora::platform {
namespace {

using posix::Retry;

constexpr long kPollMilliseconds = 100;

// Opens the lock folder, making it when missing: a real folder owned by this account that no
// other account can write, so nobody else can take or replace the lock files.
int OpenLockFolder(int* fd) {
  const std::string folder = RunLock::Folder();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  *fd = Retry([&] { return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
  if (*fd < 0) return errno;
  struct stat info {};
  if (fstat(*fd, &info) != 0 || info.st_uid != geteuid() || (info.st_mode & 022) != 0) {
    close(*fd);
    return EPERM;
  }
  return 0;
}

long ReadHolder(int fd) {
  char text[32] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  return got > 0 ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

std::string RunLock::Folder() {
  if (geteuid() == 0) return "/run/brimora-upgrade";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/brimora-upgrade";
  return "/tmp/brimora-upgrade-" + std::to_string(geteuid());
}

RunLock::~RunLock() {
  if (fd_ >= 0) close(fd_);
}

int RunLock::Take(const std::string& installPath, int waitMilliseconds, long* holder) {
  struct stat install {};
  if (stat(installPath.c_str(), &install) != 0) return errno;
  int folder = -1;
  if (const int rc = OpenLockFolder(&folder); rc != 0) return rc;
  const std::string name = std::to_string(install.st_dev) + "-" + std::to_string(install.st_ino) + ".lock";
  const int fd = Retry([&] { return openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600); });
  const int openError = errno;
  close(folder);
  if (fd < 0) return openError;

  const std::uint64_t deadline = MonotonicMilliseconds() + static_cast<std::uint64_t>(waitMilliseconds);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const int rc = errno;
      close(fd);
      return rc;
    }
    if (MonotonicMilliseconds() >= deadline) {
      *holder = ReadHolder(fd);
      close(fd);
      return EWOULDBLOCK;
    }
    const struct timespec pause = {0, kPollMilliseconds * 1000000};
    nanosleep(&pause, nullptr);
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    const int rc = errno;
    close(fd);
    return rc;
  }
  fd_ = fd;
  return 0;
}

}  // namespace brimora::platform
