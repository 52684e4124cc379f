// Paths, folder creation, existence tests, listings, temporary files, archive extraction and
// access grants.

#include "common/file_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/run_process.h"
#include "common/temp_file.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& contents = "x") {
  std::ofstream(path, std::ios::binary) << contents;
}

class FileUtilsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "file_utils_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string At(const std::string& relative) const { return (dir_ / relative).string(); }

  fs::path dir_;
};

TEST(NormalizePathTest, Table) {
  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"  /srv//data/./files//x.txt \t", "/srv/data/files/x.txt"},
      {"//host/share//dir/./f", "//host/share/dir/f"},
      {"///many////slashes", "//many/slashes"},
      {"/single/start", "/single/start"},
      {"relative/./a//b", "relative/a/b"},
      {"a/././b", "a/./b"},  // one pass over "/./"
      {"back\\slash\\\\kept", "back\\slash\\\\kept"},
      {"   ", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizePath(c.path), c.expected) << "input: \"" << c.path << "\"";
  }
}

TEST_F(FileUtilsTest, CreateFolders) {
  EXPECT_TRUE(CreateFolders(At("a/b/c"), false));
  EXPECT_TRUE(fs::is_directory(dir_ / "a/b/c"));
  EXPECT_FALSE(CreateFolders(At("a/b/c"), false)) << "an existing folder is not created";
  EXPECT_TRUE(CreateFolders(At("d/e/"), false)) << "a trailing separator names the same folder";
  EXPECT_TRUE(fs::is_directory(dir_ / "d/e"));

  EXPECT_TRUE(CreateFolders(At("f/g/file.txt"), true));
  EXPECT_TRUE(fs::is_directory(dir_ / "f/g"));
  EXPECT_FALSE(fs::exists(dir_ / "f/g/file.txt"));
  WriteFile(dir_ / "blocker");
  EXPECT_FALSE(CreateFolders(At("blocker/x/file.txt"), true)) << "the folder cannot exist";

  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  EXPECT_TRUE(CreateFolders("nosep", false));
  EXPECT_FALSE(fs::exists(dir_ / "nosep"));
  EXPECT_TRUE(CreateFolders("rel/ative", false)) << "the first component of a relative path too";
  EXPECT_TRUE(fs::is_directory(dir_ / "rel/ative"));
  fs::current_path(previous);
}

TEST_F(FileUtilsTest, ExistenceTests) {
  fs::create_directory(dir_ / "folder");
  WriteFile(dir_ / "folder/File.XML");
  fs::create_symlink(dir_ / "folder", dir_ / "folder-link");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");

  EXPECT_TRUE(FolderExists(At("folder")));
  EXPECT_TRUE(FolderExists(At("folder-link")));
  EXPECT_FALSE(FolderExists(At("folder/File.XML")));
  EXPECT_FALSE(FolderExists(At("missing")));

  EXPECT_TRUE(IsFolder(At("folder")));
  EXPECT_TRUE(IsFolder(dir_.string() + "//folder/"));
  EXPECT_TRUE(IsFolder("/"));
  EXPECT_FALSE(IsFolder(At("folder/File.XML")));

  EXPECT_TRUE(PathExists(At("folder/File.XML")));
  EXPECT_TRUE(PathExists(At("dangling")));
  EXPECT_TRUE(PathExists(At("folder/*.xml")));
  EXPECT_TRUE(PathExists(At("folder/f?le.*")));
  EXPECT_FALSE(PathExists(At("folder/*.txt")));
  EXPECT_FALSE(PathExists(At("missing/*.*")));
  EXPECT_FALSE(PathExists(At("folder/file.xml"))) << "a plain path is exact";
}

TEST_F(FileUtilsTest, ListFolderPatterns) {
  for (const char* name : {"a.xml", "B.XML", "a.xmlx", "README", "x.tar.gz", "c.xml.bak"}) {
    WriteFile(dir_ / name);
  }
  fs::create_directory(dir_ / "sub.xml");
  fs::create_directory(dir_ / "plain");

  const struct {
    const char* pattern;
    std::vector<std::string> files;
    std::vector<std::string> folders;
  } cases[] = {
      {"*.xml", {"B.XML", "a.xml"}, {"sub.xml"}},
      {"*.*", {"B.XML", "README", "a.xml", "a.xmlx", "c.xml.bak", "x.tar.gz"}, {"plain", "sub.xml"}},
      {"readme.*", {"README"}, {}},
      {"README", {"README"}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    EXPECT_TRUE(ListFolder(At(c.pattern), &files, &folders)) << c.pattern;
    EXPECT_EQ(files, c.files) << "pattern: " << c.pattern;
    EXPECT_EQ(folders, c.folders) << "pattern: " << c.pattern;
  }
  std::vector<std::string> files;
  EXPECT_FALSE(ListFolder(At("*.none"), &files, nullptr));
  EXPECT_FALSE(ListFolder(At("missing/*"), &files, nullptr));
  EXPECT_TRUE(files.empty());
}

TEST_F(FileUtilsTest, ListFilesRecursesButNotThroughLinks) {
  fs::create_directories(dir_ / "one/two");
  WriteFile(dir_ / "BrimoraParams_a.xml");
  WriteFile(dir_ / "one/BrimoraParams_b.XML");
  WriteFile(dir_ / "one/two/brimoraparams_c.xml");
  WriteFile(dir_ / "one/two/other.xml");
  fs::create_symlink(dir_, dir_ / "one/loop");

  std::vector<std::string> paths{"kept"};
  EXPECT_EQ(ListFiles(dir_.string(), "BrimoraParams_*.xml", paths, 0), 1);
  EXPECT_EQ(paths, (std::vector<std::string>{"kept", At("BrimoraParams_a.xml")}));

  paths.clear();
  EXPECT_EQ(ListFiles(dir_.string() + "/", "BrimoraParams_*.xml", paths, kListRecursive), 3);
  EXPECT_EQ(paths, (std::vector<std::string>{At("BrimoraParams_a.xml"),
                                             At("one/BrimoraParams_b.XML"),
                                             At("one/two/brimoraparams_c.xml")}));

  paths.clear();
  EXPECT_EQ(ListFiles(dir_.string(), "*", paths, kListRecursive | kListFolders), 2);
  EXPECT_EQ(paths, (std::vector<std::string>{At("one"), At("one/two")}));
}

TEST(TempFileTest, ExtensionKeepsATmpTwinUntilDestruction) {
  std::string path;
  std::string reserved;
  {
    Common::CTempFile temp("xml", "QXRest", true);
    path = temp.Path();
    reserved = temp.ReservedName();
    EXPECT_EQ(fs::path(path).filename().string().substr(0, 3), "qxr");
    EXPECT_EQ(fs::path(path).extension(), ".xml");
    EXPECT_EQ(reserved.substr(0, reserved.size() - 4), path.substr(0, path.size() - 4));
    EXPECT_EQ(fs::path(reserved).extension(), ".tmp");
    EXPECT_TRUE(fs::exists(reserved));
    EXPECT_FALSE(fs::exists(path));
    WriteFile(path);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(reserved));
  {
    Common::CTempFile plain("", "cmd", false);
    EXPECT_TRUE(plain.ReservedName().empty());
    EXPECT_EQ(fs::status(plain.Path()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    path = plain.Path();
  }
  EXPECT_TRUE(fs::exists(path)) << "kept without the delete flag";
  fs::remove(path);
}

TEST_F(FileUtilsTest, ExtractArchiveWithTheArchiver) {
  const std::string archiver = SevenZipPath();
  if (access(archiver.c_str(), X_OK) != 0) GTEST_SKIP() << "no archiver: " << archiver;
  fs::create_directories(dir_ / "stage/inner");
  WriteFile(dir_ / "stage/inner/module.xml", "<doc/>");
  WriteFile(dir_ / "stage/top.txt", "top");
  std::string output;
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(QuoteArgument(archiver) + " a -y " + QuoteArgument("../my\" archive.zip") +
                             " inner top.txt",
                         output, &exitCode, At("stage"), 600, false, true));
  ASSERT_EQ(exitCode, 0) << output;
  const std::string archive = At("my\" archive.zip");

  fs::create_directory(dir_ / "out");
  WriteFile(dir_ / "out/stale");
  EXPECT_TRUE(ExtractArchive(archive, At("out"), false));
  EXPECT_TRUE(fs::exists(dir_ / "out/stale")) << "kept without empty-first";
  EXPECT_TRUE(ExtractArchive(archive, At("out"), true));
  EXPECT_FALSE(fs::exists(dir_ / "out/stale"));
  EXPECT_TRUE(fs::exists(dir_ / "out/module.xml")) << "extracted without its folder";
  EXPECT_TRUE(fs::exists(dir_ / "out/top.txt"));

  // A relative archive path names the file beside the caller, not beside the destination.
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  EXPECT_TRUE(ExtractArchive("my\" archive.zip", At("new/deep"), true));
  fs::current_path(previous);
  EXPECT_TRUE(fs::exists(dir_ / "new/deep/module.xml"));

  EXPECT_FALSE(ExtractArchive(At("missing.zip"), At("out"), true));
}

// The access list as getfacl shows it, one entry a line ("user:nobody:rwx").
std::string AccessList(const std::string& path) {
  std::string output;
  RunProcess("getfacl -p --omit-header " + QuoteArgument(path), output);
  return output;
}

TEST_F(FileUtilsTest, GrantFolderAccessAddsAndKeepsEntries) {
  const std::string folder = At("db");
  fs::create_directory(folder);
  ASSERT_TRUE(GrantFolderAccess(folder, "daemon", "", 0x80000000 /* generic read */, true));
  ASSERT_TRUE(GrantFolderAccess(folder, "nobody", "SOME DOMAIN", kAccessAllRights, true));
  std::string list = AccessList(folder);
  EXPECT_NE(list.find("\nuser:daemon:r-x\n"), std::string::npos) << list;
  EXPECT_NE(list.find("\nuser:nobody:rwx\n"), std::string::npos) << list;
  EXPECT_NE(list.find("\ndefault:user:nobody:rwx\n"), std::string::npos) << list;
  EXPECT_NE(list.find("\nmask::rwx\n"), std::string::npos) << list;
  // What is made in the folder afterwards inherits the grant.
  fs::create_directory(dir_ / "db/child");
  EXPECT_NE(AccessList(At("db/child")).find("\nuser:nobody:rwx\n"), std::string::npos);

  ASSERT_TRUE(GrantFolderAccess(folder, "nobody", "", 0x2 /* write data */, false));
  list = AccessList(folder);
  EXPECT_EQ(list.find("daemon"), std::string::npos) << "dropped without keep-existing: " << list;
  EXPECT_NE(list.find("\nuser:nobody:rwx\n"), std::string::npos) << list;

  EXPECT_FALSE(GrantFolderAccess(folder, "no-such-account-here", "", kAccessAllRights, true));
  EXPECT_FALSE(GrantFolderAccess(At("missing"), "nobody", "", kAccessAllRights, true));
}

}  // namespace
}  // namespace brimora
