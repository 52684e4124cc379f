#pragma once
// The texts of scheduled backups into a backup root: the dated folder, the reference an
// incremental run takes unchanged files from, retention and the locks on backup folders (trace
// log), in one place so that tests compare them exactly.

namespace brimora::messages {

// The backup root and its dated folder.
inline constexpr const char kRootNotOpened[] = "Backup root - ERROR: cannot use the backup root \"%s\": %s.\n";
inline constexpr const char kRootIsALink[] =
    "Backup root - ERROR: the backup root \"%s\" is a symbolic link; give the folder it points to.\n";
inline constexpr const char kRootNotPrivate[] =
    "Backup root - ERROR: the backup root \"%s\" belongs to another account or others may write it; it must "
    "belong to the account running the backup and be writable by no other.\n";
inline constexpr const char kDatedFolderNotMade[] =
    "Backup root - ERROR: could not make a new backup folder in \"%s\": %s.\n";
inline constexpr const char kBackupFolderInUse[] =
    "Backup - ERROR: the backup folder \"%s\" is in use by another run (a backup writes it, or a restore or "
    "verify reads it).\n";

// The reference.
inline constexpr const char kReferenceChosen[] = "Backup - unchanged files are taken from the earlier backup \"%s\".\n";
inline constexpr const char kNoReference[] =
    "Backup - \"%s\" holds no earlier complete backup of this installation; every file is copied.\n";
inline constexpr const char kReferenceRefused[] =
    "Backup - ERROR: \"%s\" is not used as the earlier backup: %s; every file is copied.\n";
inline constexpr const char kReferenceUnreadable[] = "cannot read it (%s)";
inline constexpr const char kReferenceNoRecord[] = "its completion record cannot be read (%s)";
inline constexpr const char kReferenceIncomplete[] = "its completion record does not say finished and complete";
inline constexpr const char kReferenceOtherInstallation[] = "it is a backup of \"%s\" on host \"%s\"";
inline constexpr const char kReferenceIsTheBackup[] = "it is the folder this run writes";
inline constexpr const char kReferenceBusy[] = "another run is deleting it";

// Retention.
inline constexpr const char kRetentionNotABackup[] =
    "Retention - \"%s\" is not a backup folder with a readable completion record; it is left alone.\n";
inline constexpr const char kRetentionInUse[] = "Retention - \"%s\" is in use by another run; it is kept.\n";
inline constexpr const char kRetentionDeleted[] = "Retention - deleted the old backup \"%s\".\n";
inline constexpr const char kRetentionNotDeleted[] =
    "Retention - ERROR: could not delete the old backup \"%s\": %s. The backup this run made is not affected.\n";
inline constexpr const char kRetentionTooFew[] =
    "Retention - ERROR: \"%s\" holds %d complete backups of this installation, fewer than the %d to keep.\n";

// Restore and verify.
inline constexpr const char kBackupBeingChanged[] =
    "ERROR: the backup \"%s\" is being written or deleted by another run; it was not read.\n";

}  // namespace brimora::messages
