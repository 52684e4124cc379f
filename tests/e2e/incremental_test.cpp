// Backups that take unchanged files from an earlier backup: what is taken, what is copied again,
// what the manifest and record say, and that the earlier backup never changes.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "backup/configuration.h"
#include "common/run_process.h"
#include "e2e/installation.h"
#include "platform/files.h"

namespace brimora::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class IncrementalTest : public BackupTest {
 protected:
  void SetUp() override {
    MakeSampleInstallation("site", {"--documents", "12"});
    // Data enough that the folders and manifests a backup always writes anew are a small share.
    for (int i = 0; i < 2; ++i) WriteFile(Install() + "/Repository/FileStorage/Archive/big" + std::to_string(i), std::string(8 << 20, 'a' + i));
  }
  // A backup into `folder` taking unchanged files from `reference` ("" for none).
  bool BackUp(const std::string& folder, const std::string& reference) {
    const std::unique_ptr<CBackup> backup = LoadConfiguration(Install(), folder);
    backup->referenceFolder = reference;
    return backup->BackupForUpdate(false);
  }
  // The backup's entries, without the logs every run writes and the files that describe the run.
  static std::map<std::string, std::string> Saved(const std::string& folder) {
    auto saved = Snapshot(folder);
    std::erase_if(saved, [](const auto& entry) {
      return entry.first.starts_with("Logs") || entry.first == "BackupInfo.json" || entry.first == "SHA256SUMS" ||
             entry.first == "BackupEntries.txt";
    });
    return saved;
  }
  static std::uint64_t DiskKiB(const std::string& folders) {
    std::string output;
    int exitCode = -1;
    EXPECT_TRUE(RunProcess("du -skc " + folders, output, &exitCode, "/", 60, true, true));
    return std::stoull(output.substr(output.rfind('\n', output.size() - 2) + 1));
  }
  static nlohmann::json Record(const std::string& folder) { return nlohmann::json::parse(ReadFile(folder + "/BackupInfo.json")); }
};

TEST_F(IncrementalTest, UnchangedFilesCostNothingAndEveryChangeIsCopied) {
  const std::string first = Root() + "/first", second = Root() + "/second", third = Root() + "/third";
  ASSERT_TRUE(BackUp(first, ""));
  // A file whose copy in the reference was changed since is copied from the source again.
  ASSERT_EQ(chmod((first + "/Settings/backup.xml").c_str(), 0606), 0);
  ASSERT_TRUE(BackUp(second, first));
  EXPECT_EQ(fs::status(second + "/Settings/backup.xml").permissions(), fs::status(Execute() + "/backup.xml").permissions());
  const nlohmann::json record = Record(second);
  EXPECT_EQ(record["reference"], first);
  EXPECT_GT(record["copies"]["linked"]["files"].get<int>() + record["copies"]["cloned"]["files"].get<int>(), 100);
  EXPECT_EQ(Saved(second), Saved(first));
  // du counts a file linked into both once: the second backup adds its folders and manifests.
  EXPECT_LT(DiskKiB(first + " " + second) - DiskKiB(first), DiskKiB(first) / 20);
  for (const std::string& folder : {first, second}) {
    const ToolResult verified = RunTool(Execute(), {"--verify", "--backuppath", folder});
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
  }
  // The manifest line of a taken file is the reference's, change time included.
  const auto line = [](const std::string& folder, const std::string& name) {
    const std::string list = ReadFile(folder + "/BackupEntries.txt");
    const std::size_t end = list.find("\t" + name + "\n");
    return list.substr(list.rfind('\n', end) + 1, end - list.rfind('\n', end) - 1);
  };
  EXPECT_EQ(line(second, "Settings/BrimoraParams.xml"), line(first, "Settings/BrimoraParams.xml"));

  // Each change between the runs reaches the next backup; the earlier ones stay as they were.
  const std::string settings = Install() + "/../LornithData/Settings/";
  const auto before = Snapshot(first);
  const std::string params = Execute() + "/BrimoraParams.xml";
  struct stat kept {};
  ASSERT_EQ(stat(params.c_str(), &kept), 0);
  std::string changed = ReadFile(params);
  changed[0] = changed[0] == 'x' ? 'y' : 'x';
  WriteFile(params, changed);  // same size and, set back below, same modification time
  const struct timespec times[2] = {kept.st_atim, kept.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, params.c_str(), times, 0), 0);
  WriteFile(Execute() + "/users.xml", "<users added=\"1\"/>");
  ASSERT_TRUE(fs::remove(Execute() + "/ReportJobs.xml"));
  WriteFile(Install() + "/Users/new.txt", "new");
  ASSERT_EQ(chmod((Execute() + "/units.dat").c_str(), 0600), 0);
  ASSERT_EQ(chown((Execute() + "/config.drv").c_str(), 4321, 4322), 0);
  ASSERT_TRUE(BackUp(third, second));
  EXPECT_EQ(ReadFile(third + "/Settings/BrimoraParams.xml"), changed);
  EXPECT_EQ(ReadFile(third + "/Security/users.xml"), "<users added=\"1\"/>");
  EXPECT_FALSE(fs::exists(third + "/Settings/ReportJobs.xml"));
  EXPECT_EQ(ReadFile(third + "/Settings/Users/new.txt"), "new");
  struct stat moded {}, owned {};
  ASSERT_EQ(stat((third + "/Settings/units.dat").c_str(), &moded), 0);
  ASSERT_EQ(stat((third + "/Settings/config.drv").c_str(), &owned), 0);
  EXPECT_EQ(moded.st_mode & 07777, 0600u);
  EXPECT_EQ(owned.st_uid, 4321u);
  EXPECT_EQ(Snapshot(first), before);
  ASSERT_EQ(stat((second + "/Settings/config.drv").c_str(), &owned), 0);
  EXPECT_NE(owned.st_uid, 4321u);
  const ToolResult verified = RunTool(Execute(), {"--verify", "--backuppath", third});
  EXPECT_EQ(verified.exitCode, 0) << verified.output;

  const std::string fourth = Root() + "/fourth";
  // A file damaged in the reference, its size and times kept, keeps the reference's checksum in
  // the backup that takes it over, so its verify finds the damage.
  const std::string damaged = third + "/Settings/MergeUploadConfig.txt";
  struct stat undamaged {};
  ASSERT_EQ(stat(damaged.c_str(), &undamaged), 0);
  WriteFile(damaged, std::string(static_cast<std::size_t>(undamaged.st_size), '?'));
  const struct timespec damagedTimes[2] = {undamaged.st_atim, undamaged.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, damaged.c_str(), damagedTimes, 0), 0);
  ASSERT_TRUE(BackUp(fourth, third));
  const ToolResult found = RunTool(Execute(), {"--verify", "--backuppath", fourth});
  EXPECT_EQ(found.exitCode, 2);
  EXPECT_THAT(found.output, HasSubstr("\"Settings/MergeUploadConfig.txt\" has other contents"));

  // A reference whose entries list cannot be read is named, and everything is copied.
  const std::string fifth = Root() + "/fifth";
  ASSERT_TRUE(fs::remove(second + "/BackupEntries.txt"));
  ASSERT_TRUE(BackUp(fifth, second));
  EXPECT_THAT(BackupLog(), HasSubstr(second + "\" is not used as the reference: its entries list cannot be read"));
  EXPECT_EQ(Record(fifth)["copies"]["linked"]["files"], 0);
  EXPECT_EQ(Record(fifth)["reference"], "");
}

// A file system that clones: a loop-mounted XFS image, unmounted when the object goes.
class ReflinkFolder {
 public:
  explicit ReflinkFolder(const std::string& root) : mount_(root + "/xfs") {
    std::string output;
    int exitCode = -1;
    const std::string image = root + "/xfs.img";
    if (geteuid() != 0) {
      why_ = "mounting a file system needs root";
    } else if (platform::FindOnPath("mkfs.xfs").empty()) {
      why_ = "mkfs.xfs is not installed (Debian package xfsprogs)";
    } else {
      fs::create_directory(mount_);
      for (const std::string& command : {"truncate -s 320M \"" + image + "\"", "mkfs.xfs -q -m reflink=1 \"" + image + "\"",
                                        "mount -o loop \"" + image + "\" \"" + mount_ + "\""}) {
        if (RunProcess(command, output, &exitCode, "/", 120, true, true) && exitCode == 0) continue;
        why_ = "no loop-mounted XFS here: " + command + ": " + output;
        return;
      }
    }
  }
  ~ReflinkFolder() {
    std::string output;
    if (why_.empty()) RunProcess("umount \"" + mount_ + "\"", output, nullptr, "/", 60, true, true);
  }
  const std::string& WhyNot() const { return why_; }
  const std::string& Path() const { return mount_; }

 private:
  std::string mount_;
  std::string why_;
};

TEST_F(IncrementalTest, WhereTheFileSystemClonesTheBackupsShareNoFile) {
  const ReflinkFolder xfs(Root());
  if (!xfs.WhyNot().empty()) GTEST_SKIP() << xfs.WhyNot();
  const std::string first = xfs.Path() + "/first", second = xfs.Path() + "/second";
  ASSERT_TRUE(BackUp(first, ""));
  ASSERT_TRUE(BackUp(second, first));
  const nlohmann::json copies = Record(second)["copies"];
  EXPECT_GT(copies["cloned"]["files"].get<int>(), 100);
  EXPECT_EQ(copies["linked"]["files"], 0);
  std::set<ino_t> earlier;
  for (const auto& entry : fs::recursive_directory_iterator(first)) {
    struct stat info {};
    if (lstat(entry.path().c_str(), &info) == 0) earlier.insert(info.st_ino);
  }
  for (const auto& entry : fs::recursive_directory_iterator(second)) {
    struct stat info {};
    ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
    EXPECT_FALSE(earlier.contains(info.st_ino)) << entry.path();
  }
  EXPECT_EQ(Saved(second), Saved(first));
}

}  // namespace
}  // namespace brimora::test
