#pragma once
// CBackup: the one object of a backup or restore run. It carries what the runs need to know
// about the installation (paths, search core names, secure-transport settings) and owns the
// backup log. The backup steps and restore areas are its member operations.
//
// Built by LoadConfiguration (backup/configuration.h); owned by the caller, who destroys it after
// the run. The runs use it from the main thread only; the log may be written from any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup_layout.h"
#include "backup/backup_log.h"
#include "backup/backup_record.h"
#include "backup/restore_gate.h"
#include "backup/restore_working_copy.h"
#include "platform/files.h"
#include "search/solr_instance.h"

namespace brimora {

struct BackupRecord;
class CBackupReference;

class CBackup {
 public:
  // Where the backup log lies in the installation.
  static constexpr const char* kBackupLogName = "Logs/BackupLog.log";

  // Copies the values into the fields, leaves currentBackupFolder empty and opens the backup log.
  // When the log cannot be opened, an error goes to the trace log and the object still works:
  // its log lines then go to the trace log.
  CBackup(std::string backupPath, std::string installPath, std::string mainCore,
          std::string utilizationCore, std::string inboxCore, std::string partsTrackerCore,
          std::string settingsFolder, std::string partsTrackerDatabasePath,
          std::string sslCertificatePath, std::string sslKeyPath, bool sslEnabled);
  virtual ~CBackup();
  CBackup(const CBackup&) = delete;
  CBackup& operator=(const CBackup&) = delete;

  // The Subversion repository's folder and the search server's folder, as the settings file
  // names them (ReadRepositoryFolder and ReadSolrFolder, backup/configuration.h).
  std::string GetRepositoryFolder() const;
  std::string GetSolrFolder() const;
  // The layout's paths for this installation (backup/backup_layout.h), from the fields below;
  // with `root`, for the installation there.
  LayoutPaths Paths() const { return Paths(installPath); }
  LayoutPaths Paths(const std::string& root) const;

  // The backup run: ensures the backup folder, then runs every area step in its fixed order,
  // each whatever the earlier ones answered. True only when every step succeeded.
  bool BackupForUpdate(bool includeDatabase);

  // The area steps of the backup; each is given the backup folder B and logs its own start,
  // error and completion lines.
  bool BackupConfigurationFiles(const std::string& backupFolder);
  // With the search server's folder present: grants the folder's owner (unless root) access to
  // "<B>/Database", stops the server, and once its port refuses connections copies its five
  // cores there and starts the server again, whatever the copies answered. A server that still
  // answers after the stop is neither copied nor started. Without the folder: a skip line and
  // false, as the database was asked for. False when a core was not saved or the server did
  // not stop or start again.
  bool BackupSearchDatabase(const std::string& backupFolder);
  // Gives the account that owns the search server's folder, unless root, full access to the
  // Database folder (access and default list); a grant that fails is a level-0 line only.
  void GrantServerAccount(const std::string& solrFolder, const std::string& databaseFolder,
                          const std::string& backupFolder);
  // Saves one core of `server` into databaseFolder; false at once without a server.
  bool BackupCore(const std::string& databaseFolder, const std::string& coreName, CSolrInstance* server);
  bool BackupParameterManagerFiles(const std::string& backupFolder);
  bool BackupParameterManagerImages(const std::string& backupFolder);
  bool BackupSecurityFiles(const std::string& backupFolder);
  bool BackupPartsTracker(const std::string& backupFolder);
  bool BackupFileStorage(const std::string& backupFolder);
  bool BackupLogFiles(const std::string& backupFolder);

  // The copy helpers of the backup and the restore (CopyBackupFile, BackupTreeItem, CopyTree,
  // RestoreFile, RestoreTree) share one convention for `error`: it may be null; when it is not,
  // a failure writes its system error code there, and success leaves it untouched.

  // Copies one file; a missing source (PathIsMissing) is logged as skipped and answers true.
  // A named file of the
  // installation that is a link is saved with its content (link kFollow). A copy out of the
  // restore's untrusted backup folder passes kRefuse: a link there fails the copy, a socket,
  // FIFO or device there fails it too (ENXIO), and the copy takes the installation's owners
  // and permissions (platform::Ownership::kDestination).
  bool CopyBackupFile(const std::string& source, const std::string& destination, bool failIfExists,
                      int* error = nullptr, platform::SourceLink link = platform::SourceLink::kFollow);
  // CopyBackupFile without replacing, writing the step's error line when the copy fails.
  bool BackupFile(const std::string& source, const std::string& destination,
                  const std::string& backupFolder);
  // Copies the folder `source` under its own name into `destination` without replacing
  // anything; a missing source is logged as skipped and answers true.
  bool CopyDataFiles(const std::string& source, const std::string& destination);

  // Copies one file item of the layout (following a link at a named source), with the step's
  // error line on failure.
  bool BackupFileItem(LayoutItem item, const std::string& backupFolder);
  // Copies every file that matches a pattern item, each under its own name, with the step's
  // error line for each failure; a source folder that cannot be listed is a failure with a line.
  bool BackupFilesItem(LayoutItem item, const std::string& backupFolder);
  // Copies one folder item of the layout when its source exists, never entering the folders
  // this run writes; on failure a line names where it stopped and the caller writes its own.
  bool BackupTreeItem(LayoutItem item, const std::string& backupFolder, int* error = nullptr);

  // The restore run: selects the installation's own Subversion client when it has one, then
  // runs every area in its fixed order, each whatever the earlier ones answered. True only when
  // every area succeeded. The database switch changes nothing.
  // Before it changes anything, the restore checks the backup's completion record and manifest
  // (see CRestoreGate): `force` restores a backup whose run did not finish, or areas that failed
  // in it; never files that do not match the manifest.
  bool RestoreFromBackup(bool includeDatabase, const std::string& userName, bool force = false);

  // The restore areas; each is given the install path and the backup folder and logs its own
  // start, error and completion lines to the trace log.
  bool RestoreFileStorage(const std::string& root, const std::string& backup, const std::string& userName);
  bool RestoreDataFiles(const std::string& source, const std::string& destination);
  bool RestoreSettings(const std::string& root, const std::string& backup, const std::string& userName);
  bool RestoreParameterManager(const std::string& root, const std::string& backup, const std::string& userName);
  bool RestoreParameterManagerImages(const std::string& root, const std::string& backup);
  bool RestoreSecurity(const std::string& root, const std::string& backup);
  bool RestorePartsTracker(const std::string& root, const std::string& backup);

  // Restores one file over `destination`, with the installation's owners and permissions
  // (platform::Ownership::kDestination). A source missing from the backup (PathIsMissing)
  // is logged as skipped and answers true; a folder, socket, FIFO or device there fails. The
  // backup folder is not trusted: a link at the source, or in place of a folder on its way
  // below the backup folder, fails the copy (ELOOP); so does a link in place of a folder on the
  // destination's way below the install path. The destination's folder is not created.
  bool RestoreFile(const std::string& source, const std::string& destination, int* error = nullptr);
  // Copies the folder `source` over `destination` (created as needed, existing files replaced)
  // under the same rules for links and owners, the link test also covering both folders
  // themselves; anything at `source` that is not a folder fails it (ENOTDIR). On
  // failure a line names where it stopped.
  bool RestoreTree(const std::string& source, const std::string& destination, int* error = nullptr);

  std::string backupPath;                // the backup folder the runs write to or read from
  // An earlier complete backup of this installation on this host whose unchanged files the run
  // takes instead of copying them ("" for none); the caller chooses and locks it (backup/backup_root.h).
  std::string referenceFolder;
  std::string installPath;               // root folder of the server installation
  std::string mainCore;                  // search core of the main data
  std::string utilizationCore;           // search core of the utilization data
  std::string inboxCore;                 // search core of the inbox
  std::string partsTrackerCore;          // search core of the Parts Tracker
  std::string settingsFolder;            // "<install>/../LornithData/Settings"
  std::string partsTrackerDatabasePath;  // folder of the Parts Tracker database
  std::string sslCertificatePath;        // certificate file of the server (may be empty)
  std::string sslKeyPath;                // key file of the server (may be empty)
  bool sslEnabled;                       // whether the server uses secure transport
  CBackupLog backupLog;
  // What the last restore run did, area by area in its order, each named after the backup area it
  // reads: true or false when it ran, skipped when it did not, and the files and bytes it copied.
  std::vector<AreaRecord> restoredAreas;
  std::string currentBackupFolder;       // set by each backup step before it logs anything
  // How the database step waits for the search server to stop and to answer again; tests put
  // a quick clock in place.
  SolrStartTiming searchServerTiming = SolrStartTiming::System();

 private:
  // Ends a backup run: the manifest, everything on disk, then the record with the outcome `ok`.
  // Answers the run's answer.
  bool FinishRecord(const platform::Folder& backupFolder, BackupRecord* record, bool ok, std::uint64_t errorsBefore,
                    const CBackupReference& reference);
  // Reads referenceFolder's entries list for the run's copies; says why when it cannot.
  void OpenReference(CBackupReference* reference, BackupRecord* record);
  // Refuses a backup folder that is, under any spelling, the installation or a folder the
  // backup copies; answers false after the cancel line.
  bool BackupFolderIsAllowed(const std::string& backupFolder);
  // CopyFolder that never enters the folders this run writes, and that names the file or folder
  // it failed on in a detail line before the caller writes its own error line.
  bool CopyTree(const std::string& source, const std::string& destination, int* error = nullptr);
  // The folders this run writes into: never copied into themselves.
  std::vector<platform::FileId> runFolders_;
  // What the restore may take from the backup folder.
  CRestoreGate gate_;
  // Whether the Subversion client may work on the working copy, and on which of its paths.
  CRestoreWorkingCopy workingCopy_;
  // Restores the backup's file `source` to where the layout puts `item` below `root`, in the
  // working copy's Config folder (made when missing), then checks in the folder and the file,
  // each only when it showed no change the restore did not make. A file the backup does not
  // hold is skipped with its check-ins. Each failure writes its line (`restoreFailed` for the
  // copy); true when none failed.
  bool RestoreConfigFile(const std::string& root, const std::string& source, LayoutItem item,
                         const char* restoreFailed, const std::string& comment, const std::string& userName);
  // The items of the Settings area: one file, or one folder when the backup holds it (from
  // `source` to `destination`); every parameter file the backup's Settings folder lists; the
  // utilization files. `settingsError` is what LinkOnTheWay found on the way to the backup's
  // Settings folder: the parameter files write its line, the utilization files fail without
  // another. Each failure writes its line; true when none failed.
  bool RestoreSettingsFile(const std::string& source, const std::string& destination);
  bool RestoreSettingsFolder(const std::string& source, const std::string& destination);
  bool RestoreParameterFiles(const LayoutPaths& paths, const std::string& settings, int settingsError);
  bool RestoreUtilizationFiles(const LayoutPaths& paths, const std::string& settings, int settingsError);
  // Puts a copy of the backed-up "Repository" folder in place of the installation's in one step,
  // through a staging folder beside it; false after its line when it did not.
  bool ReplaceRepository(const std::string& source, const std::string& root);
};

// The names of the utilization data files of sourceFolder (ending with "/"): those matching
// utilization_h*.txt, utilized_h*.pkl, unutilized_h*.pkl, UtilDevChans*.txt and
// UtilDevStates*.txt, pattern by pattern. A folder that exists but cannot be listed sets
// *listError (0 before the call) to the system error code.
std::vector<std::string> ListUtilizationFiles(const std::string& sourceFolder, int* listError);

// Copies one utilization file over `destination`. A missing source is a level-1 skip line
// opened by `label` and answers 0; otherwise the answer is the copy's system error code.
// `link` says whether a file that is a link is read through; kRefuse copies out of the
// untrusted backup folder as CopyBackupFile does.
int CopyUtilizationFile(const std::string& source, const std::string& destination, const std::string& label,
                        platform::SourceLink link);

// The backup's copy of every utilization file of sourceFolder into destinationFolder, both ending
// with "/", replacing files of the same name; each failed copy, and a source folder that cannot
// be listed (one line), is an error line in `log` (never null), opened by label ("Backup" when
// empty) like the skip lines. True when nothing failed.
bool CopyUtilizationFiles(const std::string& sourceFolder, const std::string& destinationFolder,
                          const std::string& label, CBackupLog* log, platform::SourceLink link);

}  // namespace brimora
