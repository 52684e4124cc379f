#pragma once
// Scheduled backups into one backup root: a new dated folder per run, the earlier complete backup
// whose unchanged files a run may take instead of copying them (its reference), and retention,
// which deletes old backups. Only real folders directly in the root that hold a readable
// completion record count as backups; links in the root are never followed, and what is not a
// backup is never deleted.
//
// Backup folders are locked as a whole (platform::FolderLock): a run holds its own folder
// exclusively while it writes it, and a shared lock on its reference; a restore or verify a
// shared lock on the backup it reads; retention deletes only what it can lock exclusively.
//
// Every function writes its own trace-log lines. Main thread only.

#include <string>

#include "platform/file_lock.h"

namespace brimora {

// Whose backups a run may take as its reference or delete: those its own installation made on
// this machine.
struct BackupOwner {
  std::string installPath;
  std::string host;
};

// Opens the root (made with mode 0700 when missing; its parent must exist), which must be a real
// folder, not a link, belonging to the running account and writable by no other, and makes a new
// folder "<YYYY-MM-DDTHHMMSSZ>" (UTC) in it, with "-1", "-2", ... added when the name is taken,
// so no folder is ever used twice. *lock holds the new folder exclusively. Answers its path, or
// an empty text after a level-0 line.
std::string MakeDatedFolder(const std::string& root, platform::FolderLock* lock);

// The newest backup in `root` whose record says finished and complete and names `owner`, other
// than the folder `current`, by the record's start time, then by name; *lock holds it shared.
// An empty text, with a level-1 line, when there is none.
std::string FindReference(const std::string& root, const BackupOwner& owner, const std::string& current,
                          platform::FolderLock* lock);

// Whether the folder the administrator named may be the reference: its record says finished and
// complete, it names `owner`, and it is not `current`. True with *lock holding it shared; else a
// level-0 line saying why (the run then copies everything, which loses nothing).
bool TakeGivenReference(const std::string& folder, const BackupOwner& owner, const std::string& current,
                        platform::FolderLock* lock);

// Deletes old backups of `owner` in `root` until `keep` (at least 1) complete ones remain, the
// oldest first, and every backup that is not complete and older than the newest complete one.
// Never deletes `current`, the newest complete backup, a backup of another installation or host,
// anything without a readable record (a level-1 line names it), nor a folder another run holds
// locked (a level-1 line). Fewer than `keep` complete backups is a level-0 line only. Answers
// false when a deletion failed (its level-0 line says so).
bool KeepNewestBackups(const std::string& root, int keep, const BackupOwner& owner, const std::string& current);

}  // namespace brimora
