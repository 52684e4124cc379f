// Reading, renaming and durable writing through open folders.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/posix_util.h"

namespace brimora::platform {
namespace {

using posix::Retry;

constexpr std::size_t kReadPiece = 1024 * 1024;
constexpr std::size_t kWriteBuffer = 256 * 1024;

// Opens the regular file `name` of the folder `folder` for reading; sets *info.
int OpenRegularChild(int folder, const std::string& name, struct stat* info) {
  const int fd = Retry([&] { return openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return -errno;
  int rc = fstat(fd, info) == 0 ? 0 : errno;
  if (rc == 0 && !S_ISREG(info->st_mode)) rc = S_ISDIR(info->st_mode) ? EISDIR : ENXIO;
  if (rc == 0) return fd;
  close(fd);
  return -rc;
}

}  // namespace

int Folder::OpenChildStream(const std::string& name, std::FILE** stream) const {
  struct stat st {};
  const int fd = OpenRegularChild(fd_, name, &st);
  if (fd < 0) return -fd;
  *stream = fdopen(fd, "r");
  if (*stream != nullptr) return 0;
  const int rc = errno;
  close(fd);
  return rc;
}

int Folder::ReadChild(const std::string& name, const std::function<void(std::string_view)>& sink,
                      FileInfo* info) const {
  struct stat st {};
  const int fd = OpenRegularChild(fd_, name, &st);
  if (fd < 0) return -fd;
  if (info != nullptr) *info = posix::InfoOf(st);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<char> buffer(kReadPiece);
  int rc = 0;
  for (;;) {
    const ssize_t got = Retry([&] { return read(fd, buffer.data(), buffer.size()); });
    if (got < 0) rc = errno;
    if (got <= 0) break;
    sink(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
  }
  close(fd);
  return rc;
}

int Folder::RenameChild(const std::string& from, const std::string& to, bool replace) const {
  const unsigned flags = replace ? 0 : RENAME_NOREPLACE;
  return renameat2(fd_, from.c_str(), fd_, to.c_str(), flags) == 0 ? 0 : errno;
}

int Folder::ExchangeChildren(const std::string& a, const std::string& b) const {
  return renameat2(fd_, a.c_str(), fd_, b.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
}

int Folder::CreateUniqueChild(const std::string& prefix, std::uint32_t mode, std::string* name) const {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string hex;
    if (const int rc = posix::RandomHex(&hex); rc != 0) return rc;
    *name = prefix + hex;
    if (mkdirat(fd_, name->c_str(), mode) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int Folder::SyncFileSystem() const { return syncfs(fd_) == 0 ? 0 : errno; }

int Folder::FreeSpace(std::uint64_t* bytes) const {
  struct statvfs st {};
  if (fstatvfs(fd_, &st) != 0) return errno;
  *bytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return 0;
}

// ---- AtomicFile ----

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!temporaryName_.empty() && folder_ != nullptr) unlinkat(folder_->fd_, temporaryName_.c_str(), 0);
}

int AtomicFile::Create(const Folder& folder, const std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string hex;
    if (const int rc = posix::RandomHex(&hex); rc != 0) return rc;
    const std::string candidate = ".brimora-writing-" + hex;
    fd_ = Retry([&] {
      return openat(folder.fd_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    });
    if (fd_ >= 0) {
      folder_ = &folder;
      name_ = name;
      temporaryName_ = candidate;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int AtomicFile::Write(std::string_view data) {
  if (fd_ < 0) return EBADF;
  buffer_.append(data);
  return buffer_.size() >= kWriteBuffer ? Flush() : 0;
}

int AtomicFile::Flush() {
  for (std::size_t done = 0; done < buffer_.size();) {
    const ssize_t written = Retry([&] { return write(fd_, buffer_.data() + done, buffer_.size() - done); });
    if (written < 0) return errno;
    done += static_cast<std::size_t>(written);
  }
  buffer_.clear();
  return 0;
}

int AtomicFile::Commit() {
  if (fd_ < 0) return EBADF;
  int rc = Flush();
  if (rc == 0 && fsync(fd_) != 0) rc = errno;
  if (close(fd_) != 0 && rc == 0 && errno != EINTR) rc = errno;
  fd_ = -1;
  if (rc != 0) return rc;
  if (renameat(folder_->fd_, temporaryName_.c_str(), folder_->fd_, name_.c_str()) != 0) return errno;
  temporaryName_.clear();
  return fsync(folder_->fd_) == 0 ? 0 : errno;
}

}  // namespace brimora::platform
