#include "common/tree_walk.h"

#include <algorithm>
#include <cerrno>

#include "common/format.h"
#include "common/paths.h"
#include "common/progress.h"
#include "common/trace_log.h"

namespace brimora {
namespace {

using platform::EntryKind;
using platform::FileId;
using platform::FileInfo;
using platform::Folder;
using platform::FolderEntry;

constexpr char kLinkWhereFolderNeeded[] = "is a symbolic link where a folder is needed; it is not followed";
constexpr char kNotAFolder[] = "is in the place of a folder but is not one";
constexpr char kFolderLoop[] = "is the same folder as one that contains it; it is not entered";
constexpr char kNoFreeName[] = "has no free name left in the \"Copy of\" series after %d tries";
// Write and search permission: what the owner needs to add entries to a folder.
constexpr std::uint32_t kOwnerWriteAndSearch = 0300;

bool SystemFailure(int code, std::string path, TreeFailure* failure) {
  *failure = {code, std::move(path), platform::ErrorText(code), false};
  return false;
}

// The walk's own failures carry the nearest system code, so that callers that only show a code
// still show one that fits.
bool OwnFailure(int code, std::string text, const std::string& path, TreeFailure* failure) {
  *failure = {code, path, std::move(text), true};
  return false;
}

bool Contains(const std::vector<FileId>& ids, const FileId& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// A folder that was there already but that its owner may not write to is opened up for the
// copy. Answers the mode to give back afterwards, or -1 when nothing changed.
long MakeWritable(const Folder& folder) {
  FileInfo info;
  if (folder.Describe(&info) != 0 || (info.mode & kOwnerWriteAndSearch) == kOwnerWriteAndSearch) return -1;
  if (folder.SetMode(info.mode | kOwnerWriteAndSearch) != 0) return -1;
  return static_cast<long>(info.mode);
}

// A destination folder the copy writes into, with what has to be put back when it is done.
struct DestinationFolder {
  Folder folder;
  bool created = false;
  long originalMode = -1;

  void Finish(const Folder& source, platform::Ownership ownership) {
    if (created) {
      FinishMadeFolder(folder, source, ownership);
    } else if (originalMode >= 0) {
      folder.SetMode(static_cast<std::uint32_t>(originalMode));
    }
  }
};

class TreeCopier {
 public:
  TreeCopier(const TreeCopyOptions& options, TreeFailure* failure) : options_(options), failure_(failure) {}

  bool CopyContents(const Folder& source, const Folder& destination) {
    std::vector<FolderEntry> entries;
    if (const int rc = source.List(&entries); rc != 0) return SystemFailure(rc, source.Path(), failure_);
    for (const FolderEntry& entry : entries) {
      bool ok = true;
      switch (entry.kind) {
        case EntryKind::kFolder: ok = CopyFolder(source, entry.name, destination); break;
        case EntryKind::kFile:
        case EntryKind::kLink:
          ok = CopyFileEntry(source, entry.name, destination, entry.name, options_.conflict, failure_,
                             options_.ownership);
          break;
        case EntryKind::kOther: WriteLog(1, kSpecialFileSkipped, JoinPath(source.Path(), entry.name)); break;
      }
      if (!ok) return false;
    }
    return true;
  }

  std::vector<FileId>& Ancestors() { return ancestors_; }

 private:
  bool CopyFolder(const Folder& parent, const std::string& name, const Folder& destinationParent) {
    const std::string path = JoinPath(parent.Path(), name);
    Folder source;
    if (const int rc = parent.OpenChild(name, &source); rc != 0) return SystemFailure(rc, path, failure_);
    FileInfo info;
    if (const int rc = source.Describe(&info); rc != 0) return SystemFailure(rc, path, failure_);
    if (Contains(options_.leaveOut, info.id)) {
      WriteLog(1, kFolderLeftOut, path);
      return true;
    }
    // Only a mount of a folder inside itself can bring a walk back to where it has been.
    if (Contains(ancestors_, info.id)) return OwnFailure(ELOOP, kFolderLoop, path, failure_);

    DestinationFolder destination;
    if (!OpenDestination(destinationParent, name, &destination)) return false;
    ancestors_.push_back(info.id);
    const bool copied = CopyContents(source, destination.folder);
    ancestors_.pop_back();
    destination.Finish(source, options_.ownership);
    return copied;
  }

  bool OpenDestination(const Folder& parent, const std::string& name, DestinationFolder* destination) {
    const std::string path = JoinPath(parent.Path(), name);
    // Created writable for the copy; the source's mode follows when it is filled.
    int rc = parent.CreateChild(name, platform::kOwnerAllRights);
    if (rc == 0) {
      destination->created = true;
    } else if (rc != EEXIST) {
      return SystemFailure(rc, path, failure_);
    }
    rc = parent.OpenChild(name, &destination->folder);
    if (rc == ELOOP) return OwnFailure(ELOOP, kLinkWhereFolderNeeded, path, failure_);
    if (rc == ENOTDIR) return OwnFailure(ENOTDIR, kNotAFolder, path, failure_);
    if (rc != 0) return SystemFailure(rc, path, failure_);
    if (destination->created) {
      AdoptMadeFolder(destination->folder, parent, options_.ownership);
    } else {
      destination->originalMode = MakeWritable(destination->folder);
    }
    return true;
  }

  const TreeCopyOptions& options_;
  TreeFailure* failure_;
  std::vector<FileId> ancestors_;
};

// The decimal text one above `digits` (digits only, no sign), with no limit on its length.
std::string Increment(std::string digits) {
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.empty()) return "1";
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return digits;
    }
    digits[i] = '0';
  }
  return "1" + digits;
}

class TreeDeleter {
 public:
  explicit TreeDeleter(bool stopAtFirstFailure) : stop_(stopAtFirstFailure) {}

  void DeletePath(const std::string& path) {
    FileInfo info;
    if (platform::GetFileInfo(path, false, &info) == 0 && info.kind != EntryKind::kFolder) {
      Folder parent;
      if (const int rc = parent.Open(ParentFolder(path), true); rc != 0) {
        Fail(rc, path);
        return;
      }
      DeleteEntry(parent, LastComponent(path), info);
      return;
    }
    // The folder itself, or nothing at all: then the removal at the end says so.
    if (info.kind == EntryKind::kFolder && (info.mode & platform::kOwnerAllRights) != platform::kOwnerAllRights) {
      platform::SetMode(path, info.mode | platform::kOwnerAllRights);
    }
    Folder folder;
    if (folder.Open(path, false) == 0) {
      if (!DeleteContents(folder)) return;
    }
    if (const int rc = platform::RemoveFolder(path); rc != 0 && !result_.undeletableFileMet) Fail(rc, path);
  }

  TreeDeleteResult Result() const { return result_; }

 private:
  // Answers false when the walk must end.
  bool Fail(int code, const std::string& path) {
    if (!result_.failed) {
      result_.failed = true;
      SystemFailure(code, path, &result_.failure);
    }
    return !stop_;
  }

  bool DeleteContents(const Folder& folder) {
    std::vector<FolderEntry> entries;
    if (const int rc = folder.List(&entries); rc != 0) return Fail(rc, folder.Path());
    for (const FolderEntry& entry : entries) {
      FileInfo info;
      if (const int rc = folder.DescribeChild(entry.name, &info); rc != 0) {
        if (!Fail(rc, JoinPath(folder.Path(), entry.name))) return false;
        continue;
      }
      if (!DeleteEntry(folder, entry.name, info)) return false;
    }
    return true;
  }

  bool DeleteEntry(const Folder& parent, const std::string& name, const FileInfo& info) {
    const std::string path = JoinPath(parent.Path(), name);
    if (info.kind == EntryKind::kFolder) {
      if ((info.mode & platform::kOwnerAllRights) != platform::kOwnerAllRights) {
        parent.SetChildMode(name, info.mode | platform::kOwnerAllRights);
      }
      Folder child;
      if (const int rc = parent.OpenChild(name, &child); rc != 0) {
        if (!Fail(rc, path)) return false;
      } else if (!DeleteContents(child)) {
        return false;
      }
      if (const int rc = parent.RemoveChild(name, true); rc != 0 && !result_.undeletableFileMet) {
        return Fail(rc, path);
      }
      return true;
    }
    // A read-only file is made writable first, so that it never outlives its tree merely for
    // lacking the permission; one whose permission cannot be changed is left alone.
    if (info.kind == EntryKind::kFile && (info.mode & platform::kOwnerWrite) == 0 &&
        parent.SetChildMode(name, info.mode | platform::kOwnerWrite) != 0) {
      result_.undeletableFileMet = true;
      return true;
    }
    if (const int rc = parent.RemoveChild(name, false); rc != 0) return Fail(rc, path);
    return true;
  }

  bool stop_;
  TreeDeleteResult result_;
};

}  // namespace

std::string TreeFailure::Description() const {
  return conflict ? Format("\"%s\" %s", path, text) : Format("\"%s\": %s", path, text);
}

bool CopyFolderTree(const Folder& source, const Folder& destination, const TreeCopyOptions& options,
                    TreeFailure* failure) {
  // The destination is never entered as part of the source, wherever it lies in it.
  TreeCopyOptions withDestination = options;
  FileInfo info;
  if (const int rc = destination.Describe(&info); rc != 0) return SystemFailure(rc, destination.Path(), failure);
  withDestination.leaveOut.push_back(info.id);
  TreeCopier copier(withDestination, failure);
  if (const int rc = source.Describe(&info); rc != 0) return SystemFailure(rc, source.Path(), failure);
  copier.Ancestors().push_back(info.id);
  // The destination root is the caller's: opened up for the copy if need be, its mode given
  // back afterwards, its other attributes left as they are.
  const long originalMode = MakeWritable(destination);
  const bool copied = copier.CopyContents(source, destination);
  if (originalMode >= 0) destination.SetMode(static_cast<std::uint32_t>(originalMode));
  return copied;
}

void AdoptMadeFolder(const Folder& made, const Folder& parent, platform::Ownership ownership) {
  FileInfo info;
  if (ownership == platform::Ownership::kDestination && parent.Describe(&info) == 0) {
    made.SetOwner(info.owner, info.group);
  }
}

void FinishMadeFolder(const Folder& made, const Folder& source, platform::Ownership ownership) {
  FileInfo info;
  if (source.Describe(&info) != 0) return;
  if (ownership == platform::Ownership::kSource) {
    made.ApplyAttributes(info);
    made.CopyAccessLists(source);
    return;
  }
  FileInfo own;
  if (made.Describe(&own) != 0) return;
  info.owner = own.owner;
  info.group = own.group;
  info.mode &= platform::kInstallableModeBits;
  made.ApplyAttributes(info);
}

bool CopyFileEntry(const Folder& from, const std::string& name, const Folder& to, const std::string& targetName,
                   ConflictPolicy conflict, TreeFailure* failure, platform::Ownership ownership) {
  platform::PendingFile pending;
  bool skipped = false;
  if (const int rc = platform::CopyToPending(from, name, false, to, &pending, &skipped, ownership, targetName);
      rc != 0) {
    return SystemFailure(rc, JoinPath(from.Path(), name), failure);
  }
  if (skipped) {
    WriteLog(1, kSpecialFileSkipped, JoinPath(from.Path(), name));
    return true;
  }
  NoteCopiedEntry(from, name);
  const bool replace = conflict == ConflictPolicy::kReplace;
  std::string target = targetName;
  for (int attempt = 0; attempt < kMaxCopyNameTries; ++attempt) {
    const int rc = pending.Place(target, replace);
    if (rc == 0) return true;
    if (rc != EEXIST || replace) return SystemFailure(rc, JoinPath(to.Path(), target), failure);
    target = NextCopyName(target);
  }
  return OwnFailure(EEXIST, Format(kNoFreeName, kMaxCopyNameTries), JoinPath(to.Path(), targetName), failure);
}

TreeDeleteResult DeleteTree(const std::string& path, bool stopAtFirstFailure) {
  TreeDeleter deleter(stopAtFirstFailure);
  deleter.DeletePath(path);
  return deleter.Result();
}

std::string NextCopyName(const std::string& name) {
  // Only a name that begins as an earlier copy's name continues its series; any other name,
  // whatever "Copy" or brackets it holds, is an original and gets the first name of the series.
  static const std::string kCopyOf = "Copy of ";
  static const std::string kNumbered = "Copy (";
  static const std::string kOf = ") of ";
  if (name.starts_with(kCopyOf)) return "Copy (1) of " + name.substr(kCopyOf.size());
  if (name.starts_with(kNumbered)) {
    const std::size_t end = name.find_first_not_of("0123456789", kNumbered.size());
    if (end != std::string::npos && end > kNumbered.size() && name.compare(end, kOf.size(), kOf) == 0) {
      return kNumbered + Increment(name.substr(kNumbered.size(), end - kNumbered.size())) + name.substr(end);
    }
  }
  return kCopyOf + name;
}

}  // namespace brimora
