#pragma once
// The texts of the completion record, the manifest, the verify mode and the checks a restore
// makes before it changes anything, in one place so that tests compare them exactly.

namespace brimora::messages {

// Backup (backup log; "%s" after "Backup " is the backup folder).
inline constexpr const char kBackupFolderHoldsARun[] =
    "BackupForUpdate - ERROR: the backup folder \"%s\" already holds a backup run (%s); one folder holds one "
    "run. Backup Canceled.\n";
inline constexpr const char kRecordNotWritten[] =
    "Backup %s - ERROR: could not write the completion record \"%s\". Error Code %d.\n";
inline constexpr const char kManifestNotWritten[] = "Backup %s - ERROR: could not write the manifest at \"%s\": %s.\n";
inline constexpr const char kReferenceNotUsed[] =
    "Backup %s - ERROR: the earlier backup \"%s\" is not used as the reference: %s. Every file is copied.\n";
inline constexpr const char kBackupNotFlushed[] = "Backup %s - ERROR: could not flush the backup to disk. Error Code %d.\n";

// Verify (trace log).
inline constexpr const char kVerifyNoFolder[] = "Verify - ERROR: cannot open the backup folder \"%s\": %s.\n";
inline constexpr const char kVerifyNoRecord[] =
    "Verify - ERROR: \"%s\" has no completion record: its run did not write one.\n";
inline constexpr const char kVerifyRecordUnreadable[] = "Verify - ERROR: the completion record of \"%s\" %s.\n";
inline constexpr const char kVerifyUnfinished[] =
    "Verify - ERROR: the backup run of \"%s\" did not finish%s.\n";
inline constexpr const char kVerifyNotComplete[] =
    "Verify - ERROR: the backup run of \"%s\" finished, but it did not save everything.\n";
inline constexpr const char kVerifyAreaFailed[] = "Verify - ERROR: the backup's %s area failed when it was made.\n";
inline constexpr const char kVerifyProblem[] = "Verify - ERROR: \"%s\" %s.\n";
inline constexpr const char kVerifyExtra[] = "Verify - INFO: \"%s\" %s (beside the backup's areas).\n";
inline constexpr const char kVerifyChecksumsDiffer[] =
    "Verify - ERROR: SHA256SUMS does not match the entries list (line %zu).\n";
inline constexpr const char kVerifyRepositoryPassed[] = "Verify - svnadmin verify \"%s\": passed in %.1f s.\n";
inline constexpr const char kVerifyRepositoryFailed[] = "Verify - ERROR: svnadmin verify \"%s\": failed after %.1f s: %s\n";
inline constexpr const char kVerifyIntact[] = "Verify - \"%s\" is complete and intact: %llu entries checked.\n";
inline constexpr const char kVerifyNotIntact[] =
    "Verify - ERROR: \"%s\" is not a complete and intact backup: %llu problems, %llu entries checked.\n";

// Restore (trace log).
inline constexpr const char kRestoreUnchecked[] =
    "Restore - ERROR: \"%s\" has no completion record and no manifest, so it cannot be checked; it is restored "
    "as it is.\n";
inline constexpr const char kRestoreRefused[] =
    "Restore - ERROR: \"%s\" %s; nothing is restored. Run again with --force to restore it area by area.\n";
inline constexpr const char kRestoreAreaRefused[] =
    "Restore - ERROR: the backup's %s area failed when it was made; it is not restored. Run again with --force "
    "to restore it anyway.\n";
inline constexpr const char kRestoreAreaDamaged[] = "Restore - ERROR: \"%s\" in the backup %s; the area is not restored.\n";
inline constexpr const char kRestoreNoRoom[] =
    "Restore - ERROR: the backed-up \"%s\" needs %llu bytes, but only %llu bytes are free on the file system of "
    "\"%s\"; it is not restored.\n";
inline constexpr const char kRestoreRepositoryMounted[] =
    "Restore - ERROR: \"%s\" is a file system of its own, so a restored copy cannot take its place in one step; "
    "it is not restored.\n";
inline constexpr const char kRestoreStagingFailed[] =
    "Restore - ERROR: could not put \"%s\" in place of \"%s\": %s; the installation's folder is unchanged.\n";
inline constexpr const char kRestoreOldNotRemoved[] = "Restore - ERROR: could not remove the replaced folder: %s.\n";

}  // namespace brimora::messages
