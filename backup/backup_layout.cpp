#include "backup/backup_layout.h"

#include <array>
#include <cstddef>
#include <utility>

#include "backup/configuration.h"
#include "common/paths.h"
#include "common/settings_folder.h"
#include "platform/files.h"

namespace brimora {
namespace {

using enum LayoutItem;
using enum LayoutBase;
using enum LayoutKind;

constexpr bool kOwnName = true;
constexpr bool kFixedName = false;
// The restore column of an entry the restore leaves alone.
constexpr LayoutBase kNotRestored = kInstall;

constexpr std::array kLayout = {
    LayoutEntry{kReports, "Settings/reports.xml", kFixedName, kExecute, "reports.xml", kFile, kExecute, "reports.xml"},
    LayoutEntry{kSettingsFile, "Settings/Brimora.xml", kFixedName, kSettingsFilePath, "", kFile, kIniSettingsFolder,
                "Brimora.xml"},
    LayoutEntry{kTestSystems, "Settings/TestSystems.xml", kFixedName, kIniSettingsFolder, "TestSystems.xml", kFile,
                kIniSettingsFolder, "TestSystems.xml"},
    LayoutEntry{kTestSystemGroups, "Settings/TestSystemGroups.xml", kFixedName, kIniSettingsFolder,
                "TestSystemGroups.xml", kFile, kIniSettingsFolder, "TestSystemGroups.xml"},
    LayoutEntry{kParameterFiles, "Settings", kOwnName, kExecute, "BrimoraParams_*.xml", kFiles, kExecute, ""},
    LayoutEntry{kParameters, "Settings/BrimoraParams.xml", kFixedName, kExecute, "BrimoraParams.xml", kFile, kExecute,
                "BrimoraParams.xml"},
    LayoutEntry{kServiceSettings, "Settings/XYNTService.ini", kFixedName, kExecute, "XYNTService.ini", kFile, kExecute,
                "XYNTService.ini"},
    LayoutEntry{kSslCertificate, "Settings", kOwnName, kCertificatePath, "", kFile, kNotRestored, nullptr},
    LayoutEntry{kSslKey, "Settings", kOwnName, kKeyPath, "", kFile, kNotRestored, nullptr},
    LayoutEntry{kScheduledTasks, "Settings/ScheduledTasks.xml", kFixedName, kExecute, "ScheduledTasks.xml", kFile,
                kExecute, "ScheduledTasks.xml"},
    LayoutEntry{kUserDefined, "Settings/UserDefined.xml", kFixedName, kExecute, "UserDefined.xml", kFile, kExecute,
                "UserDefined.xml"},
    LayoutEntry{kBackupSettings, "Settings/backup.xml", kFixedName, kExecute, "backup.xml", kFile, kExecute,
                "backup.xml"},
    LayoutEntry{kGenericFileEditor, "Settings/GenericFileEditor.xml", kFixedName, kInstall, "GenericFileEditor.xml",
                kFile, kInstall, "GenericFileEditor.xml"},
    LayoutEntry{kMergeUploadConfig, "Settings/MergeUploadConfig.txt", kFixedName, kExecute, "MergeUploadConfig.txt",
                kFile, kExecute, "MergeUploadConfig.txt"},
    // The working copy records these two as new revisions.
    LayoutEntry{kUnits, "Settings/units.dat", kFixedName, kExecute, "units.dat", kFile, kWorkingCopyConfig,
                "units.dat"},
    LayoutEntry{kConfigDrv, "Settings/config.drv", kFixedName, kExecute, "config.drv", kFile, kExecute, "config.drv"},
    LayoutEntry{kReportJobs, "Settings/ReportJobs.xml", kFixedName, kExecute, "ReportJobs.xml", kFile, kExecute,
                "ReportJobs.xml"},
    LayoutEntry{kUsers, "Settings/Users", kFixedName, kInstall, "Users", kTree, kInstall, "Users"},
    LayoutEntry{kUtilizationFiles, "Settings", kOwnName, kExecute, "", kUtilizationPatterns, kExecute, ""},
    LayoutEntry{kWebReports, "Settings/Execute/WebReports", kFixedName, kExecute, "WebReports", kTree, kExecute,
                "WebReports"},

    LayoutEntry{kNames, "PMP/names.pmp", kFixedName, kExecute, "names.pmp", kFile, kWorkingCopyConfig, "names.pmp"},
    LayoutEntry{kImages, "PMP Images", kFixedName, kExecute, "www/images/ParameterManager", kTree, kNotRestored,
                nullptr},
    LayoutEntry{kParameterManagerImages, "PMP Images", kFixedName, kExecute, "ParameterManager/images", kTree,
                kExecute, "ParameterManager/images"},

    LayoutEntry{kCommandList, "Security/CmdList.cfg", kFixedName, kInstall, "CmdList.cfg", kFile, kNotRestored,
                nullptr},
    LayoutEntry{kUsersData, "Security/users.dat", kFixedName, kExecute, "users.dat", kFile, kExecute, "users.dat"},
    LayoutEntry{kUsersXml, "Security/users.xml", kFixedName, kExecute, "users.xml", kFile, kExecute, "users.xml"},
    LayoutEntry{kServerAccess, "Security/BrimoraServerAccess.txt", kFixedName, kInstallLogs, "BrimoraServerAccess.txt",
                kFile, kNotRestored, nullptr},
    LayoutEntry{kServerAccessPrevious, "Security/BrimoraServerAccess_Prev.txt", kFixedName, kInstallLogs,
                "BrimoraServerAccess_Prev.txt", kFile, kNotRestored, nullptr},

    LayoutEntry{kPartsDatabase, "PartsTracker/partsdb", kFixedName, kPartsDatabasePath, "", kTree, kPartsDatabasePath,
                ""},
    LayoutEntry{kPartDbConfig, "PartsTracker/PartDBConfig.xml", kFixedName, kExecute, "PartDBConfig.xml", kFile,
                kExecute, "PartDBConfig.xml"},
    LayoutEntry{kPartsDbExporterConfig, "PartsTracker/PartsDBExporterConfig.xml", kFixedName, kExecute,
                "PartsDBExporterConfig.xml", kFile, kExecute, "PartsDBExporterConfig.xml"},
    LayoutEntry{kPartsWebPages, "PartsTracker/www-partsdb", kFixedName, kExecute, "www/partsdb", kTree, kNotRestored,
                nullptr},
    // Both change-log sources are merged into one entry, which goes back beside the installation.
    LayoutEntry{kPartsChangeLogs, "PartsTracker/partsdb-changelogs", kFixedName, kExecute, "partsdb-changelogs", kTree,
                kSettingsBeside, "partsdb-changelogs"},
    LayoutEntry{kPartsSettingsChangeLogs, "PartsTracker/partsdb-changelogs", kFixedName, kSettingsBeside,
                "partsdb-changelogs", kTree, kNotRestored, nullptr},

    LayoutEntry{kFileStorage, "Repository", kFixedName, kInstall, "Repository", kTree, kInstall, "Repository"},
    LayoutEntry{kSubversionRepository, "", kOwnName, kRepositoryFolder, "", kTree, kNotRestored, nullptr},
    LayoutEntry{kLogFiles, "Logs", kFixedName, kInstallLogs, "", kTree, kNotRestored, nullptr},
};

// The table is in the order of the items, so an item is its own index.
constexpr bool InItemOrder() {
  for (std::size_t i = 0; i < kLayout.size(); ++i) {
    if (static_cast<std::size_t>(kLayout[i].item) != i) return false;
  }
  return true;
}
static_assert(InItemOrder(), "every item has its row, in the order of the items");
static_assert(kLayout.size() == static_cast<std::size_t>(kLogFiles) + 1, "every item has its row");

}  // namespace

std::span<const LayoutEntry> BackupLayout() { return kLayout; }

const LayoutEntry& Layout(LayoutItem item) { return kLayout[static_cast<std::size_t>(item)]; }

LayoutPaths::LayoutPaths(std::string installPath, std::string settingsFolder, std::string partsDatabasePath,
                         std::string certificatePath, std::string keyPath)
    : installPath_(std::move(installPath)),
      settingsFolder_(std::move(settingsFolder)),
      partsDatabasePath_(std::move(partsDatabasePath)),
      certificatePath_(std::move(certificatePath)),
      keyPath_(std::move(keyPath)) {}

std::string LayoutPaths::Base(LayoutBase base) const {
  switch (base) {
    case kInstall: return installPath_;
    case kExecute: return installPath_ + "/Execute";
    case kInstallLogs: return installPath_ + "/Logs";
    case kIniSettingsFolder:
      if (!iniSettingsFolder_) iniSettingsFolder_ = GetSettingsFolder(installPath_);
      return *iniSettingsFolder_;
    case kSettingsFilePath: return GetSettingsFilePath(installPath_, true);
    case kCertificatePath: return certificatePath_;
    case kKeyPath: return keyPath_;
    case kPartsDatabasePath: return partsDatabasePath_;
    case kSettingsBeside: return settingsFolder_;
    case kRepositoryFolder: return ReadRepositoryFolder(installPath_);
    case kWorkingCopy: return installPath_ + "/Repository/FileStorage";
    case kWorkingCopyConfig: return installPath_ + "/Repository/FileStorage/Config";
  }
  return {};
}

std::string LayoutPaths::Source(const LayoutEntry& entry) const {
  const std::string base = Base(entry.base);
  return *entry.source == '\0' ? base : base + "/" + entry.source;
}

std::string LayoutPaths::Entry(const std::string& backupFolder, const LayoutEntry& entry) const {
  const std::string folder = *entry.entry == '\0' ? backupFolder : backupFolder + "/" + entry.entry;
  if (!entry.underOwnName || entry.kind == kFiles || entry.kind == kUtilizationPatterns) return folder;
  const std::string source = Source(entry);
  if (entry.kind == kFile) return folder + "/" + NameAfterLastSeparator(source);
  // A folder keeps its real name, also when its path ends in "." or "..".
  std::string name = LastComponent(source);
  if (std::string real; (name == "." || name == "..") && platform::RealPath(source, &real) == 0) {
    name = LastComponent(real);
  }
  return folder + "/" + name;
}

std::string LayoutPaths::Target(LayoutItem item) const {
  const LayoutEntry& entry = Layout(item);
  if (entry.restored == nullptr) return {};
  const std::string base = Base(entry.restoreBase);
  return *entry.restored == '\0' ? base : base + "/" + entry.restored;
}

std::string LayoutPaths::InBackup(const std::string& backupFolder, LayoutItem item) {
  return backupFolder + "/" + Layout(item).entry;
}

}  // namespace brimora
