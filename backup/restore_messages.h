#pragma once
// The restore run's log texts, in one place so that tests compare them exactly. They go to the
// trace log; the skip notices of single files keep the "Backup" prefix.

namespace brimora::messages {

// Shared.
inline constexpr const char kRestoreSourceMissing[] = "%s - Source file \"%s\" does not exist. Skipping...\n";
inline constexpr const char kRestoreFileToFailed[] =
    "Restore - ERROR: could not restore the file to \"%s\" from \"%s\". Error Code %d.\n";
inline constexpr const char kRestoreFolderToFailed[] =
    "Restore - ERROR: could not restore the folder to \"%s\" from \"%s\". Error Code %d.\n";
inline constexpr const char kRestoreFileFailed[] =
    "Restore - ERROR: could not restore the file \"%s\" from \"%s\". Error Code %d.\n";
inline constexpr const char kRestoreFolderNotListed[] =
    "Restore - ERROR: could not list the folder \"%s\". Error Code %d.\n";
inline constexpr const char kCheckinFolderFailed[] = "Restore - ERROR: checking in the folder \"%s\"\n";
inline constexpr const char kCheckinFileFailed[] = "Restore - ERROR: checking in the file \"%s\" restored from \"%s\"\n";
// A working copy path the Subversion client is not given.
inline constexpr const char kRestoreClientRefused[] =
    "Restore - ERROR: \"%s\": %s; the Subversion client is not run on it.\n";
// The working copy and the paths in it that the client is not given.
inline constexpr const char kRestoreForeignRepository[] =
    "Restore - ERROR: the working copy \"%s\" belongs to the repository \"%s\" (UUID %s), not to the "
    "installation's repository \"%s\" (UUID %s); the Subversion client is not run on it.\n";
inline constexpr const char kRestoreRepositoryNotRead[] =
    "Restore - ERROR: could not read the repository root and UUID of \"%s\"; the Subversion client is not run "
    "on the working copy \"%s\".\n";
inline constexpr const char kRestoreForeignChange[] =
    "Restore - ERROR: \"%s\" has a change the restore did not make (svn status: \"%s\"); it is not written "
    "or committed.\n";
inline constexpr const char kRestoreStatusFailed[] =
    "Restore - ERROR: could not read the status (svn status) of \"%s\"; it is not written or committed.\n";
// A file of the working copy's Config folder that the backup does not hold.
inline constexpr const char kRestoreCheckinSkipped[] =
    "Restore - Source file \"%s\" does not exist. Skipping it and its check-in...\n";
inline constexpr const char kConfigFolderComment[] = "Created Config folder for Parameter Manager file";
// Where a folder copy stopped: "<path>": <system message>, or "<path>" <what was found there>.
inline constexpr const char kRestoreCopyFailedAt[] = "Restore - ERROR: %s.\n";

// Parameter Manager images.
inline constexpr const char kRestoreImagesStart[] = "Restore - Restore Parameter Manager Image Files.\n";
inline constexpr const char kRestoreImagesFailed[] = "Restore - ERROR: Restore Parameter Manager Images Failed.\n";
inline constexpr const char kRestoreImagesComplete[] = "Restore - Parameter Manager Image Backup complete.\n";

// Settings files.
inline constexpr const char kRestoreSettingsStart[] = "Restore - Restoring Setting Files.\n";
inline constexpr const char kRestoreSettingsComplete[] = "Restore - Settings Restore complete.\n";
inline constexpr const char kUnitsComment[] = "Restored units.dat file from backup location: \"%s\"";

// Parameter Manager names file.
inline constexpr const char kRestoreParameterManagerStart[] = "Restore - Restoring Parameter Manager Files.\n";
inline constexpr const char kNamesComment[] = "Restored Parameter Manager file from backup location: \"%s\"";
inline constexpr const char kRestoreParameterManagerComplete[] = "Restore - Parameter Manager Restore complete.\n";

// Security files.
inline constexpr const char kRestoreSecurityStart[] = "Restore - Restoring the Security.\n";
inline constexpr const char kRestoreSecurityComplete[] = "Restore - Security Restore complete.\n";

// Parts Tracker.
inline constexpr const char kRestorePartsTrackerStart[] = "Restore - Restoring the Parts Tracker Files.\n";
inline constexpr const char kRestorePartsDatabaseFailed[] = "Restore - ERROR: Restoring Parts Database Failed.\n";
inline constexpr const char kRestorePartsTrackerFileFailed[] = "Restore - ERROR: Restoring Parts Tracker file %s Failed.\n";
inline constexpr const char kRestorePartTrackerFileFailed[] = "Restore - ERROR: Restoring Part tracker file %s Failed.\n";
inline constexpr const char kRestorePartsChangeFilesFailed[] =
    "Restore - ERROR: Restoring Parts Database Change Files Failed.\n";
inline constexpr const char kRestorePartsTrackerComplete[] = "Restore - Brimora Parts Database Restore complete.\n";

// FileStorage.
inline constexpr const char kRestoreFileStorageStart[] = "Restore - Restoring the FileStorage.\n";
inline constexpr const char kRestoreFileStorageFailed[] = "Restore - ERROR: Restore FileStorage Failed.\n";
inline constexpr const char kRestoreUpgradeFailed[] =
    "Restore - ERROR: Restore FileStorage - error upgrading (svn upgrade) the working folder \"%s\"\n";
inline constexpr const char kRestoreCreateFolderFailed[] = "Restore - ERROR: Restore FileStorage - Create %s folder failed.\n";
inline constexpr const char kReportTemplatesComment[] = "Created %s folder during restore of backup";
inline constexpr const char kRestoreCheckinFolderFailed[] =
    "Restore - ERROR: Restore FileStorage - error checking in the folder \"%s\"\n";
inline constexpr const char kRestoreFileStorageComplete[] = "Restore - Brimora FileStorage complete.\n";
inline constexpr const char kRestoreBackupInsideFileStorage[] =
    "Restore - ERROR: \"%s\" lies inside \"%s\", which the restore would replace; the FileStorage is not "
    "restored from it.\n";
inline constexpr const char kRestoreSourceFolderMissing[] = "Restore - ERROR: Source folder \"%s\" does not exist.\n";
inline constexpr const char kRestoreFolderNotCreated[] = "Restore - ERROR: could not create restore folder \"%s\".\n";
inline constexpr const char kRestoreDataFilesNotCopied[] =
    "Restore - ERROR: could not copy Data Files from \"%s\" to \"%s\". %s.\n";

}  // namespace brimora::messages
