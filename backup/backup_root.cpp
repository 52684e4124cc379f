#include "backup/backup_root.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <utility>
#include <tuple>
#include <vector>

#include "backup/backup_record.h"
#include "backup/root_messages.h"
#include "common/file_utils.h"
#include "common/format.h"
#include "common/trace_log.h"
#include "common/tree_walk.h"
#include "platform/clock.h"
#include "platform/identity.h"

namespace brimora {
namespace {

// Names a run tries for its folder within one second before it gives up.
constexpr int kMaxDatedNameTries = 1000;
constexpr std::uint32_t kRootMode = 0700;
constexpr std::uint32_t kWritableByOthers = 0022;

struct StoredBackup {
  std::string name;
  platform::FileId id;
  BackupRecord record;
};

// A dated folder's name as its time and the number a later folder of the same second adds
// ("...Z-2" is 2), so that "...Z-10" sorts after "...Z-9"; any other name as it is.
std::pair<std::string_view, unsigned long> NameOrder(std::string_view name) {
  constexpr std::size_t kMaxDigits = 9;
  const std::size_t dash = name.rfind('-');
  const std::string_view digits = dash == std::string_view::npos ? std::string_view() : name.substr(dash + 1);
  if (digits.empty() || digits.size() > kMaxDigits || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return {name, 0};
  }
  return {name.substr(0, dash), std::stoul(std::string(digits))};
}

// Oldest first: by the record's start time, then by name.
bool Older(const StoredBackup& a, const StoredBackup& b) {
  return std::tuple(std::string_view(a.record.started), NameOrder(a.name)) <
         std::tuple(std::string_view(b.record.started), NameOrder(b.name));
}

bool Complete(const BackupRecord& record) { return record.finished && record.complete; }

// Whose backup it is: the same host, and the same installation folder by name or, where the
// names differ in spelling, by where the folders really are.
bool SameOwner(const BackupRecord& record, const BackupOwner& owner) {
  if (record.host != owner.host) return false;
  if (record.installPath == owner.installPath) return true;
  platform::FileInfo recorded;
  platform::FileInfo own;
  return platform::GetFileInfo(record.installPath, true, &recorded) == 0 &&
         platform::GetFileInfo(owner.installPath, true, &own) == 0 && recorded.id == own.id;
}

std::optional<platform::FileId> IdOf(const std::string& folder) {
  platform::FileInfo info;
  if (folder.empty() || platform::GetFileInfo(folder, true, &info) != 0) return std::nullopt;
  return info.id;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ChildOf(const std::string& root, const std::string& name) {
  return root == "/" ? root + name : root + "/" + name;
}

// The backups directly in `root`: real folders, opened without following a link, whose record
// reads. Everything else is named in *others. Oldest first.
int ListBackups(const platform::Folder& root, std::vector<StoredBackup>* backups, std::vector<std::string>* others) {
  std::vector<platform::FolderEntry> entries;
  if (const int error = root.List(&entries); error != 0) return error;
  for (const platform::FolderEntry& entry : entries) {
    platform::Folder folder;
    StoredBackup backup{entry.name, {}, {}};
    platform::FileInfo info;
    std::string problem;
    if (entry.kind != platform::EntryKind::kFolder || root.OpenChild(entry.name, &folder) != 0 ||
        folder.Describe(&info) != 0 || ReadRecord(folder, &backup.record, &problem) != 0) {
      others->push_back(entry.name);
      continue;
    }
    backup.id = info.id;
    backups->push_back(std::move(backup));
  }
  std::sort(backups->begin(), backups->end(), Older);
  return 0;
}

// Why `folder`, held by `lock`, cannot be the reference, or empty when it can.
std::string ReferenceProblem(const platform::FolderLock& lock, const BackupOwner& owner,
                             std::optional<platform::FileId> current) {
  platform::FileInfo info;
  if (const int error = lock.Held().Describe(&info); error != 0) {
    return Format(messages::kReferenceUnreadable, platform::ErrorText(error));
  }
  if (current && info.id == *current) return messages::kReferenceIsTheBackup;
  BackupRecord record;
  std::string problem;
  if (const int error = ReadRecord(lock.Held(), &record, &problem); error != 0) {
    return Format(messages::kReferenceNoRecord, error == EINVAL ? problem : platform::ErrorText(error));
  }
  if (!Complete(record)) return messages::kReferenceIncomplete;
  if (!SameOwner(record, owner)) return Format(messages::kReferenceOtherInstallation, record.installPath, record.host);
  return {};
}

bool DeleteBackup(const platform::Folder& root, const StoredBackup& backup) {
  const std::string path = ChildOf(root.Path(), backup.name);
  // Only a backup no other run holds is deleted, and only the very folder whose record was read.
  platform::FolderLock lock;
  platform::FileInfo info;
  if (const int error = lock.TakeChild(root, backup.name, false, 0); error != 0) {
    WriteLog(1, error == EWOULDBLOCK ? messages::kRetentionInUse : messages::kRetentionNotABackup, path);
    return true;
  }
  if (lock.Held().Describe(&info) != 0 || !(info.id == backup.id)) {
    WriteLog(1, messages::kRetentionNotABackup, path);
    return true;
  }
  const TreeDeleteResult result = DeleteTree(path, false);
  if (!PathIsMissing(path)) {
    const std::string why = result.failed ? result.failure.Description() : "a file in it could not be made writable";
    WriteLog(0, messages::kRetentionNotDeleted, path, why);
    return false;
  }
  WriteLog(1, messages::kRetentionDeleted, path);
  return true;
}

}  // namespace

std::string MakeDatedFolder(const std::string& givenRoot, platform::FolderLock* lock) {
  const std::string root = WithoutTrailingSeparators(givenRoot);
  platform::Folder folder;
  if (PathIsMissing(root)) {
    // Made private from the start: no other account may plant a folder that looks like a backup.
    const std::size_t cut = root.rfind('/');
    const std::string parentPath = cut == 0 ? "/" : cut == std::string::npos ? "." : root.substr(0, cut);
    platform::Folder parent;
    int error = parent.Open(parentPath, true);
    if (error == 0) error = parent.CreateChild(root.substr(cut + 1), kRootMode);
    if (error != 0 && error != EEXIST) {
      WriteLog(0, messages::kRootNotOpened, root, platform::ErrorText(error));
      return {};
    }
  }
  if (const int error = folder.Open(root, false); error != 0) {
    platform::FileInfo link;
    if (platform::GetFileInfo(root, false, &link) == 0 && link.kind == platform::EntryKind::kLink) {
      WriteLog(0, messages::kRootIsALink, root);
    } else {
      WriteLog(0, messages::kRootNotOpened, root, platform::ErrorText(error));
    }
    return {};
  }
  platform::FileInfo info;
  if (const int error = folder.Describe(&info); error != 0) {
    WriteLog(0, messages::kRootNotOpened, root, platform::ErrorText(error));
    return {};
  }
  if (info.owner != platform::EffectiveUserId() || (info.mode & kWritableByOthers) != 0) {
    WriteLog(0, messages::kRootNotPrivate, root);
    return {};
  }

  std::string stamp = platform::UtcNowText();
  std::erase(stamp, ':');
  // A name of this second that retention has freed is not taken again: the new folder must sort
  // after every folder made before it in the same second.
  unsigned long first = 0;
  std::vector<platform::FolderEntry> entries;
  folder.List(&entries);
  for (const platform::FolderEntry& entry : entries) {
    if (const auto [time, number] = NameOrder(entry.name); time == stamp) first = std::max(first, number + 1);
  }
  for (unsigned long attempt = first; attempt < first + kMaxDatedNameTries; ++attempt) {
    const std::string name = attempt == 0 ? stamp : stamp + "-" + std::to_string(attempt);
    int error = folder.CreateChild(name, 0777);
    if (error == EEXIST) continue;
    if (error == 0) error = lock->TakeChild(folder, name, false, 0);
    if (error != 0) {
      WriteLog(0, messages::kDatedFolderNotMade, root, platform::ErrorText(error));
      return {};
    }
    return ChildOf(root, name);
  }
  WriteLog(0, messages::kDatedFolderNotMade, root, platform::ErrorText(EEXIST));
  return {};
}

std::string FindReference(const std::string& givenRoot, const BackupOwner& owner, const std::string& current,
                          platform::FolderLock* lock) {
  const std::string root = WithoutTrailingSeparators(givenRoot);
  platform::Folder folder;
  std::vector<StoredBackup> backups;
  std::vector<std::string> others;
  if (folder.Open(root, false) != 0 || ListBackups(folder, &backups, &others) != 0) backups.clear();
  const std::optional<platform::FileId> currentId = IdOf(current);
  for (auto backup = backups.rbegin(); backup != backups.rend(); ++backup) {
    if (!Complete(backup->record) || !SameOwner(backup->record, owner) || backup->id == currentId) continue;
    // The record is read again under the lock: a backup that retention is deleting is passed by.
    platform::FileInfo info;
    if (lock->TakeChild(folder, backup->name, true, 0) == 0 && lock->Held().Describe(&info) == 0 &&
        info.id == backup->id && ReferenceProblem(*lock, owner, currentId).empty()) {
      const std::string path = ChildOf(root, backup->name);
      WriteLog(1, messages::kReferenceChosen, path);
      return path;
    }
    lock->Release();
  }
  WriteLog(1, messages::kNoReference, root);
  return {};
}

bool TakeGivenReference(const std::string& folder, const BackupOwner& owner, const std::string& current,
                        platform::FolderLock* lock) {
  const std::optional<platform::FileId> currentId = IdOf(current);
  std::string problem;
  if (currentId && IdOf(folder) == currentId) {
    problem = messages::kReferenceIsTheBackup;
  } else if (const int error = lock->Take(folder, true, true, 0); error != 0) {
    problem = error == EWOULDBLOCK ? messages::kReferenceBusy
                                   : Format(messages::kReferenceUnreadable, platform::ErrorText(error));
  } else {
    problem = ReferenceProblem(*lock, owner, currentId);
  }
  if (!problem.empty()) {
    lock->Release();
    WriteLog(0, messages::kReferenceRefused, folder, problem);
    return false;
  }
  WriteLog(1, messages::kReferenceChosen, folder);
  return true;
}

bool KeepNewestBackups(const std::string& givenRoot, int keep, const BackupOwner& owner, const std::string& current) {
  const std::string root = WithoutTrailingSeparators(givenRoot);
  platform::Folder folder;
  std::vector<StoredBackup> all;
  std::vector<std::string> others;
  int error = folder.Open(root, false);
  if (error == 0) error = ListBackups(folder, &all, &others);
  if (error != 0) {
    WriteLog(0, messages::kRootNotOpened, root, platform::ErrorText(error));
    return false;
  }
  for (const std::string& name : others) WriteLog(1, messages::kRetentionNotABackup, ChildOf(root, name));

  std::vector<StoredBackup> own;
  std::copy_if(all.begin(), all.end(), std::back_inserter(own),
               [&](const StoredBackup& backup) { return SameOwner(backup.record, owner); });
  const auto completeCount =
      static_cast<int>(std::count_if(own.begin(), own.end(), [](const StoredBackup& b) { return Complete(b.record); }));
  if (completeCount < keep) WriteLog(0, messages::kRetentionTooFew, root, completeCount, keep);
  std::size_t newestComplete = 0;  // one past it: nothing from there on is deleted
  for (std::size_t i = 0; i < own.size(); ++i) {
    if (Complete(own[i].record)) newestComplete = i;
  }

  const std::optional<platform::FileId> currentId = IdOf(current);
  int olderComplete = completeCount - keep;  // the oldest complete backups beyond those to keep
  bool deleted = true;
  for (std::size_t i = 0; i < newestComplete; ++i) {
    const bool complete = Complete(own[i].record);
    const bool beyondKeep = complete && olderComplete-- > 0;
    if (own[i].id == currentId || (complete && !beyondKeep)) continue;
    deleted = DeleteBackup(folder, own[i]) && deleted;
  }
  return deleted;
}

}  // namespace brimora
