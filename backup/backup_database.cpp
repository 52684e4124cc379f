// Backup of the search database: the search server's cores, copied with the server stopped.

#include <algorithm>

#include "backup/backup.h"
#include "backup/backup_layout.h"
#include "backup/backup_messages.h"
#include "backup/backup_support.h"
#include "common/file_utils.h"
#include "common/settings_folder.h"
#include "common/strings.h"
#include "common/xml.h"
#include "platform/files.h"
#include "search/solr_core.h"
#include "search/solr_instance.h"

namespace brimora {
namespace {

constexpr int kDefaultSolrPort = 8983;
constexpr int kShortestRestartWait = 30;
// The service account of the Windows server; on Linux no such account exists, so the grant
// fails and says so without failing the step.
constexpr const char kDatabaseAccount[] = "Network Service";
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

int ReadSolrPort(const std::string& settingsFile) {
  const XmlDocument settings = LoadXmlDocument(settingsFile);
  if (!settings) return kDefaultSolrPort;
  return ReadXmlInt(settings, "//SolrPort", kDefaultSolrPort);
}

int ReadSolrTimeoutSeconds(const std::string& settingsFile) {
  const XmlDocument settings = LoadXmlDocument(settingsFile);
  if (!settings) return kShortestRestartWait;
  std::string text = "30";
  ReadXmlText(settings, "//SolrTimeoutSecs", text);
  if (!IsNumber(text)) return kShortestRestartWait;
  return std::max(LeadingInt(text), kShortestRestartWait);
}

bool CBackup::BackupSearchDatabase(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kDatabaseStart, backupFolder);

  const std::string databaseFolder = backupFolder + "/" + layout::kDatabase;
  if (!FolderExists(databaseFolder) && platform::CreateFolder(databaseFolder) != 0) {
    backupLog.Write(0, messages::kDatabaseFolderNotCreated, backupFolder, databaseFolder);
    return false;
  }
  if (!GrantFolderAccess(ToAnsi(databaseFolder), kDatabaseAccount, "", kAccessAllRights, true)) {
    backupLog.Write(0, messages::kDatabaseAccessNotGranted, backupFolder, kDatabaseAccount, databaseFolder);
  }

  const std::string solrFolder = GetSolrFolder();
  if (PathIsMissing(solrFolder)) {
    // No search server in this installation: nothing to save, and nothing to stop.
    backupLog.Write(1, messages::kSourceFolderMissing, backupFolder, solrFolder);
    backupLog.Write(1, messages::kDatabaseComplete, backupFolder);
    return true;
  }

  CSolrInstance server;
  const int port = ReadSolrPort(GetSettingsFilePath(installPath, true));
  bool ok = false;
  bool restarted = false;
  {
    server.SetLocation(solrFolder, port);
    ServerUnavailable stopped;
    // Whether it was running or not, it is not running now; what the script says changes
    // nothing about the copies.
    std::string output;
    int exitCode = -1;
    server.RunSolrCommand("stop", output, exitCode);

    currentBackupFolder = databaseFolder;
    ok = CSolrCore(server, mainCore, 0).BackupDatabase(databaseFolder);
    for (const std::string& core : {utilizationCore, inboxCore, partsTrackerCore, std::string(kSchedulerCore)}) {
      if (!ok) break;
      ok = BackupCore(databaseFolder, core, &server);
    }

    // The server goes back into service whatever the copies answered. The wait comes from the
    // settings file beside the installation.
    const int timeout = ReadSolrTimeoutSeconds(settingsFolder + "/" + kSettingsFileName);
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

bool CBackup::BackupCore(const std::string& databaseFolder, const std::string& coreName,
                         CSolrInstance* server) {
  currentBackupFolder = databaseFolder;
  if (server == nullptr) return false;
  CSolrCore core(*server, coreName, 0);
  return core.BackupDatabase(databaseFolder);
}

}  // namespace brimora
