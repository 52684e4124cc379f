#include "e2e/installation.h"

#include <filesystem>
#include <sstream>

#include "common/run_process.h"

namespace brimora::test {
namespace {

namespace fs = std::filesystem;

// Runs a program with its arguments, each quoted, and fails the test unless it exits with 0.
void RunChecked(const std::vector<std::string>& arguments, const std::string& workingFolder = {}) {
  std::string command, output;
  for (const std::string& argument : arguments) command += (command.empty() ? "" : " ") + QuoteArgument(argument);
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(command, output, &exitCode, workingFolder, 120, true, true) && exitCode == 0)
      << command << "\n" << output;
}

ToolResult RunFrom(const std::string& folder, std::vector<std::string> arguments, const std::vector<std::string>& extra,
                   bool unprivileged = false) {
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return unprivileged ? RunToolUnprivileged(folder, arguments) : RunTool(folder, arguments);
}

// The messages of log lines "<time>\t<thread>\t<message>", without the header lines.
std::vector<std::string> MessagesOf(const std::string& text) {
  std::vector<std::string> messages;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find('\t');
    const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second != std::string::npos) messages.push_back(line.substr(second + 1) + "\n");
  }
  return messages;
}

}  // namespace

std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(folder)) {
    entries[item.path().lexically_relative(folder).string()] =
        item.is_symlink()        ? "-> " + fs::read_symlink(item).string()
        : item.is_directory()    ? "/"
        : item.is_regular_file() ? ReadFile(item.path())
                                 : "|";  // never opened: a FIFO would block
  }
  return entries;
}

void ExpectSaved(const CBackup& backup, const std::string& backupFolder, const LayoutEntry& entry) {
  const std::string source = backup.Paths().Source(entry), copy = backup.Paths().Entry(backupFolder, entry);
  SCOPED_TRACE(copy);
  if (entry.kind == LayoutKind::kFile) {
    ASSERT_TRUE(fs::is_regular_file(copy));
    EXPECT_EQ(ReadFile(copy), ReadFile(source));
  } else if (entry.kind == LayoutKind::kTree) {
    // Merged areas hold more than one source; every entry of this one must be there.
    const auto saved = Snapshot(copy);
    for (const auto& [name, contents] : Snapshot(source)) {
      const auto found = saved.find(name);
      const bool runLog = name.find("BackupLog") != name.npos || name.find("BrimoraUpgrade") != name.npos;
      EXPECT_TRUE(runLog || (found != saved.end() && found->second == contents)) << name;
    }
  } else {  // the files of a pattern, from the Execute folder
    for (const std::string name : {"BrimoraParams_A.xml", "BrimoraParams_B.xml", "utilization_h.txt",
                                   "utilization_h_2021.txt", "utilized_h.pkl", "UtilDevChans_X.txt"}) {
      if (name.starts_with("BrimoraParams") != (entry.kind == LayoutKind::kFiles)) continue;
      EXPECT_EQ(ReadFile(copy + "/" + name), ReadFile(backup.installPath + "/Execute/" + name)) << name;
    }
  }
}

void TestInstallation::MakeInstallation(const std::string& extraSettings, bool ssl) {
  for (const char* name : {"reports.xml", "BrimoraParams.xml", "BrimoraParams_A.xml", "BrimoraParams_B.xml",
                           "XYNTService.ini", "ScheduledTasks.xml", "UserDefined.xml", "backup.xml",
                           "MergeUploadConfig.txt", "units.dat", "config.drv", "ReportJobs.xml", "names.pmp",
                           "users.dat", "users.xml", "PartDBConfig.xml", "PartsDBExporterConfig.xml",
                           "utilization_h.txt", "utilization_h_2021.txt", "utilized_h.pkl", "UtilDevChans_X.txt",
                           "WebReports/r1.html", "WebReports/sub/r2.html", "www/partsdb/index.html",
                           "partsdb-changelogs/c1.log", "www/images/ParameterManager/a.png",
                           "ParameterManager/images/b.png", "ssl/server.crt", "ssl/server.key", "other.exe"}) {
    WriteFile(Execute() + "/" + name, std::string("contents of ") + name);
  }
  for (const char* name : {"CmdList.cfg", "GenericFileEditor.xml", "Users/u1/f.txt", "Users/u2/g h.txt",
                           "Logs/BrimoraServerAccess.txt", "Logs/BrimoraServerAccess_Prev.txt", "Logs/old.log",
                           "partsdb/db.dat", "Repository/FileStorage/doc.txt", "Repository/FileStorage/.svn/wc.db",
                           "SubversionRepository/format", "SubversionRepository/db/current"}) {
    WriteFile(Install() + "/" + name, std::string("contents of ") + name);
  }
  WriteFile(Install() + "/config.ini", "BrimoraSettingsFolder=../LornithData/Settings\n");
  std::string xml = "<Settings>\n  <PartTrackerDatabasePath> " + Install() + "/partsdb </PartTrackerDatabasePath>\n";
  if (ssl) {
    xml += "  <SSLCertificatePath>" + Execute() + "/ssl/server.crt</SSLCertificatePath>\n"
           "  <SSLKeyPath>" + Execute() + "/ssl/server.key</SSLKeyPath>\n  <EnableSSL>true</EnableSSL>\n";
  }
  if (extraSettings.find("RevisionControlURL") == std::string::npos) {
    xml += "  <RevisionControlURL>file://" + Install() + "/SubversionRepository</RevisionControlURL>\n";
  }
  WriteFile(Settings() + "/Brimora.xml", xml + extraSettings + "</Settings>\n");
  WriteFile(Settings() + "/TestSystems.xml", "<TestSystems/>");
  WriteFile(Settings() + "/TestSystemGroups.xml", "<TestSystemGroups/>");
  WriteFile(Settings() + "/partsdb-changelogs/s1.log", "settings change log");
}

void TestInstallation::MakeWorkingCopy() {
  const std::string repository = Install() + "/SubversionRepository";
  const std::string workingCopy = Install() + "/Repository/FileStorage";
  fs::remove_all(repository);
  fs::remove_all(workingCopy);
  ASSERT_NO_FATAL_FAILURE(RunChecked({"svnadmin", "create", repository}));
  ASSERT_NO_FATAL_FAILURE(RunChecked({"svn", "checkout", "--quiet", "file://" + repository, workingCopy}));
  WriteFile(workingCopy + "/doc.txt", "contents of Repository/FileStorage/doc.txt");
  WriteFile(workingCopy + "/Config/units.dat", "contents of units.dat");
  WriteFile(workingCopy + "/Config/names.pmp", "contents of names.pmp");
  ASSERT_NO_FATAL_FAILURE(RunChecked({"svn", "add", "--quiet", workingCopy + "/doc.txt", workingCopy + "/Config"}));
  ASSERT_NO_FATAL_FAILURE(RunChecked({"svn", "commit", "--quiet", "--message", "Installed", workingCopy}));
  ASSERT_NO_FATAL_FAILURE(RunChecked({"svn", "update", "--quiet", workingCopy}));
}

void TestInstallation::MakeSampleInstallation(const std::string& site, const std::vector<std::string>& options) {
  site_ = site;
  const std::string generator = std::string(BRIMORA_SOURCE_DIR) + "/scripts/make_sample_installation.py";
  std::vector<std::string> command = {"python3", generator, Site(), "--documents", "10", "--total-bytes", "60000",
                                      "--no-hostile-names"};
  command.insert(command.end(), options.begin(), options.end());
  ASSERT_NO_FATAL_FAILURE(RunChecked(command, root_.Path()));
}

ToolResult TestInstallation::RunBackup(const std::vector<std::string>& extra, bool unprivileged) {
  return RunFrom(Execute(), {"--installpath", Install(), "--backuppath", Backup()}, extra, unprivileged);
}

ToolResult TestInstallation::RunBackupInto(const std::string& backup, const std::vector<std::string>& extra) {
  return RunFrom(Execute(), {"--installpath", Install(), "--backuppath", backup}, extra);
}

ToolResult TestInstallation::RunRestore(const std::vector<std::string>& extra) {
  return RunRestoreFrom(Backup(), extra);
}

ToolResult TestInstallation::RunRestoreFrom(const std::string& backup, const std::vector<std::string>& extra) {
  return RunFrom(Execute(), {"--restore", "--installpath", Install(), "--backuppath", backup}, extra);
}

std::vector<std::string> TestInstallation::TraceMessages(std::size_t from) const {
  const std::string log = TraceLog();
  return MessagesOf(from < log.size() ? log.substr(from) : "");
}

std::vector<std::string> TestInstallation::ErrorMessages() const {
  return MessagesOf(ReadFile(Install() + "/Logs/BrimoraUpgradeErrors.txt"));
}

std::vector<std::string> TestInstallation::BackupLogMessages() const {
  std::vector<std::string> messages;
  for (const std::string& line : ReadLines(Install() + "/Logs/BackupLog.log")) {
    messages.push_back(line.substr(line.find('\t') + 1) + "\n");
  }
  return messages;
}

}  // namespace brimora::test
