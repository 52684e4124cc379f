#pragma once
// What a restore may take from a backup folder, decided before it changes anything: the
// completion record says whether the backup run finished and which of its areas failed, and the
// manifest says what each area's files must be.
//
// Used by the restore run on the main thread only.

#include <string>

#include "backup/backup_record.h"
#include "platform/files.h"

namespace brimora {

class CRestoreGate {
 public:
  // Reads the backup folder's record and looks for its manifest. Answers false, after a level-0
  // line naming --force, when the whole restore must be refused: a manifest without a record, a
  // record that cannot be read, or a run that did not finish (unless `force`). A backup with
  // neither record nor manifest (made by another tool) gets a level-0 notice and no checks.
  bool Open(const std::string& backupFolder, bool force);

  // Whether the restore area that puts back what the backup area `backupArea` wrote may run.
  // Not when that area failed in the backup run (unless forced), nor when the backup's folder
  // `folder` does not hold exactly what the manifest lists for it (never forced); a level-0 line
  // says which. With `checkContents` false the contents are left to CopyMatches (a large area
  // checks the copy it made instead).
  bool AreaMayRun(const char* backupArea, const char* folder, bool checkContents);

  // Whether the contents are checked against a manifest.
  bool ChecksContents() const { return checkContents_; }

  // Whether `copy` holds exactly what the manifest lists at `folder` (its copy); a level-0 line
  // for each difference.
  bool CopyMatches(const std::string& copy, const char* folder);

  // The bytes the manifest lists at `folder`; false without a manifest.
  bool ListedBytes(const char* folder, std::uint64_t* bytes);

 private:
  platform::Folder backup_;
  BackupRecord record_;
  bool recordRead_ = false;
  bool force_ = false;
  bool checkContents_ = false;
};

}  // namespace brimora
