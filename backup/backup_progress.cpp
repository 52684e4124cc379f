#include "backup/backup_progress.h"

#include "backup/backup_layout.h"
#include "backup/backup_record.h"
#include "platform/files.h"

namespace brimora {

CopyCounts ReferenceTotals(const std::string& referenceFolder, bool includeDatabase) {
  CopyCounts totals;
  if (referenceFolder.empty()) return totals;
  platform::Folder folder;
  BackupRecord record;
  std::string problem;
  if (folder.Open(referenceFolder, true) != 0 || ReadRecord(folder, &record, &problem) != 0 || !record.complete) {
    return totals;
  }
  for (const AreaRecord& area : record.areas) {
    if (area.name == kBackupAreas[1].name && !includeDatabase) continue;
    totals.files += area.files;
    totals.bytes += area.bytes;
  }
  return totals;
}

}  // namespace brimora
