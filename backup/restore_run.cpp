// The restore run.

#include "backup/backup.h"
#include "common/trace_log.h"

namespace brimora {

bool CBackup::RestoreFromBackup(bool /*includeDatabase*/, const std::string& /*userName*/) {
  // Nothing may be reported as restored while this build cannot restore.
  WriteLog(0, "Restore - ERROR: The restore is not available in this build; nothing was restored from %s.\n",
           backupPath);
  return false;
}

}  // namespace brimora
