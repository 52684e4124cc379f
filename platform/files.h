#pragma once
// Files and folders: the operating-system calls behind the file utilities, the tree walks and
// every single-file copy of the backup and restore.
//
// Names are bytes: every function takes and returns them unchanged, valid UTF-8 or not.
// Functions that can fail return 0 or the system's error code (an errno value); ErrorText turns
// that code into the system's message. None of them throws, and none writes to a log: what a
// call skipped or could not do is in its answer, and the caller reports it.
//
// Walking trees that other accounts can write: a Folder is an open folder, and every operation
// on one of its entries names the entry relative to it and never follows a symbolic link at
// that entry. A walk that holds a Folder per level therefore cannot be redirected out of the
// tree by a link planted while it runs. Only the roots a caller opens by path may be reached
// through links (those paths are the caller's choice).
//
// Thread safety: every function may be called from any thread; one Folder object must not be
// used by two threads at once. GetCurrentFolder and SetCurrentFolder act on the one working
// folder of the process.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brimora::platform {

// What a folder entry or path is, seen without following a symbolic link.
enum class EntryKind {
  kFile,    // a regular file
  kFolder,  // a real folder, never a link to one
  kLink,    // a symbolic link, whatever it points to (or dangling)
  kOther,   // a socket, FIFO or device: never opened by the copies
};

struct FolderEntry {
  std::string name;  // the bare name, never "." or ".."
  EntryKind kind = EntryKind::kFile;
};

// Where an object really is: its device and inode. Two paths name the same folder exactly when
// their identities are equal, whatever links or ".." steps the paths hold.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

struct FileTime {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  friend bool operator==(const FileTime&, const FileTime&) = default;
};

struct FileInfo {
  EntryKind kind = EntryKind::kFile;
  std::uint32_t mode = 0;  // permission bits (07777)
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint64_t size = 0;
  FileId id;
  FileTime accessed;
  FileTime modified;
  FileTime changed;  // the inode's change time: any write, rename of it, owner, mode or list change sets it
};

// Permission bits that a folder needs for its owner to list it, enter it and change it.
inline constexpr std::uint32_t kOwnerAllRights = 0700;
inline constexpr std::uint32_t kOwnerWrite = 0200;
// The permission bits a new entry of an installation may take from a copy's source: no
// set-user-id, set-group-id or sticky bit, and no write permission for others.
inline constexpr std::uint32_t kInstallableModeBits = 0775;

// Where a copy takes the owner, group, permission bits and access lists of what it writes.
enum class Ownership {
  // From the source, as `cp -a` keeps them: permission bits and POSIX access lists always, owner
  // and group when the process runs as root. The backup, whose sources are the installation.
  kSource,
  // From the destination, for a source that is not trusted (the restore's backup folder): a
  // file that replaces a regular file keeps that file's owner, group, permission bits and access
  // list; a new entry takes the owner and group of the folder it is made in, inherits that
  // folder's default access list, and takes the source's permission bits within
  // kInstallableModeBits. Contents and times still come from the source.
  kDestination,
};

class Folder;
class PendingFile;
class CopyReuse;
int CopyToPending(const Folder& from, const std::string& name, bool followLink, const Folder& to,
                  PendingFile* pending, bool* skipped, Ownership ownership, const std::string& targetName);

// An open folder. Movable, not copyable; closes its descriptor when destroyed.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // The path the folder was opened by, or its parent's path and its name: for messages only.
  const std::string& Path() const { return path_; }

  // Opens the folder at `path`. followLink false refuses a link at the path itself (ELOOP); the
  // path's other components are resolved as usual. ENOTDIR when it is not a folder.
  int Open(const std::string& path, bool followLink);

  // Opens the entry `name` of this folder as a folder, never through a link: ELOOP for a link,
  // ENOTDIR for anything else that is not a folder.
  int OpenChild(const std::string& name, Folder* child) const;

  // Describes this folder, or its entry `name` (a link is described, not followed).
  int Describe(FileInfo* info) const;
  int DescribeChild(const std::string& name, FileInfo* info) const;

  // The entries, sorted by name in byte order, without "." and "..". Where the file system does
  // not say an entry's kind, the entry is examined; an entry that cannot be examined fails the
  // whole listing (its error code), so nothing is ever left out unseen.
  int List(std::vector<FolderEntry>* entries) const;

  // Creates the folder `name` with the permission bits `mode` (less the umask).
  int CreateChild(const std::string& name, std::uint32_t mode) const;
  // Creates a folder named `prefix` followed by eight random hex digits, a name nothing had; sets
  // *name to it.
  int CreateUniqueChild(const std::string& prefix, std::uint32_t mode, std::string* name) const;
  // Removes the entry `name`: a folder (which must be empty) when `folder` is set, else a file
  // or a link (never what the link points to).
  int RemoveChild(const std::string& name, bool folder) const;
  // Sets the permission bits of the entry `name`; a link is refused, never followed.
  int SetChildMode(const std::string& name, std::uint32_t mode) const;

  // Reads the regular file `name` from start to end, handing its contents to `sink` in pieces,
  // and describes it in *info (when given). Never through a link at the name (ELOOP); anything else that is
  // not a regular file answers ENXIO without being opened for reading, so a FIFO never blocks.
  int ReadChild(const std::string& name, const std::function<void(std::string_view)>& sink,
                FileInfo* info) const;
  // Opens the regular file `name` for reading as a C stream that the caller closes with fclose;
  // the same rules as ReadChild.
  int OpenChildStream(const std::string& name, std::FILE** stream) const;
  // The target of the link `name`.
  int ReadChildLink(const std::string& name, std::string* target) const;
  // Renames the entry `from` to `to`, both in this folder. Without `replace` a taken name gives
  // EEXIST.
  int RenameChild(const std::string& from, const std::string& to, bool replace) const;
  // Exchanges the entries `a` and `b` of this folder in one step; EINVAL (or ENOSYS) where the
  // file system cannot.
  int ExchangeChildren(const std::string& a, const std::string& b) const;
  // Writes everything this folder's file system holds in memory to disk (syncfs), then answers.
  int SyncFileSystem() const;
  // Space left for this process on the folder's file system, in bytes.
  int FreeSpace(std::uint64_t* bytes) const;

  // Sets this folder's permission bits.
  int SetMode(std::uint32_t mode) const;
  // Gives this folder the permission bits and times of `info` (and its owner and group when
  // the process runs as root).
  int ApplyAttributes(const FileInfo& info) const;
  // Gives this folder the owner and group given when the process runs as root; otherwise
  // changes nothing.
  int SetOwner(std::uint32_t owner, std::uint32_t group) const;
  // Gives this folder the access list and default access list of the folder `source`; a list
  // the source lacks is removed here. Nothing to copy on a file system without access lists.
  int CopyAccessLists(const Folder& source) const;

 private:
  friend class PendingFile;
  friend class AtomicFile;
  friend class FolderLock;
  friend int CopyToPending(const Folder&, const std::string&, bool, const Folder&, PendingFile*, bool*, Ownership,
                           const std::string&);
  int fd_ = -1;
  bool readable_ = false;  // opened for reading; else only for reaching its entries
  std::string path_;
};

// A copy that has been written completely but has no name yet. Place gives it its name in one
// step, so a name never stands for a partial file. A copy that is never placed disappears with
// this object (or, where the file system cannot make unnamed files, stays behind only under a
// hidden temporary name beginning ".brimora-partial-").
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Names the copy `name` in its folder. With `replace`, a file or link already there is
  // replaced in one step (never written through; a folder there gives EISDIR); without it, a
  // name that is taken (by anything, a dangling link included) gives EEXIST and the copy stays
  // pending, so another name can be tried.
  int Place(const std::string& name, bool replace);

 private:
  friend int CopyToPending(const Folder&, const std::string&, bool, const Folder&, PendingFile*, bool*, Ownership,
                           const std::string&);
  void Discard();
  const Folder* folder_ = nullptr;
  int fd_ = -1;                 // an unnamed file, when the file system makes them
  std::string temporaryName_;   // else a hidden name in the folder
  std::string placed_;          // or an earlier copy already linked under this name (see CopyReuse)
  // `reuse` is told of the file, made from `source` as `how` says, once it has its name.
  void TellWhenNamed(CopyReuse* reuse, const FileInfo& written, const FileInfo& source, int how);
  void Named();
  CopyReuse* reuse_ = nullptr;
  FileId written_;
  FileInfo source_;
  int how_ = 0;
};

// A file that is written under a hidden temporary name and takes its real name only once it is
// whole and on disk (fsync, rename over the name, fsync of the folder), so a crash at any point
// leaves either the old file or the new one under the name, never part of one. A file that is
// never committed disappears with the object.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Starts the file that will be `name` in `folder` (mode 0644 less the umask). The folder must
  // outlive the object.
  int Create(const Folder& folder, const std::string& name);
  int Write(std::string_view data);
  int Commit();

 private:
  int Flush();
  const Folder* folder_ = nullptr;
  int fd_ = -1;
  std::string name_;
  std::string temporaryName_;
  std::string buffer_;
};

// Copies the entry `name` of `from` into `to` as a pending file: contents (holes of sparse files
// stay holes) and access and modification times to the nanosecond; owner, group, permission
// bits and access list as `ownership` says, where `targetName` is the name the copy will take
// in `to` (the file there is the one it replaces). A symbolic link is copied as a link with the
// same target unless followLink is set, in which case what it points to is copied. A socket,
// FIFO or device is never opened: the call sets *skipped and answers 0 with nothing pending. A
// folder gives EISDIR.
int CopyToPending(const Folder& from, const std::string& name, bool followLink, const Folder& to,
                  PendingFile* pending, bool* skipped, Ownership ownership, const std::string& targetName);

// Taking unchanged files from an earlier copy. A backup made again and again of the same
// installation takes a file that has not changed since an earlier backup from that backup
// instead of copying it. While a CopyReuse is installed on a thread (ScopedCopyReuse), every
// CopyToPending on that thread that keeps the source's attributes (Ownership::kSource) and
// writes a regular file first asks Find for an earlier copy. One is taken only when the earlier
// file, examined through its open descriptor, still has the source's size, modification time,
// permission bits, owner, group and access list; it is then cloned (FICLONE: the two share
// blocks but stay independent files) where the file system can, else hard-linked under the
// target name at once (the two are then one file) when that name is free. Anything else is
// copied as usual.
// Written is told of every regular file a placed copy wrote, whichever way.
enum class WrittenBy { kCopy, kClone, kLink };

struct EarlierCopy {
  const Folder* folder = nullptr;  // null: none, copy the file
  std::string name;
};

class CopyReuse {
 public:
  virtual ~CopyReuse() = default;
  // An earlier copy of the regular file `source` (its description, change time included),
  // which is to become `name` in `to`.
  virtual EarlierCopy Find(const Folder& to, const std::string& name, const FileInfo& source) = 0;
  // The file `written` (its identity) now has its name; it was made from `source` as `how`
  // says, from the copy the last Find answered when it was cloned or linked.
  virtual void Written(const FileId& written, const FileInfo& source, WrittenBy how) = 0;
};

// Installs `reuse` on the calling thread for the object's life; the previous one comes back
// after it.
class ScopedCopyReuse {
 public:
  explicit ScopedCopyReuse(CopyReuse* reuse);
  ~ScopedCopyReuse();
  ScopedCopyReuse(const ScopedCopyReuse&) = delete;
  ScopedCopyReuse& operator=(const ScopedCopyReuse&) = delete;

 private:
  CopyReuse* previous_;
  bool previousClones_;
};

// What a single-file copy does with a symbolic link at its source: copy the link itself, read
// through it, or refuse it (ELOOP, nothing copied) when the source folder is not trusted.
enum class SourceLink { kCopyAsLink, kFollow, kRefuse };

// The single-file copy by paths: CopyToPending from the source's folder, then Place in the
// destination's folder (replacing unless failIfExists). A socket, FIFO or device at the source
// sets *skipped and answers 0 when `skipped` is given; without it, the copy fails with ENXIO.
int CopyOneFile(const std::string& source, const std::string& destination, bool failIfExists,
                SourceLink link = SourceLink::kCopyAsLink, bool* skipped = nullptr,
                Ownership ownership = Ownership::kSource);

// Describes a path. followLink false describes a link itself; true what it points to.
// Answers ENOENT when nothing is there.
int GetFileInfo(const std::string& path, bool followLink, FileInfo* info);

// The path with every link and "." and ".." step resolved (realpath).
int RealPath(const std::string& path, std::string* resolved);

// Reads the entries of a folder into `entries` as Folder::List does. With followLink false a
// link at `folder` itself is not read through (ENOTDIR).
int ReadFolder(const std::string& folder, bool followLink, std::vector<FolderEntry>* entries);

// True when `folder` is a folder (a link to one counts) that this process may list.
bool CanListFolder(const std::string& folder);

// Creates one folder (mode 0777 less the umask). EEXIST when anything is already there.
int CreateFolder(const std::string& path);

// Removes a file or a symbolic link (never what the link points to).
int RemoveFile(const std::string& path);

// Removes an empty folder.
int RemoveFolder(const std::string& path);

// Sets the permission bits of the file or folder at `path`; a link there is refused.
int SetMode(const std::string& path, std::uint32_t mode);

// Renames a file or folder; replaces a file at `to` as rename(2) does.
int Rename(const std::string& from, const std::string& to);

int GetCurrentFolder(std::string* folder);
int SetCurrentFolder(const std::string& folder);

// $TMPDIR when set and not empty, else "/tmp". Never ends with "/" (unless it is "/").
std::string SystemTempFolder();

// Creates a new empty file, mode 0600, named folder + "/" + prefix + 8 lower-case hex digits +
// ending, with a name no other file had (exclusive create, retried on a clash). Sets *path.
int CreateUniqueFile(const std::string& folder, const std::string& prefix,
                     const std::string& ending, std::string* path);

// The path made absolute against the working folder (no other change). An absolute path is
// returned as it is; when the working folder cannot be read, the path unchanged.
std::string AbsolutePath(const std::string& path);

// True when `path` is a regular file (links followed) that this process may execute.
bool IsExecutableFile(const std::string& path);

// The first directory of $PATH holding an executable `name`, joined with it; empty when none.
std::string FindOnPath(const std::string& name);

// The system's message for an error code (strerror's text).
std::string ErrorText(int errorCode);

}  // namespace brimora::platform
