#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/trace_log.h"

namespace brimora::platform {
namespace {

constexpr std::size_t kCopyBufferSize = 128 * 1024;
constexpr std::size_t kKernelCopyChunk = std::size_t{1} << 30;

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

// Retries close-free calls interrupted by a signal.
template <typename Call>
auto Retry(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A close error (NFS reports late write failures here) is a failed copy too.
int CloseChecked(int fd) {
  return close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = Retry([&] { return write(fd, data, size); });
    if (written < 0) return errno;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

// Copies from the current offsets to the end of `in`. copy_file_range lets the kernel (and
// file systems that share extents) do the work; where it is not available between these two
// files, the rest goes through a buffer.
int CopyData(int in, int out, std::uint64_t expectedSize) {
  bool kernel = true;
  bool first = true;
  std::vector<char> buffer;
  for (;;) {
    if (kernel) {
      const ssize_t copied =
          Retry([&] { return copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0); });
      if (copied > 0) {
        first = false;
        continue;
      }
      // Some pseudo files report no data to copy_file_range although read gives some.
      if (copied == 0 && !(first && expectedSize > 0)) return 0;
      if (copied < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EINVAL && errno != EPERM && errno != ETXTBSY) {
        return errno;
      }
      kernel = false;
      buffer.resize(kCopyBufferSize);
    }
    const ssize_t got = Retry([&] { return read(in, buffer.data(), buffer.size()); });
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (const int rc = WriteAll(out, buffer.data(), static_cast<std::size_t>(got)); rc != 0) {
      return rc;
    }
  }
}

// Owner first: chown clears set-user-id bits, which the following chmod restores. An owner
// that cannot be set (a file system without owners) does not fail the copy.
int ApplyAttributes(int fd, const struct stat& source) {
  if (geteuid() == 0) {
    (void)fchown(fd, source.st_uid, source.st_gid);
  }
  if (fchmod(fd, source.st_mode & 07777) != 0) return errno;
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (futimens(fd, times) != 0) return errno;
  return 0;
}

int ReadLink(const std::string& path, std::uint64_t sizeHint, std::string* target) {
  std::vector<char> buffer(std::max<std::uint64_t>(sizeHint, 63) + 1);
  for (;;) {
    const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      target->assign(buffer.data(), static_cast<std::size_t>(length));
      return 0;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int CopyLink(const std::string& source, const std::string& destination,
             const struct stat& sourceInfo, bool failIfExists) {
  std::string target;
  if (const int rc = ReadLink(source, static_cast<std::uint64_t>(sourceInfo.st_size), &target);
      rc != 0) {
    return rc;
  }
  if (!failIfExists) {
    struct stat existing {};
    if (lstat(destination.c_str(), &existing) == 0) {
      if (S_ISDIR(existing.st_mode)) return EISDIR;
      if (unlink(destination.c_str()) != 0) return errno;
    }
  }
  if (symlink(target.c_str(), destination.c_str()) != 0) return errno;
  if (geteuid() == 0) {
    (void)lchown(destination.c_str(), sourceInfo.st_uid, sourceInfo.st_gid);
  }
  const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
  // Link times are kept where the file system allows; a link's target matters, not its times.
  (void)utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

int RandomHex(std::string* text) {
  std::uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) return errno;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", value);
  *text = digits;
  return 0;
}

// strerror_r comes in two kinds: GNU answers the text (maybe not in the buffer), XSI a code.
[[maybe_unused]] std::string StrerrorResult(const char* text, const char*, int) {
  return text != nullptr ? text : "";
}
[[maybe_unused]] std::string StrerrorResult(int rc, const char* buffer, int errorCode) {
  return rc == 0 ? buffer : "Unknown error " + std::to_string(errorCode);
}

}  // namespace

int ReadFolder(const std::string& folder, bool followLink, std::vector<FolderEntry>* entries) {
  entries->clear();
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const int fd = Retry([&] { return open(folder.c_str(), flags); });
  if (fd < 0) return errno == ELOOP ? ENOTDIR : errno;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    const int rc = errno;
    close(fd);
    return rc;
  }
  int rc = 0;
  for (;;) {
    errno = 0;
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      rc = errno;
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    EntryKind kind;
    switch (entry->d_type) {
      case DT_REG: kind = EntryKind::kFile; break;
      case DT_DIR: kind = EntryKind::kFolder; break;
      case DT_LNK: kind = EntryKind::kLink; break;
      case DT_UNKNOWN: {
        struct stat info {};
        if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        kind = KindOf(info.st_mode);
        break;
      }
      default: kind = EntryKind::kOther; break;
    }
    entries->push_back({name, kind});
  }
  closedir(dir);
  if (rc != 0) {
    entries->clear();
    return rc;
  }
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return 0;
}

bool CanListFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  closedir(dir);
  return true;
}

int GetFileInfo(const std::string& path, bool followLink, FileInfo* info) {
  struct stat st {};
  const int rc = followLink ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
  if (rc != 0) return errno;
  info->kind = KindOf(st.st_mode);
  info->mode = st.st_mode & 07777;
  info->owner = st.st_uid;
  info->group = st.st_gid;
  info->size = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

int CopyOneFile(const std::string& source, const std::string& destination, bool failIfExists,
                bool* skipped) {
  if (skipped != nullptr) *skipped = false;
  struct stat info {};
  if (lstat(source.c_str(), &info) != 0) return errno;
  if (S_ISLNK(info.st_mode)) return CopyLink(source, destination, info, failIfExists);
  if (S_ISDIR(info.st_mode)) return EISDIR;

  // O_NONBLOCK: should the file have become a FIFO since lstat, opening it must not wait for a
  // writer. O_NOFOLLOW: nor may it have become a link.
  int in = -1;
  if (S_ISREG(info.st_mode)) {
    in = Retry([&] {
      return open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    });
    if (in < 0) return errno;
    if (fstat(in, &info) != 0) {
      const int rc = errno;
      close(in);
      return rc;
    }
  }
  if (!S_ISREG(info.st_mode)) {
    if (in >= 0) close(in);
    WriteLog(1, kSpecialFileSkipped, source);
    if (skipped != nullptr) *skipped = true;
    return 0;
  }

  std::string written = destination;
  int out = -1;
  if (failIfExists) {
    out = Retry([&] {
      return open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    });
  } else {
    struct stat existing {};
    if (lstat(destination.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
      close(in);
      return EISDIR;
    }
    // The temporary name is short so that it fits even beside a name of the longest length.
    written = ParentOf(destination) + "/.brimora-copy-XXXXXX";
    out = mkostemp(written.data(), O_CLOEXEC);
  }
  if (out < 0) {
    const int rc = errno;
    close(in);
    return rc;
  }

  int rc = CopyData(in, out, static_cast<std::uint64_t>(info.st_size));
  if (rc == 0) rc = ApplyAttributes(out, info);
  if (const int closed = CloseChecked(out); rc == 0) rc = closed;
  close(in);
  if (rc == 0 && written != destination && rename(written.c_str(), destination.c_str()) != 0) {
    rc = errno;
  }
  if (rc != 0) unlink(written.c_str());
  return rc;
}

int CopyAttributes(const std::string& source, const std::string& destination) {
  struct stat info {};
  if (stat(source.c_str(), &info) != 0) return errno;
  if (geteuid() == 0) {
    (void)chown(destination.c_str(), info.st_uid, info.st_gid);
  }
  if (chmod(destination.c_str(), info.st_mode & 07777) != 0) return errno;
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (utimensat(AT_FDCWD, destination.c_str(), times, 0) != 0) return errno;
  return 0;
}

int CreateFolder(const std::string& path) {
  return mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

int RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0 ? 0 : errno;
}

int RemoveFolder(const std::string& path) {
  return rmdir(path.c_str()) == 0 ? 0 : errno;
}

int AddOwnerWrite(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return errno;
  if ((info.st_mode & S_IWUSR) != 0) return 0;
  return chmod(path.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0 ? 0 : errno;
}

int Rename(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int GetCurrentFolder(std::string* folder) {
  std::vector<char> buffer(512);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      *folder = buffer.data();
      return 0;
    }
    if (errno != ERANGE || buffer.size() > (1u << 20)) return errno;
    buffer.resize(buffer.size() * 2);
  }
}

int SetCurrentFolder(const std::string& folder) {
  return chdir(folder.c_str()) == 0 ? 0 : errno;
}

std::string SystemTempFolder() {
  const char* value = std::getenv("TMPDIR");
  std::string folder = value != nullptr && *value != '\0' ? value : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                     const std::string& ending, std::string* path) {
  // 2^32 names: a clash is rare, a long run of them means something else is wrong.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string hex;
    if (const int rc = RandomHex(&hex); rc != 0) return rc;
    std::string candidate = folder;
    if (candidate.empty() || candidate.back() != '/') candidate += '/';
    candidate += prefix + hex + ending;
    const int fd = Retry([&] {
      return open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
    });
    if (fd >= 0) {
      close(fd);
      *path = std::move(candidate);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::string folder;
  if (GetCurrentFolder(&folder) != 0) return path;
  if (path.empty()) return folder;
  if (folder.back() != '/') folder += '/';
  return folder + path;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& name) {
  const char* value = std::getenv("PATH");
  const std::string list = value != nullptr ? value : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = list.find(':', start);
    std::string folder = list.substr(start, end == std::string::npos ? end : end - start);
    // An empty entry means the working folder, as the shell reads it.
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

int LastError() {
  return errno;
}

void SetLastError(int errorCode) {
  errno = errorCode;
}

std::string ErrorText(int errorCode) {
  char buffer[256] = {};
  return StrerrorResult(strerror_r(errorCode, buffer, sizeof buffer), buffer, errorCode);
}

}  // namespace brimora::platform
