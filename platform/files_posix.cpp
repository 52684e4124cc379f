#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix_util.h"

namespace brimora::platform {

using posix::Retry;

namespace posix {

int RandomHex(std::string* text) {
  std::uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) return errno;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", value);
  *text = digits;
  return 0;
}

}  // namespace posix

namespace {

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
  Folder opened;
  if (const int rc = opened.Open(folder, followLink); rc != 0) return rc == ELOOP ? ENOTDIR : rc;
  return opened.List(entries);
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
  *info = posix::InfoOf(st);
  return 0;
}

int RealPath(const std::string& path, std::string* resolved) {
  char* result = realpath(path.c_str(), nullptr);
  if (result == nullptr) return errno;
  *resolved = result;
  std::free(result);
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

int SetMode(const std::string& path, std::uint32_t mode) {
  return fchmodat(AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
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
    if (const int rc = posix::RandomHex(&hex); rc != 0) return rc;
    std::string candidate = folder;
    if (candidate.empty() || candidate.back() != '/') candidate += '/';
    candidate += prefix + hex + ending;
    const int fd = Retry([&] {
      return open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
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

std::string ErrorText(int errorCode) {
  char buffer[256] = {};
  return StrerrorResult(strerror_r(errorCode, buffer, sizeof buffer), buffer, errorCode);
}

}  // namespace brimora::platform
