#pragma once
// The backup run's log texts, in one place so that tests compare them exactly. Every "%s" that
// follows "Backup " is the backup folder of the run.

namespace brimora::messages {

// The run.
inline constexpr const char kBackupFolderNotCreated[] =
    "BackupForUpdate - ERROR: could not create backup folder \"%s\". Backup Canceled.\n";
inline constexpr const char kBackupFolderIsASource[] =
    "BackupForUpdate - ERROR: the backup folder \"%s\" is \"%s\", which the backup copies. Backup Canceled.\n";

// Shared single-file and folder copies.
inline constexpr const char kSourceFileMissing[] = "Backup %s - Source file \"%s\" does not exist. Skipping...\n";
inline constexpr const char kFileNotBackedUp[] =
    "Backup %s - ERROR: could not backup the file \"%s\" to \"%s\". Error Code %d.\n";
inline constexpr const char kFolderNotBackedUp[] =
    "Backup %s - ERROR: could not backup the folder \"%s\" to \"%s\". Error Code %d.\n";
inline constexpr const char kFolderNotListed[] =
    "Backup %s - ERROR: could not list the folder \"%s\". Error Code %d.\n";
// Where a folder copy stopped: "<path>": <system message>, or "<path>" <what was found there>.
inline constexpr const char kCopyFailedAt[] = "Backup %s - ERROR: %s.\n";
inline constexpr const char kUtilizationFileMissing[] = "%s - Source file \"%s\" does not exist. Skipping...\n";
inline constexpr const char kUtilizationFileNotCopied[] =
    "%s %s - ERROR: could not copy the file \"%s\" to \"%s\". Error Code %d.\n";
inline constexpr const char kUtilizationFolderNotListed[] =
    "%s %s - ERROR: could not list the folder \"%s\". Error Code %d.\n";

// Configuration files.
inline constexpr const char kConfigurationStart[] = "Backup %s - Backing up Configuration Files.\n";
inline constexpr const char kConfigurationFolderNotCreated[] =
    "Backup %s - ERROR: could not create Configuration backup folder \"%s\".\n";
inline constexpr const char kConfigurationComplete[] = "Backup %s - Configuration Backup complete.\n";

// Security files.
inline constexpr const char kSecurityStart[] = "Backup %s - Backing up the Security.\n";
inline constexpr const char kSecurityFolderNotCreated[] =
    "Backup %s - ERROR: could not create Security backup folder \"%s\".\n";
inline constexpr const char kSecurityComplete[] = "Backup %s - Security Backup complete.\n";

// Parameter Manager.
inline constexpr const char kParameterManagerStart[] = "Backup %s - Backing up Parameter Manager Files.\n";
inline constexpr const char kParameterManagerFolderNotCreated[] =
    "Backup %s - ERROR: could not create Parameter Manager backup folder \"%s\".\n";
inline constexpr const char kParameterManagerComplete[] = "Backup %s - Parameter Manager Backup complete.\n";
inline constexpr const char kImagesStart[] = "Backup %s - Backing up Parameter Manager Image Files.\n";
inline constexpr const char kImagesFolderNotCreated[] =
    "Backup %s - ERROR: could not create Parameter Manager Images backup folder \"%s\".\n";
inline constexpr const char kImagesFailed[] = "Backup %s - ERROR: Backup Parameter Manager Images Failed.\n";
inline constexpr const char kImagesComplete[] = "Backup %s - Parameter Manager Image Backup complete.\n";

// Parts Tracker.
inline constexpr const char kPartsTrackerStart[] = "Backup %s - Backing up the Parts Tracker Files.\n";
inline constexpr const char kPartsTrackerFolderNotCreated[] =
    "Backup %s - ERROR: Backup Parts Database Failed.Could not create folder \"%s\"\n";
inline constexpr const char kPartsDatabaseFailed[] = "Backup %s - ERROR: Backup Parts Database Failed.\n";
// The Parts Tracker's PartDBConfig.xml and PartsDBExporterConfig.xml, each with its own text.
inline constexpr const char kPartDbConfigFailed[] = "Backup %s - ERROR: Backup Parts Tracker file %s Failed.\n";
inline constexpr const char kPartsDbExporterConfigFailed[] = "Backup %s - ERROR: Backup Part tracker file %s Failed.\n";
inline constexpr const char kPartsWebPagesNotMoved[] =
    "Backup %s - ERROR: Moving Parts Database Change Files from: \"%s\" to \"%s\" Failed.\n";
inline constexpr const char kPartsChangeLogsNotMoved[] =
    "Backup %s - ERROR: Moving Parts Database Change Files from : \"%s\" to \"%s\" Failed.\n";
inline constexpr const char kPartsChangeFilesFailed[] = "Backup %s - ERROR: Backup Parts Database Change Files Failed.\n";
inline constexpr const char kPartsTrackerComplete[] = "Backup %s - Brimora Parts Database Backup complete.\n";

// Log files.
inline constexpr const char kLogFilesStart[] = "Backup %s - Backing up the Log Files.\n";
inline constexpr const char kLogFolderNotCreated[] =
    "Backup %s - ERROR: Backup Log Files Failed.Could not create folder \"%s\"\n";
inline constexpr const char kLogFilesFailed[] = "Backup %s - ERROR: Backup Log Files Failed.\n";
inline constexpr const char kLogFilesComplete[] = "Backup %s - Brimora Log Files Backup complete.\n";

// FileStorage and Subversion repository.
inline constexpr const char kSourceFolderMissing[] = "Backup %s - Source folder \"%s\" does not exist. Skipping...\n";
inline constexpr const char kDataFolderNotCreated[] =
    "Backup %s - ERROR: could not create backup folder \"%s\". Backup canceled\n";
inline constexpr const char kDataFilesNotCopied[] =
    "Backup %s - ERROR: could not copy Data Files from \"%s\" to \"%s\". %s. Backup canceled\n";
inline constexpr const char kFileStorageStart[] = "Backup %s - Backing up the FileStorage.\n";
inline constexpr const char kFileStorageFailed[] = "Backup %s - ERROR: Backup FileStorage Failed.\n";
inline constexpr const char kFileStorageComplete[] = "Backup %s - Brimora Solutions FileStorage complete.\n";
inline constexpr const char kSubversionStart[] = "Backup %s - Backing up the Subversion.\n";
inline constexpr const char kSubversionOnShare[] =
    "Backup %s - INFO: Subversion backup skipped because it is on a network share.\n";
inline constexpr const char kSubversionFailed[] = "Backup %s - ERROR: Backup Subversion Failed.\n";
inline constexpr const char kSubversionComplete[] = "Backup %s - Brimora Solutions Subversion complete.\n";

// Search database.
inline constexpr const char kDatabaseStart[] = "Backup %s - Backing up the Brimora Database.\n";
inline constexpr const char kDatabaseFolderNotCreated[] =
    "Backup %s - ERROR: could not create Database backup folder \"%s\".\n";
inline constexpr const char kDatabaseAccessNotGranted[] =
    "Backup %s - ERROR: could not add access rights for user: %s to the Database backup folder \"%s\".\n";
inline constexpr const char kSearchServerNotStopped[] =
    "Backup %s - ERROR: the search server in \"%s\" still takes connections on port %d after its stop "
    "command; no core was copied.\n";
inline constexpr const char kSearchServerNotRestarted[] =
    "Backup %s - ERROR: the search server in \"%s\" did not start again on port %d; see the trace log.\n";
inline constexpr const char kDatabaseComplete[] = "Backup %s - Brimora Database Backup complete.\n";
inline constexpr const char kDatabaseFailed[] = "Backup %s - Brimora Database Backup failed.\n";

}  // namespace brimora::messages
