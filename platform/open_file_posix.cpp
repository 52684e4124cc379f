#include "platform/open_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix_util.h"

namespace brimora::platform {
namespace {

// O_NOFOLLOW refuses a link as the last component (ELOOP), also where O_CREAT would otherwise
// create the file a dangling link points to. O_NONBLOCK makes a FIFO without a reader fail at
// once (ENXIO) instead of waiting for one; a FIFO with a reader opens and is refused below.
// O_TRUNC is left out: truncation waits until the file is known to be a regular one.
constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen creates files

int OpenDescriptor(const std::string& path, int flags) {
  return posix::Retry([&] { return open(path.c_str(), flags, kNewFileMode); });
}

// Checks what `fd` refers to and prepares it for writing; answers 0 or an errno value.
int PrepareRegularFile(int fd, OpenMode mode) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) return ENXIO;
  // A second name for the file is a hard link made in the log's folder to a file elsewhere
  // (possible where the system does not protect hard links); a log never has one.
  if (info.st_nlink > 1) return EMLINK;
  // Non-blocking mode was needed only for the open; writes to the file are ordinary ones.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  if (mode == OpenMode::kTruncate && ftruncate(fd, 0) != 0) return errno;
  return 0;
}

}  // namespace

int OpenFileStream(const std::string& path, OpenMode mode, std::FILE** stream) {
  *stream = nullptr;
  const bool append = mode == OpenMode::kAppend;
  const int fd = OpenDescriptor(path, kOpenFlags | (append ? O_APPEND : 0));
  if (fd < 0) return errno;
  int error = PrepareRegularFile(fd, mode);
  if (error == 0) {
    *stream = fdopen(fd, append ? "a" : "w");
    if (*stream == nullptr) error = errno;
  }
  if (error != 0) close(fd);
  return error;
}

int ReadFileContents(const std::string& path, std::string* contents) {
  contents->clear();
  const int fd = OpenDescriptor(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat info {};
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(info.st_mode)) {
    error = ENXIO;
  }
  std::string data;
  char buffer[64 * 1024];
  while (error == 0) {
    const ssize_t count = posix::Retry([&] { return read(fd, buffer, sizeof buffer); });
    if (count < 0) error = errno;
    if (count <= 0) break;
    data.append(buffer, static_cast<std::size_t>(count));
  }
  close(fd);
  if (error == 0) *contents = std::move(data);
  return error;
}

}  // namespace brimora::platform
