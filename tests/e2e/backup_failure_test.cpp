// Every source of every area of the backup blocked in turn: the run writes the area's error
// line, ends with exit code 2, and still saves every other area whole. The runs are made by an
// account without special rights (as root the tests drop to one), so that a file or folder
// without read permission really cannot be read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_layout.h"
#include "backup/backup_messages.h"
#include "backup/configuration.h"
#include "common/format.h"
#include "e2e/installation.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using enum LayoutItem;
using test::ReadFile;
using test::Snapshot;
using test::WriteFile;

constexpr int kDenied = EACCES;
const std::string kDeniedText = "Permission denied";
const std::string kNotAFolderText = "Not a directory";

struct Blocked {
  const char* what;
  std::function<void(const test::TestInstallation&)> block;
  // The lines the run must write, each a whole message of the backup log.
  std::function<std::vector<std::string>(const test::TestInstallation&)> lines;
  std::set<LayoutItem> lost;  // the items that may be missing from the backup
};

void Deny(const std::string& path) { ASSERT_EQ(chmod(path.c_str(), 0), 0) << path; }

// A file where the backup must create one of its folders.
void Take(const test::TestInstallation& installation, const char* entry) {
  WriteFile(installation.Backup() + "/" + entry, "in the way");
}

std::string Detail(const std::string& backup, const std::string& path, const std::string& why) {
  return Format(messages::kCopyFailedAt, backup, "\"" + path + "\": " + why);
}

const std::set<LayoutItem> kSettingsItems = {kReports, kSettingsFile, kTestSystems, kTestSystemGroups, kParameterFiles,
                                             kParameters, kServiceSettings, kSslCertificate, kSslKey, kScheduledTasks,
                                             kUserDefined, kBackupSettings, kGenericFileEditor, kMergeUploadConfig,
                                             kUnits, kConfigDrv, kReportJobs, kUsers, kUtilizationFiles, kWebReports};
const std::set<LayoutItem> kSecurityItems = {kCommandList, kUsersData, kUsersXml, kServerAccess, kServerAccessPrevious};
const std::set<LayoutItem> kPartsItems = {kPartsDatabase, kPartDbConfig, kPartsDbExporterConfig, kPartsWebPages,
                                          kPartsChangeLogs, kPartsSettingsChangeLogs};

// A file that cannot be read, for the steps that report it with the shared file line.
Blocked UnreadableFile(const char* what, std::string (test::TestInstallation::*base)() const, const char* name,
                       const char* entry, LayoutItem item) {
  return {what,
          [=](const test::TestInstallation& i) { Deny((i.*base)() + "/" + name); },
          [=](const test::TestInstallation& i) {
            return std::vector<std::string>{Format(messages::kFileNotBackedUp, i.Backup(), (i.*base)() + "/" + name,
                                                   i.Backup() + "/" + entry, kDenied)};
          },
          {item}};
}

std::vector<Blocked> Table() {
  using I = test::TestInstallation;
  return {
      {"the Settings folder is taken", [](const I& i) { Take(i, "Settings"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kConfigurationFolderNotCreated, i.Backup(), i.Backup() + "/Settings")};
       },
       kSettingsItems},
      UnreadableFile("reports.xml", &I::Execute, "reports.xml", "Settings/reports.xml", kReports),
      UnreadableFile("TestSystems.xml", &I::SettingsAsNamed, "TestSystems.xml", "Settings/TestSystems.xml", kTestSystems),
      UnreadableFile("a parameter file", &I::Execute, "BrimoraParams_A.xml", "Settings/BrimoraParams_A.xml",
                     kParameterFiles),
      UnreadableFile("the certificate", &I::Execute, "ssl/server.crt", "Settings/server.crt", kSslCertificate),
      // A file that is there but cannot be examined is not missing: its copy fails.
      {"the certificates' folder", [](const I& i) { Deny(i.Execute() + "/ssl"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kFileNotBackedUp, i.Backup(), i.Execute() + "/ssl/server.crt",
                    i.Backup() + "/Settings/server.crt", kDenied),
             Format(messages::kFileNotBackedUp, i.Backup(), i.Execute() + "/ssl/server.key",
                    i.Backup() + "/Settings/server.key", kDenied)};
       },
       {kSslCertificate, kSslKey}},
      // Without secure transport an unreadable certificate is no failure: the run succeeds.
      {"the certificate without secure transport",
       [](const I& i) {
         std::string settings = ReadFile(i.Settings() + "/Brimora.xml");
         settings.replace(settings.find("<EnableSSL>true"), 15, "<EnableSSL>false");
         WriteFile(i.Settings() + "/Brimora.xml", settings);
         Deny(i.Execute() + "/ssl/server.crt");
       },
       [](const I&) { return std::vector<std::string>{}; },
       {kSslCertificate}},
      {"Execute can be entered but not listed", [](const I& i) { ASSERT_EQ(chmod(i.Execute().c_str(), 0311), 0); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kFolderNotListed, i.Backup(), i.Execute(), kDenied),
             Format(messages::kUtilizationFolderNotListed, "Backup", i.Execute() + "/", i.Execute() + "/", kDenied)};
       },
       {kParameterFiles, kUtilizationFiles}},
      {"the Users folder", [](const I& i) { Deny(i.Install() + "/Users"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.Install() + "/Users", kDeniedText),
                                         Format(messages::kFolderNotBackedUp, i.Backup(), i.Install() + "/Users",
                                                i.Backup() + "/Settings/Users", kDenied)};
       },
       {kUsers}},
      {"a utilization file", [](const I& i) { Deny(i.Execute() + "/utilized_h.pkl"); },
       [](const I& i) {
         return std::vector<std::string>{Format(messages::kUtilizationFileNotCopied, "Backup", i.Execute() + "/",
                                                i.Execute() + "/utilized_h.pkl",
                                                i.Backup() + "/Settings/utilized_h.pkl", kDenied)};
       },
       {kUtilizationFiles}},
      {"the WebReports folder", [](const I& i) { Deny(i.Execute() + "/WebReports"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.Execute() + "/WebReports", kDeniedText),
                                         Format(messages::kFolderNotBackedUp, i.Backup(), i.Execute() + "/WebReports",
                                                i.Backup() + "/Settings/Execute/WebReports", kDenied)};
       },
       {kWebReports}},
      {"the PMP folder is taken", [](const I& i) { Take(i, "PMP"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kParameterManagerFolderNotCreated, i.Backup(), i.Backup() + "/PMP")};
       },
       {kNames}},
      UnreadableFile("names.pmp", &I::Execute, "names.pmp", "PMP/names.pmp", kNames),
      {"the PMP Images folder is taken", [](const I& i) { Take(i, "PMP Images"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kImagesFolderNotCreated, i.Backup(), i.Backup() + "/PMP Images")};
       },
       {kImages, kParameterManagerImages}},
      {"an image folder", [](const I& i) { Deny(i.Execute() + "/www/images/ParameterManager"); },
       [](const I& i) {
         return std::vector<std::string>{
             Detail(i.Backup(), i.Execute() + "/www/images/ParameterManager", kDeniedText),
             Format(messages::kImagesFailed, i.Backup())};
       },
       {kImages, kParameterManagerImages}},
      {"an image folder brings a link where the other needs a folder",
       [](const I& i) {
         WriteFile(i.Root() + "/outside/flow.png", "outside");
         fs::create_directory_symlink(i.Root() + "/outside", i.Execute() + "/www/images/ParameterManager/icons");
         WriteFile(i.Execute() + "/ParameterManager/images/icons/flow.png", "image");
       },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kCopyFailedAt, i.Backup(),
                    "\"" + i.Backup() + "/PMP Images/icons\" is a symbolic link where a folder is needed; it is not followed"),
             Format(messages::kImagesFailed, i.Backup())};
       },
       {kImages, kParameterManagerImages}},
      {"the Security folder is taken", [](const I& i) { Take(i, "Security"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kSecurityFolderNotCreated, i.Backup(), i.Backup() + "/Security")};
       },
       kSecurityItems},
      UnreadableFile("users.dat", &I::Execute, "users.dat", "Security/users.dat", kUsersData),
      {"the server access log",
       [](const I& i) { Deny(i.Install() + "/Logs/BrimoraServerAccess.txt"); },
       [](const I& i) {
         return std::vector<std::string>{Format(messages::kFileNotBackedUp, i.Backup(),
                                                i.Install() + "/Logs/BrimoraServerAccess.txt",
                                                i.Backup() + "/Security/BrimoraServerAccess.txt", kDenied)};
       },
       {kServerAccess, kLogFiles}},
      {"the PartsTracker folder is taken", [](const I& i) { Take(i, "PartsTracker"); },
       [](const I& i) {
         const std::string b = i.Backup(), p = b + "/PartsTracker";
         return std::vector<std::string>{
             Format(messages::kPartsTrackerFolderNotCreated, b, p),
             Detail(b, p + "/partsdb", kNotAFolderText),
             Format(messages::kPartsDatabaseFailed, b),
             Format(messages::kPartsTrackerFileFailed, b, i.Execute() + "/PartDBConfig.xml"),
             Format(messages::kPartTrackerFileFailed, b, i.Execute() + "/PartsDBExporterConfig.xml"),
             Detail(b, p + "/www-partsdb", kNotAFolderText),
             Detail(b, p + "/partsdb-changelogs", kNotAFolderText),
             Format(messages::kPartsChangeFilesFailed, b)};
       },
       kPartsItems},
      // A folder already there (from an earlier run): the line and a failed run, yet every copy
      // of the area goes into it.
      {"the PartsTracker folder is there already",
       [](const I& i) { fs::create_directories(i.Backup() + "/PartsTracker"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kPartsTrackerFolderNotCreated, i.Backup(), i.Backup() + "/PartsTracker")};
       },
       {}},
      {"the parts database", [](const I& i) { Deny(i.Install() + "/partsdb"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.Install() + "/partsdb", kDeniedText),
                                         Format(messages::kPartsDatabaseFailed, i.Backup())};
       },
       {kPartsDatabase}},
      {"PartDBConfig.xml", [](const I& i) { Deny(i.Execute() + "/PartDBConfig.xml"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kPartsTrackerFileFailed, i.Backup(), i.Execute() + "/PartDBConfig.xml")};
       },
       {kPartDbConfig}},
      {"PartsDBExporterConfig.xml", [](const I& i) { Deny(i.Execute() + "/PartsDBExporterConfig.xml"); },
       [](const I& i) {
         return std::vector<std::string>{
             Format(messages::kPartTrackerFileFailed, i.Backup(), i.Execute() + "/PartsDBExporterConfig.xml")};
       },
       {kPartsDbExporterConfig}},
      {"the parts web pages", [](const I& i) { Deny(i.Execute() + "/www/partsdb"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.Execute() + "/www/partsdb", kDeniedText),
                                         Format(messages::kPartsChangeFilesFailed, i.Backup())};
       },
       {kPartsWebPages}},
      {"the change logs", [](const I& i) { Deny(i.Execute() + "/partsdb-changelogs"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.Execute() + "/partsdb-changelogs", kDeniedText),
                                         Format(messages::kPartsChangeFilesFailed, i.Backup())};
       },
       {kPartsChangeLogs}},
      {"the settings change logs", [](const I& i) { Deny(i.Settings() + "/partsdb-changelogs"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.SettingsAsNamed() + "/partsdb-changelogs", kDeniedText),
                                         Format(messages::kPartsChangeFilesFailed, i.Backup())};
       },
       {kPartsSettingsChangeLogs}},
      {"the Repository folder is taken", [](const I& i) { Take(i, "Repository"); },
       [](const I& i) {
         return std::vector<std::string>{
             Detail(i.Backup(), i.Backup() + "/Repository", kNotAFolderText),
             Format(messages::kDataFilesNotCopied, i.Backup(), i.Install() + "/Repository", i.Backup(), kNotAFolderText),
             Format(messages::kFileStorageFailed, i.Backup())};
       },
       {kFileStorage, kSubversionRepository}},
      {"a document", [](const I& i) { Deny(i.Install() + "/Repository/FileStorage/doc.txt"); },
       [](const I& i) {
         return std::vector<std::string>{
             Detail(i.Backup(), i.Install() + "/Repository/FileStorage/doc.txt", kDeniedText),
             Format(messages::kDataFilesNotCopied, i.Backup(), i.Install() + "/Repository", i.Backup(), kDeniedText),
             Format(messages::kFileStorageFailed, i.Backup())};
       },
       {kFileStorage, kSubversionRepository}},
      {"the Subversion repository", [](const I& i) { Deny(i.Install() + "/SubversionRepository/db"); },
       [](const I& i) {
         return std::vector<std::string>{
             Detail(i.Backup(), i.Install() + "/SubversionRepository/db", kDeniedText),
             Format(messages::kDataFilesNotCopied, i.Backup(), i.Install() + "/SubversionRepository", i.Backup(),
                    kDeniedText),
             Format(messages::kSubversionFailed, i.Backup())};
       },
       {kSubversionRepository}},
      {"the Logs folder is taken", [](const I& i) { Take(i, "Logs"); },
       [](const I& i) {
         return std::vector<std::string>{Format(messages::kLogFolderNotCreated, i.Backup(), i.Backup() + "/Logs"),
                                         Detail(i.Backup(), i.Backup() + "/Logs", kNotAFolderText),
                                         Format(messages::kLogFilesFailed, i.Backup())};
       },
       {kLogFiles}},
      {"the Logs folder is there already", [](const I& i) { fs::create_directories(i.Backup() + "/Logs"); },
       [](const I& i) {
         return std::vector<std::string>{Format(messages::kLogFolderNotCreated, i.Backup(), i.Backup() + "/Logs")};
       },
       {}},
      {"a log file", [](const I& i) { Deny(i.Install() + "/Logs/old.log"); },
       [](const I& i) {
         return std::vector<std::string>{Detail(i.Backup(), i.Install() + "/Logs/old.log", kDeniedText),
                                         Format(messages::kLogFilesFailed, i.Backup())};
       },
       {kLogFiles}},
  };
}

TEST(BackupFailures, EveryBlockedSourceFailsTheRunAndSparesTheOtherAreas) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  for (const Blocked& row : Table()) {
    SCOPED_TRACE(row.what);
    test::TestInstallation installation;
    installation.MakeInstallation();
    fs::create_directories(installation.Backup());
    row.block(installation);
    test::GiveToUnprivileged(installation.Root());  // keeps the modes the block set

    const test::ToolResult result = installation.RunBackup({}, /*unprivileged=*/true);
    // A row without lines blocks nothing the run may fail on.
    const std::vector<std::string> lines = row.lines(installation);
    EXPECT_EQ(result.exitCode, lines.empty() ? 0 : 2) << result.output;
    const std::vector<std::string> messages = installation.BackupLogMessages();
    for (const std::string& line : lines) {
      EXPECT_THAT(messages, ::testing::Contains(line));
    }
    if (!lines.empty()) {
      EXPECT_THAT(result.output, ::testing::HasSubstr("Error backing up to the backup path: " + installation.Backup()));
    }

    // Every area that was not blocked is complete.
    const std::unique_ptr<CBackup> backup = LoadConfiguration(installation.Install(), installation.Backup());
    ASSERT_NE(backup, nullptr);
    for (const LayoutEntry& entry : BackupLayout()) {
      if (!row.lost.contains(entry.item)) test::ExpectSaved(*backup, installation.Backup(), entry);
    }
  }
}

}  // namespace
}  // namespace brimora
