#pragma once
// The tool's switches: which run mode, which folders. Parsing never fails; whether the
// arguments are enough for a run is decided by Accepted().

#include <string>
#include <vector>

namespace brimora {

class CBrimoraCommandLineInfo {
 public:
  // Which string the next plain argument fills.
  enum PendingValueKind {
    kNone = 0, kBackupPath = 1, kInstallPath = 2, kSettingsFilePath = 3, kBackupRoot = 4, kLinkDest = 5, kKeep = 6
  };

  bool restore = false;
  bool includedb = false;
  bool help = false;
  bool getsettingsfilepath = false;
  bool check = false;
  // Switches of this tool's own, taken only after "-" or "--": "/verify" stays a path.
  bool verify = false;
  bool force = false;
  bool json = false;      // one JSON summary of the run on standard output
  bool quiet = false;     // no progress line
  bool progress = false;  // the progress line also when standard error is no terminal
  bool full = false;       // copy every file, take none from an earlier backup
  bool keepGiven = false;  // "--keep" was given, with or without a value
  std::string backupRoot;  // the folder that holds one dated backup folder per run
  std::string linkDest;    // the earlier backup whose unchanged files a run takes
  std::string keep;        // how many complete backups retention keeps, as given
  std::string settingsFilePath;
  std::string installPath;
  std::string backupPath;
  int pendingValueKind = kNone;

  // Parses every argument in order (argv without the program name). A leading "-" or "--"
  // marks a switch; a leading "/" marks one only when the rest is one of the tool's own switch
  // names, so an absolute path is always a value.
  void ParseArguments(const std::vector<std::string>& arguments);

  // One argument, the switch prefix already removed when isSwitch is set.
  void ParseParam(const std::string& param, bool isSwitch, bool isLast);

  // How many complete backups to keep: the value of "--keep" when it is a whole number from 1
  // on, else 0.
  int KeepCount() const;

  // The settings-file query needs the install path and the answer file; backup and restore
  // need the install path and the backup path; verify needs the backup path and is a mode of
  // its own (not with the restore or the query). A backup may take a backup root instead of
  // the backup path (never both), and only there retention ("--keep"). The restore and verify
  // read one backup: none of the backup's own switches (root, reference, full, keep) goes with
  // them. "--full" and "--linkdest" contradict each other.
  bool Accepted() const;
};

}  // namespace brimora
