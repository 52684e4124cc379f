#include "backup/backup.h"

#include <utility>

#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/file_utils.h"
#include "common/trace_log.h"

namespace brimora {
namespace {

constexpr char kLogNotOpened[] = "Unable to open the backup log: %s\n";

}  // namespace

CBackup::CBackup(std::string backupPath, std::string installPath, std::string mainCore,
                 std::string utilizationCore, std::string inboxCore, std::string partsTrackerCore,
                 std::string settingsFolder, std::string partsTrackerDatabasePath,
                 std::string sslCertificatePath, std::string sslKeyPath, bool sslEnabled)
    : backupPath(std::move(backupPath)),
      installPath(std::move(installPath)),
      mainCore(std::move(mainCore)),
      utilizationCore(std::move(utilizationCore)),
      inboxCore(std::move(inboxCore)),
      partsTrackerCore(std::move(partsTrackerCore)),
      settingsFolder(std::move(settingsFolder)),
      partsTrackerDatabasePath(std::move(partsTrackerDatabasePath)),
      sslCertificatePath(std::move(sslCertificatePath)),
      sslKeyPath(std::move(sslKeyPath)),
      sslEnabled(sslEnabled) {
  // Taken from the install path rather than the working folder, so that the log is where it
  // belongs even when the installation's Execute folder could not be made the working folder.
  const std::string logPath = this->installPath + "/" + kBackupLogName;
  if (!backupLog.Open(logPath)) WriteLog(0, kLogNotOpened, logPath);
}

CBackup::~CBackup() = default;

std::string CBackup::GetRepositoryFolder() const { return ReadRepositoryFolder(installPath); }

std::string CBackup::GetSolrFolder() const { return ReadSolrFolder(installPath); }

LayoutPaths CBackup::Paths(const std::string& root) const {
  return {root, settingsFolder, partsTrackerDatabasePath, sslCertificatePath, sslKeyPath};
}

bool CBackup::CopyTree(const std::string& source, const std::string& destination, int* error) {
  TreeFailure failure;
  if (CopyFolder(source, destination, &failure, runFolders_)) return true;
  if (error != nullptr) *error = failure.code;
  backupLog.Write(0, messages::kCopyFailedAt, currentBackupFolder, failure.Description());
  return false;
}

}  // namespace brimora
