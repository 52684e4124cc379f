// Backup of the search database: the search server's cores, copied with the server stopped.

#include "backup/backup.h"
#include "backup/backup_layout.h"
#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/file_utils.h"
#include "common/progress.h"
#include "common/settings_folder.h"
#include "platform/acl.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "search/solr_core.h"
#include "search/solr_instance.h"

namespace brimora {
namespace {

constexpr const char kSchedulerCore[] = "labscheduler";

// Clears the available flag for its lifetime: the cores refuse their requests while the
// server is stopped.
class ServerUnavailable {
 public:
  ServerUnavailable() { SetSearchServerAvailable(false); }
  ~ServerUnavailable() { SetSearchServerAvailable(true); }
  ServerUnavailable(const ServerUnavailable&) = delete;
  ServerUnavailable& operator=(const ServerUnavailable&) = delete;
};

}  // namespace

bool CBackup::BackupSearchDatabase(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  SetProgressArea(kBackupAreas[1].name);
  backupLog.Write(1, messages::kDatabaseStart, backupFolder);

  const std::string databaseFolder = backupFolder + "/" + layout::kDatabase;
  if (PathIsMissing(databaseFolder) ? platform::CreateFolder(databaseFolder) != 0 : !IsFolder(databaseFolder)) {
    backupLog.Write(0, messages::kDatabaseFolderNotCreated, backupFolder, databaseFolder);
    return false;
  }

  const std::string solrFolder = GetSolrFolder();
  if (PathIsMissing(solrFolder)) {
    // The database was asked for and nothing of it can be saved: the run must not look whole.
    backupLog.Write(1, messages::kSourceFolderMissing, backupFolder, solrFolder);
    backupLog.Write(0, messages::kDatabaseFailed, backupFolder);
    return false;
  }
  GrantServerAccount(solrFolder, databaseFolder, backupFolder);

  CSolrInstance server;
  server.timing = searchServerTiming;
  const int port = ReadSolrPort(GetSettingsFilePath(installPath, true));
  // The wait comes from the settings file beside the installation.
  const int timeout = ReadSolrTimeoutSeconds(settingsFolder + "/" + kSettingsFileName);
  bool ok = false;
  bool restarted = false;
  {
    server.SetLocation(solrFolder, port);
    ServerUnavailable stopped;
    if (!server.Stop(timeout)) {
      // Copies of a running server's cores are not a backup, and a second server must not be
      // started beside the one that still runs.
      backupLog.Write(0, messages::kSearchServerNotStopped, backupFolder, solrFolder, port);
      backupLog.Write(0, messages::kDatabaseFailed, backupFolder);
      return false;
    }

    currentBackupFolder = databaseFolder;
    ok = CSolrCore(server, mainCore, 0).BackupDatabase(databaseFolder);
    for (const std::string& core : {utilizationCore, inboxCore, partsTrackerCore, std::string(kSchedulerCore)}) {
      if (!ok) break;
      ok = BackupCore(databaseFolder, core, &server);
    }

    // The server goes back into service whatever the copies answered.
    std::string version;
    restarted = server.Start(solrFolder, port, version, timeout);
  }
  if (!restarted) {
    // The cores may be saved, but the installation's search is down: the run must say so.
    backupLog.Write(0, messages::kSearchServerNotRestarted, backupFolder, solrFolder, port);
  }

  if (ok) {
    backupLog.Write(1, messages::kDatabaseComplete, backupFolder);
  } else {
    backupLog.Write(0, messages::kDatabaseFailed, backupFolder);
  }
  return ok && restarted;
}

void CBackup::GrantServerAccount(const std::string& solrFolder, const std::string& databaseFolder,
                                 const std::string& backupFolder) {
  // The search server runs as the account that owns its folder; root needs no grant.
  platform::FileInfo info;
  if (platform::GetFileInfo(solrFolder, true, &info) != 0 || info.owner == 0) return;
  if (platform::GrantUserAccess(databaseFolder, info.owner, true, true) == 0) return;
  std::string account;
  if (!platform::AccountName(info.owner, account)) account = std::to_string(info.owner);
  backupLog.Write(0, messages::kDatabaseAccessNotGranted, backupFolder, account, databaseFolder);
}

bool CBackup::BackupCore(const std::string& databaseFolder, const std::string& coreName,
                         CSolrInstance* server) {
  currentBackupFolder = databaseFolder;
  if (server == nullptr) return false;
  CSolrCore core(*server, coreName, 0);
  return core.BackupDatabase(databaseFolder);
}

}  // namespace brimora
