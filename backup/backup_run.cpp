// The backup run: the backup folder, the order of the area steps, and the completion record and
// manifest that prove what the run saved.

#include <thread>

#include "backup/backup.h"
#include "backup/backup_manifest.h"
#include "backup/backup_messages.h"
#include "backup/backup_progress.h"
#include "backup/backup_record.h"
#include "backup/backup_reference.h"
#include "backup/record_messages.h"
#include "common/file_utils.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/trace_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/signals.h"

#ifndef BRIMORA_VERSION
#define BRIMORA_VERSION "unknown"
#endif

namespace brimora {

bool CBackup::BackupForUpdate(bool includeDatabase) {
  const std::string folder = backupPath;
  // A second run into a folder would merge "Copy of" files into the first run's copies.
  if (HoldsRecord(folder)) {
    backupLog.Write(0, messages::kBackupFolderHoldsARun, folder, layout::kRecord);
    return false;
  }
  if (PathIsMissing(folder) ? platform::CreateFolder(folder) != 0 : !IsFolder(folder)) {
    backupLog.Write(0, messages::kBackupFolderNotCreated, folder);
    return false;
  }
  if (!BackupFolderIsAllowed(folder)) return false;

  // The record says "not finished" before any area runs, so a folder whose run is killed says so.
  BackupRecord record;
  record.toolVersion = BRIMORA_VERSION;
  record.host = platform::HostName();
  record.installPath = installPath;
  record.backupPath = folder;
  record.started = platform::UtcNowText();
  record.includeDatabase = includeDatabase;
  const std::uint64_t errorsBefore = ErrorLineCount();
  platform::Folder backupFolder;
  int error = backupFolder.Open(folder, true);
  if (error == 0) error = WriteRecord(backupFolder, record);
  bool ok = error == 0;
  if (!ok) backupLog.Write(0, messages::kRecordNotWritten, folder, layout::kRecord, error);

  // Every copy of the run reports what it wrote, and takes unchanged files from the reference.
  CBackupReference reference(folder);
  if (!referenceFolder.empty()) OpenReference(&reference, &record);
  SetProgressTotals(ReferenceTotals(record.reference, includeDatabase));
  platform::ScopedCopyReuse reuse(&reference);

  // Every step runs whatever the earlier ones answered; any failure fails the run.
  const auto area = [&](const char* name, bool answer) {
    record.areas.push_back({name, answer ? AreaRecord::Answer::kTrue : AreaRecord::Answer::kFalse});
    ok = answer && ok;
  };
  area(kBackupAreas[0].name, BackupConfigurationFiles(folder));
  if (includeDatabase) {
    area(kBackupAreas[1].name, BackupSearchDatabase(folder));
  } else {
    record.areas.push_back({kBackupAreas[1].name, AreaRecord::Answer::kSkipped});
  }
  area(kBackupAreas[2].name, BackupParameterManagerFiles(folder));
  area(kBackupAreas[3].name, BackupParameterManagerImages(folder));
  area(kBackupAreas[4].name, BackupSecurityFiles(folder));
  area(kBackupAreas[5].name, BackupPartsTracker(folder));
  area(kBackupAreas[6].name, BackupFileStorage(folder));
  area(kBackupAreas[7].name, BackupLogFiles(folder));
  if (!backupFolder.IsOpen()) return false;
  if (const int signal = platform::StopSignal(); signal != 0) {
    // What was saved is put on disk, and the record says why the run did not finish.
    record.stopReason = "stopped by " + platform::SignalName(signal);
    record.copied = reference.copied;
    record.cloned = reference.cloned;
    record.linked = reference.linked;
    backupFolder.SyncFileSystem();
    record.ended = platform::UtcNowText();
    record.errorLines = ErrorLineCount() - errorsBefore;
    if (const int error = WriteRecord(backupFolder, record); error != 0) {
      backupLog.Write(0, messages::kRecordNotWritten, folder, layout::kRecord, error);
    }
    return false;
  }
  return FinishRecord(backupFolder, &record, ok, errorsBefore, reference);
}

void CBackup::OpenReference(CBackupReference* reference, BackupRecord* record) {
  if (std::string problem; reference->Open(referenceFolder, &problem) != 0) {
    backupLog.Write(0, messages::kReferenceNotUsed, record->backupPath, referenceFolder,
                    "its entries list cannot be read: " + problem);
    return;
  }
  record->reference = referenceFolder;
  std::vector<std::string> sources;
  for (const LayoutEntry& entry : BackupLayout()) {
    if (entry.kind == LayoutKind::kTree) sources.push_back(Paths().Source(entry));
  }
  reference->Prefetch(referenceFolder, sources);
}

// Writes the manifest, puts everything on disk, then replaces the first record with the outcome:
// a record that says finished never stands over data still in memory.
bool CBackup::FinishRecord(const platform::Folder& backupFolder, BackupRecord* record, bool ok,
                           std::uint64_t errorsBefore, const CBackupReference& reference) {
  const std::string& folder = record->backupPath;
  const std::string repository = Paths().Entry(folder, Layout(LayoutItem::kSubversionRepository));
  platform::FileInfo info;
  if (backupFolder.DescribeChild(LastComponent(repository), &info) == 0 && info.kind == platform::EntryKind::kFolder) {
    record->repositoryEntry = LastComponent(repository);
  }
  // The copies are written to disk while the manifest reads them back from memory: the disk's
  // time and the hashing's time overlap instead of adding up.
  int dataFlushError = 0;
  std::jthread dataFlush([&] { dataFlushError = backupFolder.SyncFileSystem(); });
  TopLevelCounts counts;
  std::string where;
  const KnownFiles known = [&](const platform::FileId& id) { return reference.Known(id); };
  if (const int error = WriteManifest(backupFolder, &counts, &where, known); error != 0) {
    backupLog.Write(0, messages::kManifestNotWritten, folder, where, platform::ErrorText(error));
    ok = false;
  }
  dataFlush.join();
  for (AreaRecord& area : record->areas) {
    for (const BackupArea& known : kBackupAreas) {
      if (area.name != known.name) continue;
      EntryCount count = counts[known.folder];
      if (area.name == kBackupAreas[6].name && !record->repositoryEntry.empty()) {
        count.files += counts[record->repositoryEntry].files;
        count.bytes += counts[record->repositoryEntry].bytes;
      }
      area.files = count.files;
      area.bytes = count.bytes;
    }
  }
  if (const int error = dataFlushError != 0 ? dataFlushError : backupFolder.SyncFileSystem(); error != 0) {
    backupLog.Write(0, messages::kBackupNotFlushed, folder, error);
    ok = false;
  }
  record->copied = reference.copied;
  record->cloned = reference.cloned;
  record->linked = reference.linked;
  record->ended = platform::UtcNowText();
  record->answer = ok;
  record->errorLines = ErrorLineCount() - errorsBefore;
  record->finished = true;
  record->complete = ok;
  if (const int error = WriteRecord(backupFolder, *record); error != 0) {
    backupLog.Write(0, messages::kRecordNotWritten, folder, layout::kRecord, error);
    return false;
  }
  return ok;
}

// Decided on where the folders really are, so no spelling ("/.", "..", a trailing "/", a link)
// can make the installation or one of its copied folders the backup folder: the steps would
// write their folders into the live installation and copy it into itself. The backup folder
// is also remembered, so that no copy of the run ever enters it.
bool CBackup::BackupFolderIsAllowed(const std::string& backupFolder) {
  runFolders_.clear();
  platform::FileInfo backup;
  if (platform::GetFileInfo(backupFolder, true, &backup) != 0) return true;  // the copies will say why
  runFolders_.push_back(backup.id);

  std::vector<std::string> copied = {installPath};
  for (const LayoutEntry& entry : BackupLayout()) {
    if (entry.kind == LayoutKind::kTree) copied.push_back(Paths().Source(entry));
  }
  for (const std::string& source : copied) {
    platform::FileInfo info;
    if (platform::GetFileInfo(source, true, &info) == 0 && info.id == backup.id) {
      backupLog.Write(0, messages::kBackupFolderIsASource, backupFolder, source);
      return false;
    }
  }
  return true;
}

}  // namespace brimora
