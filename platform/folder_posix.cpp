// Folders opened by descriptor, and the file copy that writes through them.

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix_util.h"
#include "platform/signals.h"

namespace brimora::platform {
namespace {

using posix::Retry;

constexpr std::size_t kCopyBufferSize = 128 * 1024;
// Small enough that a stop request is seen within a fraction of a second.
constexpr std::size_t kKernelCopyChunk = std::size_t{64} << 20;
constexpr const char kTemporaryPrefix[] = ".brimora-partial-";
constexpr int kNameAttempts = 100;

// Unnamed files need O_TMPFILE support in the file system and /proc to give them a name. The
// first file system that refuses one switches them off for the process: hidden names work
// everywhere.
std::atomic<bool> gUnnamedFilesWork{true};

bool IsRoot() { return geteuid() == 0; }

// The earlier copies this thread's copies may take (see CopyReuse), and whether clones have
// worked so far: the first file system that refuses one makes the rest hard links.
thread_local CopyReuse* tReuse = nullptr;
thread_local bool tClonesWork = true;

std::string ChildPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// A close error (NFS reports late write failures here) is a failed copy too.
int CloseChecked(int fd) { return close(fd) == 0 || errno == EINTR ? 0 : errno; }

int WriteAll(int fd, const char* data, std::size_t size, off_t* offset) {
  while (size > 0) {
    const ssize_t written = Retry([&] {
      return offset != nullptr ? pwrite(fd, data, size, *offset) : write(fd, data, size);
    });
    if (written < 0) return errno;
    data += written;
    size -= static_cast<std::size_t>(written);
    if (offset != nullptr) *offset += written;
  }
  return 0;
}

bool KernelCopyUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL ||
         error == EPERM || error == ETXTBSY;
}

// Copies from the current offsets to the end of `in`. copy_file_range lets the kernel (and
// file systems that share extents) do the work; where it is not available between these two
// files, the rest goes through a buffer.
int CopyStream(int in, int out, std::uint64_t expectedSize) {
  bool kernel = true;
  bool first = true;
  std::vector<char> buffer;
  for (;;) {
    if (StopSignal() != 0) return ECANCELED;
    if (kernel) {
      const ssize_t copied =
          Retry([&] { return copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0); });
      if (copied > 0) {
        first = false;
        continue;
      }
      // Some pseudo files report no data to copy_file_range although read gives some.
      if (copied == 0 && !(first && expectedSize > 0)) return 0;
      if (copied < 0 && !KernelCopyUnsupported(errno)) return errno;
      kernel = false;
      buffer.resize(kCopyBufferSize);
    }
    const ssize_t got = Retry([&] { return read(in, buffer.data(), buffer.size()); });
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (const int rc = WriteAll(out, buffer.data(), static_cast<std::size_t>(got), nullptr); rc != 0) {
      return rc;
    }
  }
}

// Copies the bytes [from, to) at the same offsets.
int CopyRange(int in, int out, off_t from, off_t to) {
  off_t inOffset = from;
  off_t outOffset = from;
  bool kernel = true;
  std::vector<char> buffer;
  while (inOffset < to) {
    if (StopSignal() != 0) return ECANCELED;
    const std::size_t want = static_cast<std::size_t>(to - inOffset);
    if (kernel) {
      const ssize_t copied = Retry([&] {
        return copy_file_range(in, &inOffset, out, &outOffset, std::min(want, kKernelCopyChunk), 0);
      });
      if (copied > 0) continue;
      if (copied == 0) return 0;  // the file shrank meanwhile
      if (!KernelCopyUnsupported(errno)) return errno;
      kernel = false;
      buffer.resize(kCopyBufferSize);
    }
    const ssize_t got =
        Retry([&] { return pread(in, buffer.data(), std::min(want, buffer.size()), inOffset); });
    if (got < 0) return errno;
    if (got == 0) return 0;
    inOffset += got;
    if (const int rc = WriteAll(out, buffer.data(), static_cast<std::size_t>(got), &outOffset); rc != 0) {
      return rc;
    }
  }
  return 0;
}

// A file with fewer blocks than its size has holes. Only its data ranges are copied and the
// size is set at the end, so the holes stay holes (as `cp` does) and a sparse file does not
// grow to its full size in the copy.
int CopySparse(int in, int out, const struct stat& info) {
  const off_t size = info.st_size;
  off_t position = 0;
  while (position < size) {
    const off_t data = lseek(in, position, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole is left
      if (errno == EINVAL || errno == EOPNOTSUPP) {
        return CopyRange(in, out, position, size);
      }
      return errno;
    }
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole > size) hole = size;
    if (const int rc = CopyRange(in, out, data, hole); rc != 0) return rc;
    position = hole;
  }
  return ftruncate(out, size) == 0 ? 0 : errno;
}

int CopyContents(int in, int out, const struct stat& info) {
  constexpr off_t kBlockUnit = 512;
  const bool sparse = info.st_size > 0 && info.st_blocks * kBlockUnit < info.st_size;
  return sparse ? CopySparse(in, out, info)
                : CopyStream(in, out, static_cast<std::uint64_t>(info.st_size));
}

// Who a copy's file belongs to and what it may be used for.
struct GivenAttributes {
  uid_t owner = 0;
  gid_t group = 0;
  mode_t mode = 0;
  bool setList = false;    // give the copy `accessList` (none when empty), instead of what it inherited
  std::string accessList;
};

// The source's owner, group, permission bits and access list.
int SourceOwnership(int source, const struct stat& info, GivenAttributes* result) {
  *result = {info.st_uid, info.st_gid, static_cast<mode_t>(info.st_mode & 07777), true, {}};
  return posix::ReadAccessList(source, posix::kAccessList, &result->accessList);
}

// What the installation's rules give a copy that is to be named `name` in `folder`: the
// attributes of the regular file it replaces there; for a new entry, the folder's owner and
// group, the list inherited from the folder's default list, and `mode` within the installable
// bits.
int DestinationOwnership(int folder, const std::string& name, mode_t mode, GivenAttributes* result) {
  struct stat existing {};
  const int described = fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
  if (described != 0 && described != ENOENT) return described;
  if (described == 0 && S_ISREG(existing.st_mode)) {
    // Opened to read its list; a file this account may not read is still reached by O_PATH.
    constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC;
    int fd = Retry([&] { return openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | kFlags); });
    if (fd < 0 && errno == EACCES) fd = Retry([&] { return openat(folder, name.c_str(), O_PATH | kFlags); });
    if (fd < 0 && errno != ENOENT && errno != ELOOP) return errno;
    if (fd >= 0) {
      int rc = fstat(fd, &existing) == 0 ? 0 : errno;
      const bool regular = rc == 0 && S_ISREG(existing.st_mode);
      if (regular) {
        *result = {existing.st_uid, existing.st_gid, static_cast<mode_t>(existing.st_mode & 07777), true, {}};
        rc = posix::ReadAccessList(fd, posix::kAccessList, &result->accessList);
      }
      close(fd);
      if (rc != 0 || regular) return rc;
    }
  }
  struct stat parent {};
  if (fstat(folder, &parent) != 0) return errno;
  *result = {parent.st_uid, parent.st_gid, static_cast<mode_t>(mode & kInstallableModeBits), false, {}};
  return 0;
}

// Owner first: chown clears set-user-id bits, which the following chmod restores. An owner
// that cannot be set (a file system without owners) does not fail the copy.
int ApplyFileAttributes(int fd, const GivenAttributes& ownership, const struct stat& times) {
  if (IsRoot()) (void)fchown(fd, ownership.owner, ownership.group);
  if (fchmod(fd, ownership.mode) != 0) return errno;
  if (ownership.setList) {
    if (const int rc = posix::WriteAccessList(fd, posix::kAccessList, ownership.accessList); rc != 0) return rc;
  }
  const struct timespec stamps[2] = {times.st_atim, times.st_mtim};
  if (futimens(fd, stamps) != 0) return errno;
  return 0;
}

int ReadLinkAt(int folder, const std::string& name, std::uint64_t sizeHint, std::string* target) {
  std::vector<char> buffer(std::max<std::uint64_t>(sizeHint, 63) + 1);
  for (;;) {
    const ssize_t length = readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      target->assign(buffer.data(), static_cast<std::size_t>(length));
      return 0;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// Runs `make` with new hidden names until one is free; sets *name.
template <typename Make>
int WithTemporaryName(std::string* name, Make make) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string hex;
    if (const int rc = posix::RandomHex(&hex); rc != 0) return rc;
    *name = kTemporaryPrefix + hex;
    if (make(*name) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

bool ProcMounted() {
  static const bool mounted = access("/proc/self/fd", X_OK) == 0;
  return mounted;
}

// An unnamed file in `folder`, or -1 with errno set when the file system makes none.
int OpenUnnamedFile(int folder) {
  // The name is given through /proc, so without /proc an unnamed file could never be named.
  if (!ProcMounted() || !gUnnamedFilesWork.load(std::memory_order_relaxed)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const int fd = Retry([&] { return openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600); });
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOENT)) {
    gUnnamedFilesWork.store(false, std::memory_order_relaxed);
  }
  return fd;
}

// Reads every entry of the folder open as `fd` with getdents64, which works on the descriptor
// as it is (readdir would take the descriptor over).
int ReadEntries(int fd, std::vector<FolderEntry>* entries) {
  alignas(struct dirent64) char buffer[32 * 1024];
  for (;;) {
    const ssize_t got = Retry([&] { return getdents64(fd, buffer, sizeof buffer); });
    if (got < 0) return errno;
    if (got == 0) return 0;
    for (ssize_t offset = 0; offset < got;) {
      const auto* record = reinterpret_cast<const struct dirent64*>(buffer + offset);
      offset += record->d_reclen;
      const std::string name = record->d_name;
      if (name == "." || name == "..") continue;
      EntryKind kind = EntryKind::kOther;
      switch (record->d_type) {
        case DT_REG: kind = EntryKind::kFile; break;
        case DT_DIR: kind = EntryKind::kFolder; break;
        case DT_LNK: kind = EntryKind::kLink; break;
        case DT_UNKNOWN: {
          // Some file systems do not record kinds in their folders. An entry that cannot be
          // examined fails the listing: dropping it would lose it without a word.
          struct stat info {};
          if (fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
          kind = posix::KindOf(info.st_mode);
          break;
        }
        default: break;
      }
      entries->push_back({name, kind});
    }
  }
}

}  // namespace

// ---- Folder ----

int Folder::ReadChildLink(const std::string& name, std::string* target) const {
  return ReadLinkAt(fd_, name, 0, target);
}

Folder::~Folder() {
  if (fd_ >= 0) close(fd_);
}

Folder::Folder(Folder&& other) noexcept : fd_(other.fd_), readable_(other.readable_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    readable_ = other.readable_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

// A folder that may be entered but not listed (execute without read permission) still opens:
// its entries can be reached by name, and only listing it fails.
int Folder::Open(const std::string& path, bool followLink) {
  const int nofollow = followLink ? 0 : O_NOFOLLOW;
  int fd = Retry([&] { return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | nofollow); });
  const bool readable = fd >= 0;
  if (fd < 0 && errno == EACCES) {
    fd = Retry([&] { return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | nofollow); });
  }
  if (fd < 0) return errno;
  *this = Folder();
  fd_ = fd;
  readable_ = readable;
  path_ = path;
  return 0;
}

int Folder::OpenChild(const std::string& name, Folder* child) const {
  constexpr int kFlags = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = Retry([&] { return openat(fd_, name.c_str(), O_RDONLY | kFlags); });
  const bool readable = fd >= 0;
  if (fd < 0 && errno == EACCES) {
    fd = Retry([&] { return openat(fd_, name.c_str(), O_PATH | kFlags); });
  }
  if (fd < 0) {
    const int rc = errno;
    // O_NOFOLLOW reports a link as ELOOP, O_PATH as ENOTDIR: a link is always ELOOP here.
    struct stat info {};
    if (rc == ENOTDIR && fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode)) {
      return ELOOP;
    }
    return rc;
  }
  *child = Folder();
  child->fd_ = fd;
  child->readable_ = readable;
  child->path_ = ChildPath(path_, name);
  return 0;
}

int Folder::Describe(FileInfo* info) const {
  struct stat st {};
  if (fstat(fd_, &st) != 0) return errno;
  *info = posix::InfoOf(st);
  return 0;
}

int Folder::DescribeChild(const std::string& name, FileInfo* info) const {
  struct stat st {};
  if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  *info = posix::InfoOf(st);
  return 0;
}

int Folder::List(std::vector<FolderEntry>* entries) const {
  entries->clear();
  // A folder opened for reading is read through its own descriptor, from the start: that needs
  // only read permission, as listing does, and no further descriptor. One opened only for
  // reaching its entries is opened again, which fails as listing it must.
  int fd = fd_;
  if (readable_) {
    if (lseek(fd, 0, SEEK_SET) != 0) return errno;
  } else {
    fd = Retry([&] { return openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return errno;
  }
  const int rc = ReadEntries(fd, entries);
  if (fd != fd_) close(fd);
  if (rc != 0) {
    entries->clear();
    return rc;
  }
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return 0;
}

int Folder::CreateChild(const std::string& name, std::uint32_t mode) const {
  return mkdirat(fd_, name.c_str(), mode) == 0 ? 0 : errno;
}

int Folder::RemoveChild(const std::string& name, bool folder) const {
  return unlinkat(fd_, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0 ? 0 : errno;
}

int Folder::SetChildMode(const std::string& name, std::uint32_t mode) const {
  return fchmodat(fd_, name.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// A folder opened for reaching entries only takes no fchmod; its /proc name leads to the very
// object the descriptor holds, never along a path that could have changed.
int Folder::SetMode(std::uint32_t mode) const {
  if (fchmod(fd_, mode) == 0) return 0;
  if (errno != EBADF) return errno;
  return chmod(DescriptorPath(fd_).c_str(), mode) == 0 ? 0 : errno;
}

int Folder::SetOwner(std::uint32_t owner, std::uint32_t group) const {
  if (!IsRoot()) return 0;
  return fchownat(fd_, "", owner, group, AT_EMPTY_PATH) == 0 ? 0 : errno;
}

int Folder::CopyAccessLists(const Folder& source) const {
  for (const char* which : {posix::kAccessList, posix::kDefaultList}) {
    std::string list;
    if (const int rc = posix::ReadAccessList(source.fd_, which, &list); rc != 0) return rc;
    if (const int rc = posix::WriteAccessList(fd_, which, list); rc != 0) return rc;
  }
  return 0;
}

int Folder::ApplyAttributes(const FileInfo& info) const {
  if (IsRoot()) (void)fchownat(fd_, "", info.owner, info.group, AT_EMPTY_PATH);
  if (const int rc = SetMode(info.mode); rc != 0) return rc;
  const struct timespec times[2] = {{info.accessed.seconds, info.accessed.nanoseconds},
                                    {info.modified.seconds, info.modified.nanoseconds}};
  if (futimens(fd_, times) == 0) return 0;
  if (errno != EBADF) return errno;
  return utimensat(AT_FDCWD, DescriptorPath(fd_).c_str(), times, 0) == 0 ? 0 : errno;
}

// ---- PendingFile ----

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
  reuse_ = nullptr;
  if (!placed_.empty() && folder_ != nullptr) unlinkat(folder_->fd_, placed_.c_str(), 0);
  placed_.clear();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporaryName_.empty() && folder_ != nullptr) unlinkat(folder_->fd_, temporaryName_.c_str(), 0);
  temporaryName_.clear();
  folder_ = nullptr;
}

int PendingFile::Place(const std::string& name, bool replace) {
  if (folder_ == nullptr) return EINVAL;
  if (!placed_.empty()) {
    // Linked under its name already; only that name is its own.
    if (name != placed_) return EEXIST;
    placed_.clear();
    Named();
    Discard();
    return 0;
  }
  const int folder = folder_->fd_;
  if (fd_ >= 0) {
    // Linking an unnamed file never replaces anything: a taken name gives EEXIST.
    const std::string self = DescriptorPath(fd_);
    if (linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      Named();
      Discard();
      return 0;
    }
    if (errno != EEXIST || !replace) return errno;
    std::string hidden;
    if (const int rc = WithTemporaryName(&hidden, [&](const std::string& candidate) {
          return linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW);
        });
        rc != 0) {
      return rc;
    }
    close(fd_);
    fd_ = -1;
    temporaryName_ = hidden;
  }
  if (replace) {
    if (renameat(folder, temporaryName_.c_str(), folder, name.c_str()) != 0) return errno;
  } else if (renameat2(folder, temporaryName_.c_str(), folder, name.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace rename: a hard link is just as exclusive.
    if (linkat(folder, temporaryName_.c_str(), folder, name.c_str(), 0) != 0) return errno;
    unlinkat(folder, temporaryName_.c_str(), 0);
  }
  Named();
  temporaryName_.clear();
  folder_ = nullptr;
  return 0;
}

void PendingFile::TellWhenNamed(CopyReuse* reuse, const FileInfo& written, const FileInfo& source, int how) {
  reuse_ = reuse;
  written_ = written.id;
  source_ = source;
  how_ = how;
}

void PendingFile::Named() {
  if (reuse_ != nullptr) reuse_->Written(written_, source_, static_cast<WrittenBy>(how_));
  reuse_ = nullptr;
}

ScopedCopyReuse::ScopedCopyReuse(CopyReuse* reuse) : previous_(tReuse), previousClones_(tClonesWork) {
  tReuse = reuse;
  tClonesWork = true;
}

ScopedCopyReuse::~ScopedCopyReuse() {
  tReuse = previous_;
  tClonesWork = previousClones_;
}

// ---- Copies ----

namespace {

int CopyLinkToPending(int fromFd, const std::string& name, const struct stat& info, int toFd,
                      const GivenAttributes& ownership, std::string* temporaryName) {
  std::string target;
  if (const int rc = ReadLinkAt(fromFd, name, static_cast<std::uint64_t>(info.st_size), &target); rc != 0) {
    return rc;
  }
  if (const int rc = WithTemporaryName(temporaryName, [&](const std::string& candidate) {
        return symlinkat(target.c_str(), toFd, candidate.c_str());
      });
      rc != 0) {
    return rc;
  }
  if (IsRoot()) (void)fchownat(toFd, temporaryName->c_str(), ownership.owner, ownership.group, AT_SYMLINK_NOFOLLOW);
  // Link times are kept where the file system allows; a link's target matters, not its times.
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  (void)utimensat(toFd, temporaryName->c_str(), times, AT_SYMLINK_NOFOLLOW);
  return 0;
}

// Takes the earlier copy `earlierName` in the folder open as `earlierFolder` for the regular file
// described by `info` (its attributes `given`), which is to become `targetName` in the folder
// open as `to`, when the earlier copy is still equal to it: cloned into an unnamed file (*fd, to
// be named), else hard-linked under the name at once (*linked; the name must be free: a taken
// name means a merge, and the earlier copy under it may have come from another source). With
// neither, the file is copied. *made is what was made; answers 0, or the error that stopped it.
int TakeEarlierCopy(const struct stat& info, const GivenAttributes& given, int earlierFolder,
                    const std::string& earlierName, int to, const std::string& targetName, int* fd, bool* linked,
                    struct stat* made) {
  *fd = -1;
  *linked = false;
  const int old = Retry([&] {
    return openat(earlierFolder, earlierName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  });
  if (old < 0) return 0;
  struct stat& copy = *made;
  std::string list;
  const bool equal = fstat(old, &copy) == 0 && S_ISREG(copy.st_mode) && copy.st_size == info.st_size &&
                     copy.st_mtim.tv_sec == info.st_mtim.tv_sec && copy.st_mtim.tv_nsec == info.st_mtim.tv_nsec &&
                     (copy.st_mode & 07777) == given.mode && copy.st_uid == given.owner &&
                     copy.st_gid == given.group && posix::ReadAccessList(old, posix::kAccessList, &list) == 0 &&
                     list == given.accessList;
  if (!equal) {
    close(old);
    return 0;
  }
  if (tClonesWork) {
    const int out = OpenUnnamedFile(to);
    if (out >= 0 && ioctl(out, FICLONE, old) == 0) {
      close(old);
      int rc = ApplyFileAttributes(out, given, info);
      if (rc == 0 && fstat(out, made) != 0) rc = errno;
      if (rc != 0) {
        close(out);
        return rc;
      }
      *fd = out;
      return 0;
    }
    // Another file system than the earlier copy's refuses this clone only.
    if (errno != EXDEV) tClonesWork = false;
    if (out >= 0) close(out);
  }
  // Linked through its descriptor, so the file examined is the file linked; as root without
  // a path at all, else through /proc. A link that cannot be made (another file system, the
  // name taken, the link limit, protected hard links) leaves the file to be copied.
  constexpr nlink_t kLinkLimit = 60000;
  if (copy.st_nlink < kLinkLimit) {
    const int rc = IsRoot() ? linkat(old, "", to, targetName.c_str(), AT_EMPTY_PATH)
                   : ProcMounted() ? linkat(AT_FDCWD, DescriptorPath(old).c_str(), to, targetName.c_str(), AT_SYMLINK_FOLLOW)
                                   : -1;
    *linked = rc == 0;
  }
  close(old);
  return 0;
}

}  // namespace

int CopyToPending(const Folder& from, const std::string& name, bool followLink, const Folder& to,
                  PendingFile* pending, bool* skipped, Ownership ownership, const std::string& targetName) {
  pending->Discard();
  *skipped = false;
  struct stat info {};
  if (fstatat(from.fd_, name.c_str(), &info, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return errno;
  const bool installation = ownership == Ownership::kDestination;
  if (S_ISLNK(info.st_mode)) {
    // A link has no permissions of its own; only its owner follows the rules.
    GivenAttributes linkOwnership = {info.st_uid, info.st_gid, 0, false, {}};
    if (installation) {
      if (const int rc = DestinationOwnership(to.fd_, targetName, 0, &linkOwnership); rc != 0) return rc;
    }
    std::string hidden;
    if (const int rc = CopyLinkToPending(from.fd_, name, info, to.fd_, linkOwnership, &hidden); rc != 0) return rc;
    pending->folder_ = &to;
    pending->temporaryName_ = hidden;
    return 0;
  }
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if (!S_ISREG(info.st_mode)) {
    *skipped = true;
    return 0;
  }

  // O_NONBLOCK: should the file have become a FIFO since it was examined, opening it must not
  // wait for a writer. O_NOFOLLOW: nor may it have become a link.
  const int nofollow = followLink ? 0 : O_NOFOLLOW;
  const int in = Retry([&] {
    return openat(from.fd_, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | nofollow);
  });
  if (in < 0) return errno;
  if (fstat(in, &info) != 0) {
    const int rc = errno;
    close(in);
    return rc;
  }
  if (!S_ISREG(info.st_mode)) {
    close(in);
    *skipped = true;
    return 0;
  }

  // A new file inherits the default access list of its folder; the rules decide whether it keeps it.
  GivenAttributes given;
  int rc = installation ? DestinationOwnership(to.fd_, targetName, info.st_mode, &given)
                        : SourceOwnership(in, info, &given);
  if (rc != 0) {
    close(in);
    return rc;
  }
  if (!installation && tReuse != nullptr) {
    if (const EarlierCopy earlier = tReuse->Find(to, targetName, posix::InfoOf(info)); earlier.folder != nullptr) {
      int cloned = -1;
      bool linked = false;
      struct stat made {};
      if (const int rc = TakeEarlierCopy(info, given, earlier.folder->fd_, earlier.name, to.fd_, targetName, &cloned,
                                         &linked, &made);
          rc != 0) {
        close(in);
        return rc;
      }
      if (cloned >= 0 || linked) {
        close(in);
        pending->folder_ = &to;
        pending->fd_ = cloned;
        if (linked) pending->placed_ = targetName;
        pending->TellWhenNamed(tReuse, posix::InfoOf(made), posix::InfoOf(info),
                               static_cast<int>(linked ? WrittenBy::kLink : WrittenBy::kClone));
        return 0;
      }
    }
  }
  std::string hidden;
  int out = OpenUnnamedFile(to.fd_);
  if (out < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
    const int rc = errno;
    close(in);
    return rc;
  }
  if (out < 0) {
    const int rc = WithTemporaryName(&hidden, [&](const std::string& candidate) {
      out = Retry([&] {
        return openat(to.fd_, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                      0600);
      });
      return out < 0 ? -1 : 0;
    });
    if (rc != 0) {
      close(in);
      return rc;
    }
  }

  rc = CopyContents(in, out, info);
  if (rc == 0) rc = ApplyFileAttributes(out, given, info);
  close(in);
  if (rc == 0 && !installation && tReuse != nullptr) {
    struct stat made {};
    if (fstat(out, &made) == 0) {
      pending->TellWhenNamed(tReuse, posix::InfoOf(made), posix::InfoOf(info), static_cast<int>(WrittenBy::kCopy));
    }
  }
  if (!hidden.empty()) {
    if (const int closed = CloseChecked(out); rc == 0) rc = closed;
    if (rc != 0) {
      unlinkat(to.fd_, hidden.c_str(), 0);
      return rc;
    }
    pending->folder_ = &to;
    pending->temporaryName_ = hidden;
    return 0;
  }
  if (rc != 0) {
    close(out);
    return rc;
  }
  pending->folder_ = &to;
  pending->fd_ = out;
  return 0;
}

int CopyOneFile(const std::string& source, const std::string& destination, bool failIfExists,
                SourceLink link, bool* skipped, Ownership ownership) {
  const auto split = [](const std::string& path, std::string* folder, std::string* name) {
    const std::size_t slash = path.rfind('/');
    *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
  };
  std::string sourceFolder, sourceName, destinationFolder, destinationName;
  split(source, &sourceFolder, &sourceName);
  split(destination, &destinationFolder, &destinationName);
  if (sourceName.empty() || destinationName.empty()) return EISDIR;

  Folder from;
  if (const int rc = from.Open(sourceFolder, true); rc != 0) return rc;
  if (link == SourceLink::kRefuse) {
    FileInfo info;
    if (const int rc = from.DescribeChild(sourceName, &info); rc != 0) return rc;
    if (info.kind == EntryKind::kLink) return ELOOP;
  }
  Folder to;
  if (const int rc = to.Open(destinationFolder, true); rc != 0) return rc;
  PendingFile pending;
  bool special = false;
  if (const int rc = CopyToPending(from, sourceName, link == SourceLink::kFollow, to, &pending, &special, ownership,
                                   destinationName);
      rc != 0) {
    return rc;
  }
  if (special && skipped == nullptr) return ENXIO;
  if (skipped != nullptr) *skipped = special;
  if (special) return 0;
  return pending.Place(destinationName, !failIfExists);
}

}  // namespace brimora::platform
