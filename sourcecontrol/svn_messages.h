#pragma once
// The log texts of the Subversion client runner, the check-in and its properties, in one place so
// that tests compare them exactly. They go to the trace log.

namespace brimora::messages {

// Running a client command.
inline constexpr const char kSvnCommandRunning[] = "ExecuteCommand() - Running command strCommand: \"%s\"\n";
inline constexpr const char kSvnCommandNotRun[] =
    "ERROR: ExecuteCommand - not run, the run was stopped by %s: \"%s\"\n";
// The client's own reason when a command failed (level 1): its last error line.
inline constexpr const char kClientAnswered[] = "ExecuteCommand - The client answered: %s\n";

// Check-in.
inline constexpr const char kAddPathTooLong[] =
    "ERROR: AddFile - Unable to add the directory/file to source control because the full encoded path used by "
    "svn (%d) exceeds the maximum path: \"%s\"\n";
inline constexpr const char kCheckinAddFailed[] =
    "ERROR: CheckinFile - Error adding the directory/file to source control: \"%s\"\n";
inline constexpr const char kCheckinNewCommitFailed[] =
    "ERROR: CheckinFile - Unable to commit the directory/file to source control: \"%s\"\n";
inline constexpr const char kCheckinCommitFailed[] =
    "ERROR: CheckinFile - Unable to commit the file to source control: \"%s\"\n";
inline constexpr const char kCheckinUpdateFailed[] =
    "ERROR: CheckinFile - Unable to update the file from source control: \"%s\"\n";

// Properties.
inline constexpr const char kModuleFolderNotCreated[] =
    "ERROR: ReadModuleProperties - Unable to create the temporary folder \"%s\".\n";
inline constexpr const char kDocflowPropertiesIncomplete[] =
    "INFO: SetDocflowProperties - The properties of \"%s\" were not all written: %s\n";

}  // namespace brimora::messages
