#pragma once
// The completion record of a backup run, "BackupInfo.json" at the top of the backup folder. The
// run writes it first, before any area, saying the run has not finished, and replaces it last
// with the outcome, so a folder whose run was killed says so. A backup counts as complete only
// when its record says finished and complete.
//
// Paths in the record are written with EscapeName (valid UTF-8 whatever the names hold).
// Thread safety: functions may be called from any thread; calls are independent.

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup_manifest.h"
#include "platform/files.h"

namespace brimora {

struct AreaRecord {
  enum class Answer { kTrue, kFalse, kSkipped };
  std::string name;  // "Configuration", "Database", "ParameterManager", ... (see BackupAreaNames)
  Answer answer = Answer::kSkipped;
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

struct BackupRecord {
  static constexpr int kFormat = 1;
  int format = kFormat;
  std::string toolVersion;
  std::string host;
  std::string installPath;
  std::string backupPath;
  std::string started;  // UTC, ISO 8601
  std::string ended;    // empty until the run ends
  bool includeDatabase = false;
  std::string repositoryEntry;  // the folder in the backup that holds the Subversion repository
  std::vector<AreaRecord> areas;
  bool answer = false;           // what the run answered
  std::uint64_t errorLines = 0;  // level-0 lines the run wrote
  bool finished = false;         // the run reached its end
  bool complete = false;         // finished and answered true
  std::string stopReason;        // why a run ended early ("stopped by SIGTERM")
  // The earlier backup unchanged files were taken from ("" for none), and how the run's copies
  // wrote the files: copied, cloned from it, hard-linked to it.
  std::string reference;
  EntryCount copied;
  EntryCount cloned;
  EntryCount linked;

  // The area of that name, or null.
  const AreaRecord* Area(const std::string& name) const;
};

// The record as JSON text, and read back from it (false with *problem set when the text is not
// a record this tool can read).
std::string RecordJson(const BackupRecord& record);
bool ParseRecord(const std::string& text, BackupRecord* record, std::string* problem);

// Writes the record into `backupFolder` under its name, replacing the one there in one step once
// the new one is whole and on disk. Answers 0 or the error code.
int WriteRecord(const platform::Folder& backupFolder, const BackupRecord& record);

// Whether something (anything, a link included) stands at the record's name in the folder.
bool HoldsRecord(const std::string& backupFolder);

// Reads the record of a backup folder: 0, ENOENT when there is none, another error code when it
// cannot be read, or EINVAL with *problem set when it is not a readable record.
int ReadRecord(const platform::Folder& backupFolder, BackupRecord* record, std::string* problem);

}  // namespace brimora
