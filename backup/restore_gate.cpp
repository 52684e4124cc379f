#include "backup/restore_gate.h"

#include <cerrno>

#include "backup/backup_manifest.h"
#include "backup/record_messages.h"
#include "common/file_utils.h"
#include "common/trace_log.h"

namespace brimora {
namespace {

// Writes each difference between a folder and its manifest entries as a restore line.
ProblemSink RestoreLines() {
  return [](const ManifestProblem& problem) { WriteLog(0, messages::kRestoreAreaDamaged, problem.path, problem.what); };
}

}  // namespace

bool CRestoreGate::Open(const std::string& backupFolder, bool force) {
  force_ = force;
  const bool manifest = !PathIsMissing(backupFolder + "/" + layout::kEntries) ||
                        !PathIsMissing(backupFolder + "/" + layout::kChecksums);
  std::string why;
  int error = backup_.Open(backupFolder, true);
  if (error == 0) error = ReadRecord(backup_, &record_, &why);
  recordRead_ = error == 0;
  // A finished run wrote its manifest, so its contents are checked even when that has gone since.
  checkContents_ = manifest || (recordRead_ && record_.finished);
  if (error == ENOENT && !manifest) {
    WriteLog(0, messages::kRestoreUnchecked, backupFolder);
    return true;
  }
  if (error == ENOENT) {
    why = "has a manifest but no completion record";
  } else if (error != 0 && error != EINVAL) {
    why = "has a completion record that cannot be read: " + platform::ErrorText(error);
  } else if (error == EINVAL) {
    why = "has a completion record that " + why;
  } else if (!record_.finished) {
    why = "is from a backup run that did not finish" + (record_.stopReason.empty() ? "" : " (" + record_.stopReason + ")");
  } else {
    return true;
  }
  WriteLog(0, messages::kRestoreRefused, backupFolder, why);
  return force;
}

bool CRestoreGate::AreaMayRun(const char* backupArea, const char* folder, bool checkContents) {
  if (recordRead_ && record_.finished && !force_) {
    if (const AreaRecord* area = record_.Area(backupArea); area != nullptr && area->answer == AreaRecord::Answer::kFalse) {
      WriteLog(0, messages::kRestoreAreaRefused, backupArea);
      return false;
    }
  }
  if (!checkContents_ || !checkContents) return true;
  platform::Folder area;
  const int error = backup_.OpenChild(folder, &area);
  if (error == 0) return CheckAgainstManifest(area, folder, backup_, RestoreLines());
  EntryCount count;
  bool listed = false;
  if (error == ENOENT && ScanManifest(backup_, folder, &count, &listed) && !listed) return true;
  WriteLog(0, messages::kRestoreAreaDamaged, folder,
           error == ENOENT ? std::string("is missing") : "cannot be read: " + platform::ErrorText(error));
  return false;
}

bool CRestoreGate::CopyMatches(const std::string& copy, const char* folder) {
  if (!checkContents_) return true;
  platform::Folder copied;
  if (const int error = copied.Open(copy, false); error != 0) {
    WriteLog(0, messages::kRestoreAreaDamaged, folder, "cannot be read back: " + platform::ErrorText(error));
    return false;
  }
  return CheckAgainstManifest(copied, folder, backup_, RestoreLines());
}

bool CRestoreGate::ListedBytes(const char* folder, std::uint64_t* bytes) {
  EntryCount count;
  bool listed = false;
  if (!checkContents_ || !ScanManifest(backup_, folder, &count, &listed)) return false;
  *bytes = count.bytes;
  return true;
}

}  // namespace brimora
