// Backup of the configuration and security files, and the single-file copies they share.

#include <cerrno>
#include <vector>

#include "common/settings_folder.h"
#include "backup/backup.h"
#include "backup/backup_messages.h"
#include "backup/backup_support.h"
#include "common/file_utils.h"
#include "common/trace_log.h"
#include "platform/files.h"

namespace brimora {
namespace {

constexpr const char* kUtilizationFileNames[] = {"utilization_h.txt", "utilized_h.pkl", "unutilized_h.pkl",
                                                 "UtilDevChans.txt", "UtilDevStates.txt"};

}  // namespace

bool CBackup::CopyBackupFile(const std::string& source, const std::string& destination, bool failIfExists,
                             int* error) {
  if (PathIsMissing(source)) {
    const std::string message = Format(messages::kSourceFileMissing, currentBackupFolder, source);
    if (!backupLog.WriteText(1, message)) WriteLogText(1, message);
    return true;
  }
  const int rc = platform::CopyOneFile(source, destination, failIfExists);
  if (error != nullptr) *error = rc;
  return rc == 0;
}

bool CBackup::BackupFile(const std::string& source, const std::string& destination,
                         const std::string& backupFolder) {
  int error = 0;
  if (CopyBackupFile(source, destination, true, &error)) return true;
  backupLog.Write(0, messages::kFileNotBackedUp, backupFolder, source, destination, error);
  return false;
}

bool CopyUtilizationFiles(const std::string& sourceFolder, const std::string& destinationFolder,
                          const std::string& label, CBackupLog* log) {
  const std::string shownLabel = label.empty() ? "Backup" : label;
  bool ok = true;
  for (const std::string name : kUtilizationFileNames) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) continue;
    std::vector<std::string> matches;
    ListFolder(sourceFolder + name.substr(0, dot) + "*" + name.substr(dot), &matches, nullptr);
    for (const std::string& match : matches) {
      const std::string source = sourceFolder + match;
      const std::string destination = destinationFolder + match;
      if (PathIsMissing(source)) {
        WriteLog(1, messages::kUtilizationFileMissing, shownLabel, source);
        continue;
      }
      if (const int rc = platform::CopyOneFile(source, destination, false); rc != 0) {
        if (log != nullptr) {
          log->Write(0, messages::kUtilizationFileNotCopied, shownLabel, sourceFolder, source, destination, rc);
        }
        ok = false;
      }
    }
  }
  return ok;
}

bool CBackup::BackupConfigurationFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kConfigurationStart, backupFolder);

  const std::string execute = installPath + "/Execute";
  const std::string settings = backupFolder + "/Settings";
  const std::string settingsFolderOfIni = GetSettingsFolder(installPath);

  if (platform::CreateFolder(settings) != 0) {
    backupLog.Write(0, messages::kConfigurationFolderNotCreated, backupFolder, settings);
    return false;
  }

  struct Item {
    std::string source;
    std::string destination;
    bool counts = true;  // whether a failure is reported and fails the step
  };
  std::vector<Item> items = {
      {execute + "/reports.xml", settings + "/reports.xml"},
      {GetSettingsFilePath(installPath, true), settings + "/Brimora.xml"},
      {settingsFolderOfIni + "/TestSystems.xml", settings + "/TestSystems.xml"},
      {settingsFolderOfIni + "/TestSystemGroups.xml", settings + "/TestSystemGroups.xml"},
  };
  std::vector<std::string> parameterFiles;
  ListFiles(execute, "BrimoraParams_*.xml", parameterFiles, 0);
  parameterFiles.push_back(execute + "/BrimoraParams.xml");
  for (const std::string& path : parameterFiles) {
    const std::string name = FileNameOf(path);
    items.push_back({execute + "/" + name, settings + "/" + name});
  }
  items.push_back({execute + "/XYNTService.ini", settings + "/XYNTService.ini"});
  // Without secure transport, missing or unreadable certificate files are no failure.
  items.push_back({sslCertificatePath, settings + "/" + FileNameOf(sslCertificatePath), sslEnabled});
  items.push_back({sslKeyPath, settings + "/" + FileNameOf(sslKeyPath), sslEnabled});
  for (const char* name : {"ScheduledTasks.xml", "UserDefined.xml", "backup.xml"}) {
    items.push_back({execute + "/" + name, settings + "/" + name});
  }
  items.push_back({installPath + "/GenericFileEditor.xml", settings + "/GenericFileEditor.xml"});
  for (const char* name : {"MergeUploadConfig.txt", "units.dat", "config.drv", "ReportJobs.xml"}) {
    items.push_back({execute + "/" + name, settings + "/" + name});
  }

  bool ok = true;
  for (const Item& item : items) {
    if (!item.counts) {
      CopyBackupFile(item.source, item.destination, true);
    } else if (!BackupFile(item.source, item.destination, backupFolder)) {
      ok = false;
    }
  }

  const std::string users = installPath + "/Users";
  if (!PathIsMissing(users)) {
    int error = 0;
    if (!CopyFolder(users, settings + "/Users", &error)) {
      backupLog.Write(0, messages::kFolderNotBackedUp, backupFolder, users, settings + "/Users", error);
      ok = false;
    }
  }

  // A utilization file that could not be saved fails the step like any other lost file.
  ok = CopyUtilizationFiles(execute + "/", settings + "/", "Backup", &backupLog) && ok;

  const std::string webReports = execute + "/WebReports";
  if (FolderExists(webReports)) {
    int error = 0;
    const std::string destination = settings + "/Execute/WebReports";
    if (!CopyFolder(webReports, destination, &error)) {
      backupLog.Write(0, messages::kFolderNotBackedUp, backupFolder, webReports, destination, error);
      ok = false;
    }
  }

  backupLog.Write(1, messages::kConfigurationComplete, backupFolder);
  return ok;
}

bool CBackup::BackupSecurityFiles(const std::string& backupFolder) {
  currentBackupFolder = backupFolder;
  backupLog.Write(1, messages::kSecurityStart, backupFolder);

  const std::string security = backupFolder + "/Security";
  if (platform::CreateFolder(security) != 0) {
    backupLog.Write(0, messages::kSecurityFolderNotCreated, backupFolder, security);
    return false;
  }
  const std::pair<std::string, std::string> items[] = {
      {installPath + "/CmdList.cfg", security + "/CmdList.cfg"},
      {installPath + "/Execute/users.dat", security + "/users.dat"},
      {installPath + "/Execute/users.xml", security + "/users.xml"},
      {installPath + "/Logs/BrimoraServerAccess.txt", security + "/BrimoraServerAccess.txt"},
      {installPath + "/Logs/BrimoraServerAccess_Prev.txt", security + "/BrimoraServerAccess_Prev.txt"},
  };
  bool ok = true;
  for (const auto& [source, destination] : items) ok = BackupFile(source, destination, backupFolder) && ok;
  backupLog.Write(1, messages::kSecurityComplete, backupFolder);
  return ok;
}

}  // namespace brimora
