#include "e2e/installation.h"

#include <sys/stat.h>

#include <filesystem>

#include "backup/backup.h"

namespace brimora::test {

namespace fs = std::filesystem;

std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), folder).string();
    if (it->is_symlink()) {
      entries[relative] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      entries[relative] = "/";
    } else {
      entries[relative] = ReadFile(it->path().string());
    }
  }
  return entries;
}

std::int64_t ModificationTime(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec : -1;
}

namespace {

bool IsLogWrittenByTheRun(const std::string& name) {
  return name.find("BackupLog") != std::string::npos || name.find("BrimoraUpgrade") != std::string::npos;
}

}  // namespace

void ExpectSaved(const CBackup& backup, const std::string& backupFolder, const LayoutEntry& entry) {
  const std::string source = backup.SourcePath(entry);
  const std::string copy = backup.EntryPath(backupFolder, entry);
  SCOPED_TRACE(copy);
  switch (entry.kind) {
    case LayoutKind::kFile:
      ASSERT_TRUE(fs::is_regular_file(copy));
      EXPECT_EQ(ReadFile(copy), ReadFile(source));
      EXPECT_EQ(ModificationTime(copy), ModificationTime(source));
      break;
    case LayoutKind::kFiles:
    case LayoutKind::kUtilizationPatterns: {
      const std::vector<std::string> names =
          entry.kind == LayoutKind::kFiles
              ? std::vector<std::string>{"BrimoraParams_A.xml", "BrimoraParams_B.xml"}
              : std::vector<std::string>{"utilization_h.txt", "utilization_h_2021.txt", "utilized_h.pkl",
                                         "UtilDevChans_X.txt"};
      for (const std::string& name : names) {
        EXPECT_EQ(ReadFile(copy + "/" + name), ReadFile(backup.installPath + "/Execute/" + name)) << name;
      }
      break;
    }
    case LayoutKind::kTree: {
      // Merged areas hold more than one source; every entry of this one must be there.
      const auto saved = Snapshot(copy);
      for (const auto& [name, contents] : Snapshot(source)) {
        if (IsLogWrittenByTheRun(name)) continue;
        const auto found = saved.find(name);
        EXPECT_TRUE(found != saved.end() && found->second == contents) << name;
      }
      break;
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

ToolResult TestInstallation::RunBackup(const std::vector<std::string>& extra, bool unprivileged) {
  std::vector<std::string> arguments = {"--installpath", Install(), "--backuppath", Backup()};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return unprivileged ? RunToolUnprivileged(Execute(), arguments) : RunTool(Execute(), arguments);
}

ToolResult TestInstallation::RunBackupInto(const std::string& backup, const std::vector<std::string>& extra) {
  std::vector<std::string> arguments = {"--installpath", Install(), "--backuppath", backup};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return RunTool(Execute(), arguments);
}

std::vector<std::string> TestInstallation::BackupLogMessages() const {
  std::vector<std::string> messages;
  for (const std::string& line : ReadLines(Install() + "/Logs/BackupLog.log")) {
    messages.push_back(line.substr(line.find('\t') + 1) + "\n");
  }
  return messages;
}

}  // namespace brimora::test
