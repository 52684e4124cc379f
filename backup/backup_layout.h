#pragma once
// The layout of a backup folder: every entry a backup writes, where it comes from in the
// installation, what kind of thing it is and where the restore puts it back. The backup steps
// take their names from this table and the restore reads the backup folder through it, so the
// two can never disagree on a name. Paths are relative to the backup folder and use "/".
// LayoutPaths turns the table's relative paths into the paths of one installation.
//
// The table is constant; every function here may be called from any thread, and a LayoutPaths
// from one thread at a time.

#include <optional>
#include <span>
#include <string>

namespace brimora {

// The area folders directly in the backup folder.
namespace layout {
inline constexpr const char kSettings[] = "Settings";
inline constexpr const char kDatabase[] = "Database";
inline constexpr const char kParameterManager[] = "PMP";
inline constexpr const char kParameterManagerImages[] = "PMP Images";
inline constexpr const char kSecurity[] = "Security";
inline constexpr const char kPartsTracker[] = "PartsTracker";
inline constexpr const char kFileStorage[] = "Repository";
inline constexpr const char kLogs[] = "Logs";
}  // namespace layout

// The areas of a backup run, in their order, each with the folder it writes at the top of the
// backup folder (the FileStorage area writes the Subversion repository beside it too). The
// completion record names them; a restore area reads what one of them wrote.
struct BackupArea {
  const char* name;
  const char* folder;
};
inline constexpr BackupArea kBackupAreas[] = {
    {"Configuration", layout::kSettings},      {"Database", layout::kDatabase},
    {"ParameterManager", layout::kParameterManager}, {"ParameterManagerImages", layout::kParameterManagerImages},
    {"Security", layout::kSecurity},           {"PartsTracker", layout::kPartsTracker},
    {"FileStorage", layout::kFileStorage},     {"Logs", layout::kLogs},
};

// One entry of the layout.
enum class LayoutItem {
  // Settings
  kReports,
  kSettingsFile,
  kTestSystems,
  kTestSystemGroups,
  kParameterFiles,  // BrimoraParams_*.xml
  kParameters,      // BrimoraParams.xml
  kServiceSettings,
  kSslCertificate,
  kSslKey,
  kScheduledTasks,
  kUserDefined,
  kBackupSettings,
  kGenericFileEditor,
  kMergeUploadConfig,
  kUnits,
  kConfigDrv,
  kReportJobs,
  kUsers,
  kUtilizationFiles,
  kWebReports,
  // Parameter Manager
  kNames,
  kImages,             // from Execute/www/images/ParameterManager
  kParameterManagerImages,  // from Execute/ParameterManager/images, merged into the same entry
  // Security
  kCommandList,
  kUsersData,
  kUsersXml,
  kServerAccess,
  kServerAccessPrevious,
  // Parts Tracker
  kPartsDatabase,
  kPartDbConfig,
  kPartsDbExporterConfig,
  kPartsWebPages,
  kPartsChangeLogs,          // from Execute/partsdb-changelogs
  kPartsSettingsChangeLogs,  // from the settings folder beside the installation, merged
  // The rest
  kFileStorage,
  kSubversionRepository,
  kLogFiles,
};

// Where an item's source lies in the installation, or where the restore puts it.
enum class LayoutBase {
  kInstall,                // the install path
  kExecute,                // <install>/Execute
  kInstallLogs,            // <install>/Logs
  kIniSettingsFolder,      // the settings folder that config.ini names
  kSettingsFilePath,       // the server settings file, as found for the installation
  kCertificatePath,        // the configured certificate file
  kKeyPath,                // the configured key file
  kPartsDatabasePath,      // the configured Parts Tracker database folder
  kSettingsBeside,         // <install>/../LornithData/Settings
  kRepositoryFolder,       // the Subversion repository folder named by the settings file
  kWorkingCopy,            // <install>/Repository/FileStorage, the FileStorage working copy
  kWorkingCopyConfig,      // its Config folder
};

enum class LayoutKind {
  kFile,             // one file
  kFiles,            // every file matching the source name (a pattern), each under its own name
  kUtilizationPatterns,  // the utilization data files (see ListUtilizationFiles)
  kTree,             // a folder with everything in it
};

struct LayoutEntry {
  LayoutItem item;
  // The entry in the backup folder; with underOwnName, the folder ("" for the backup folder
  // itself) that receives the item under its source's own name (the SSL files, the files of a
  // pattern, the Subversion repository).
  const char* entry;
  bool underOwnName;
  LayoutBase base;
  const char* source;  // relative to the base (a name pattern for kFiles); empty: the base itself
  LayoutKind kind;
  // Where the restore puts the entry back, relative to restoreBase (empty: the base itself; for
  // the items under their own names, the folder that receives them). nullptr: the restore
  // leaves the entry alone.
  LayoutBase restoreBase;
  const char* restored;
};

// Every entry, in the order of the table.
std::span<const LayoutEntry> BackupLayout();

// The entry of one item.
const LayoutEntry& Layout(LayoutItem item);

// The layout's paths for one installation: where each item comes from, where a backup writes
// it and where the restore puts it back. The bases that the installation's own files name (the
// settings folder of config.ini, the settings file, the repository folder) are read when a path
// needs them, so they are what the files say at that moment; config.ini is read once per value.
class LayoutPaths {
 public:
  LayoutPaths(std::string installPath, std::string settingsFolder, std::string partsDatabasePath,
              std::string certificatePath, std::string keyPath);

  // The folder or file a base names.
  std::string Base(LayoutBase base) const;
  // Where an item's source lies in the installation.
  std::string Source(const LayoutEntry& entry) const;
  // Where the backup writes an item in `backupFolder`. For the items that keep their own name,
  // the full path of the copy (for the Subversion repository: the backup folder followed by its
  // folder's name); for the files of a pattern, the folder that receives them.
  std::string Entry(const std::string& backupFolder, const LayoutEntry& entry) const;
  // Where the restore puts an item back (for the files of a pattern, the folder that receives
  // them); empty for an item the restore leaves alone.
  std::string Target(LayoutItem item) const;
  // Where an item lies in the backup folder `backupFolder`, for the restore that reads it.
  static std::string InBackup(const std::string& backupFolder, LayoutItem item);

 private:
  std::string installPath_;
  std::string settingsFolder_;     // beside the installation
  std::string partsDatabasePath_;
  std::string certificatePath_;
  std::string keyPath_;
  mutable std::optional<std::string> iniSettingsFolder_;  // read from config.ini when first needed
};

}  // namespace brimora
