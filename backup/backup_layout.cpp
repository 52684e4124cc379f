#include "backup/backup_layout.h"

#include <array>
#include <cstddef>

namespace brimora {
namespace {

using enum LayoutItem;
using enum LayoutBase;
using enum LayoutKind;

constexpr bool kOptional = true;
constexpr bool kOwnName = true;
constexpr bool kFixedName = false;

constexpr std::array kLayout = {
    LayoutEntry{kReports, "Settings/reports.xml", kFixedName, kExecute, "reports.xml", kFile, kOptional},
    LayoutEntry{kSettingsFile, "Settings/Brimora.xml", kFixedName, kSettingsFilePath, "", kFile, kOptional},
    LayoutEntry{kTestSystems, "Settings/TestSystems.xml", kFixedName, kIniSettingsFolder, "TestSystems.xml", kFile,
                kOptional},
    LayoutEntry{kTestSystemGroups, "Settings/TestSystemGroups.xml", kFixedName, kIniSettingsFolder,
                "TestSystemGroups.xml", kFile, kOptional},
    LayoutEntry{kParameterFiles, "Settings", kOwnName, kExecute, "BrimoraParams_*.xml", kFiles, kOptional},
    LayoutEntry{kParameters, "Settings/BrimoraParams.xml", kFixedName, kExecute, "BrimoraParams.xml", kFile,
                kOptional},
    LayoutEntry{kServiceSettings, "Settings/XYNTService.ini", kFixedName, kExecute, "XYNTService.ini", kFile,
                kOptional},
    LayoutEntry{kSslCertificate, "Settings", kOwnName, kCertificatePath, "", kFile, kOptional},
    LayoutEntry{kSslKey, "Settings", kOwnName, kKeyPath, "", kFile, kOptional},
    LayoutEntry{kScheduledTasks, "Settings/ScheduledTasks.xml", kFixedName, kExecute, "ScheduledTasks.xml", kFile,
                kOptional},
    LayoutEntry{kUserDefined, "Settings/UserDefined.xml", kFixedName, kExecute, "UserDefined.xml", kFile, kOptional},
    LayoutEntry{kBackupSettings, "Settings/backup.xml", kFixedName, kExecute, "backup.xml", kFile, kOptional},
    LayoutEntry{kGenericFileEditor, "Settings/GenericFileEditor.xml", kFixedName, kInstall, "GenericFileEditor.xml",
                kFile, kOptional},
    LayoutEntry{kMergeUploadConfig, "Settings/MergeUploadConfig.txt", kFixedName, kExecute, "MergeUploadConfig.txt",
                kFile, kOptional},
    LayoutEntry{kUnits, "Settings/units.dat", kFixedName, kExecute, "units.dat", kFile, kOptional},
    LayoutEntry{kConfigDrv, "Settings/config.drv", kFixedName, kExecute, "config.drv", kFile, kOptional},
    LayoutEntry{kReportJobs, "Settings/ReportJobs.xml", kFixedName, kExecute, "ReportJobs.xml", kFile, kOptional},
    LayoutEntry{kUsers, "Settings/Users", kFixedName, kInstall, "Users", kTree, kOptional},
    LayoutEntry{kUtilizationFiles, "Settings", kOwnName, kExecute, "", kUtilizationPatterns,
                kOptional},
    LayoutEntry{kWebReports, "Settings/Execute/WebReports", kFixedName, kExecute, "WebReports", kTree, kOptional},

    LayoutEntry{kNames, "PMP/names.pmp", kFixedName, kExecute, "names.pmp", kFile, kOptional},
    LayoutEntry{kImages, "PMP Images", kFixedName, kExecute, "www/images/ParameterManager", kTree, kOptional},
    LayoutEntry{kParameterManagerImages, "PMP Images", kFixedName, kExecute, "ParameterManager/images", kTree,
                kOptional},

    LayoutEntry{kCommandList, "Security/CmdList.cfg", kFixedName, kInstall, "CmdList.cfg", kFile, kOptional},
    LayoutEntry{kUsersData, "Security/users.dat", kFixedName, kExecute, "users.dat", kFile, kOptional},
    LayoutEntry{kUsersXml, "Security/users.xml", kFixedName, kExecute, "users.xml", kFile, kOptional},
    LayoutEntry{kServerAccess, "Security/BrimoraServerAccess.txt", kFixedName, kInstallLogs, "BrimoraServerAccess.txt",
                kFile, kOptional},
    LayoutEntry{kServerAccessPrevious, "Security/BrimoraServerAccess_Prev.txt", kFixedName, kInstallLogs,
                "BrimoraServerAccess_Prev.txt", kFile, kOptional},

    LayoutEntry{kPartsDatabase, "PartsTracker/partsdb", kFixedName, kPartsDatabasePath, "", kTree,
                kOptional},
    LayoutEntry{kPartDbConfig, "PartsTracker/PartDBConfig.xml", kFixedName, kExecute, "PartDBConfig.xml", kFile,
                kOptional},
    LayoutEntry{kPartsDbExporterConfig, "PartsTracker/PartsDBExporterConfig.xml", kFixedName, kExecute,
                "PartsDBExporterConfig.xml", kFile, kOptional},
    LayoutEntry{kPartsWebPages, "PartsTracker/www-partsdb", kFixedName, kExecute, "www/partsdb", kTree, kOptional},
    LayoutEntry{kPartsChangeLogs, "PartsTracker/partsdb-changelogs", kFixedName, kExecute, "partsdb-changelogs", kTree,
                kOptional},
    LayoutEntry{kPartsSettingsChangeLogs, "PartsTracker/partsdb-changelogs", kFixedName, kSettingsBeside,
                "partsdb-changelogs", kTree, kOptional},

    LayoutEntry{kFileStorage, "Repository", kFixedName, kInstall, "Repository", kTree, !kOptional},
    LayoutEntry{kSubversionRepository, "", kOwnName, kRepositoryFolder, "", kTree,
                kOptional},
    LayoutEntry{kLogFiles, "Logs", kFixedName, kInstallLogs, "", kTree, kOptional},
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

}  // namespace brimora
