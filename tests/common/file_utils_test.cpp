// Paths, folder creation, existence tests, listings, temporary files and access grants.

#include "common/file_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/run_process.h"
#include "common/temp_file.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;
using Strings = std::vector<std::string>;

class FileUtilsTest : public testing::Test {
 protected:
  test::TempFolder tmp_;
};

TEST(NormalizePathTest, Table) {
  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"  /srv//data/./files//x.txt \t", "/srv/data/files/x.txt"},
      {"//host/share//dir/./f", "//host/share/dir/f"}, {"///many////slashes", "//many/slashes"},
      {"relative/./a//b", "relative/a/b"},            {"a/././b", "a/./b"},  // one pass over "/./"
      {"back\\slash\\\\kept", "back\\slash\\\\kept"},  {"   ", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizePath(c.path), c.expected) << "input: \"" << c.path << "\"";
  }
}

TEST_F(FileUtilsTest, CreateFolders) {
  EXPECT_TRUE(CreateFolders(tmp_ / "a/b/c/", false)) << "a trailing separator names the folder";
  EXPECT_TRUE(fs::is_directory(tmp_ / "a/b/c"));
  EXPECT_FALSE(CreateFolders(tmp_ / "a/b/c", false)) << "an existing folder is not created";

  EXPECT_TRUE(CreateFolders(tmp_ / "f/g/file.txt", true));
  EXPECT_TRUE(fs::is_directory(tmp_ / "f/g"));
  EXPECT_FALSE(fs::exists(tmp_ / "f/g/file.txt"));
  WriteFile(tmp_ / "blocker", "x");
  EXPECT_FALSE(CreateFolders(tmp_ / "blocker/x/file.txt", true)) << "the folder cannot exist";

  const fs::path previous = fs::current_path();
  fs::current_path(tmp_.Path());
  EXPECT_TRUE(CreateFolders("nosep", false));
  EXPECT_FALSE(fs::exists(tmp_ / "nosep"));
  EXPECT_TRUE(CreateFolders("rel/ative", false)) << "the first component of a relative path too";
  EXPECT_TRUE(fs::is_directory(tmp_ / "rel/ative"));
  fs::current_path(previous);
}

TEST_F(FileUtilsTest, ExistenceTests) {
  WriteFile(tmp_ / "folder/File.XML", "x");
  fs::create_symlink(tmp_ / "folder", tmp_ / "folder-link");
  fs::create_symlink(tmp_ / "nowhere", tmp_ / "dangling");

  EXPECT_TRUE(FolderExists(tmp_ / "folder-link"));
  EXPECT_FALSE(FolderExists(tmp_ / "folder/File.XML"));
  EXPECT_FALSE(FolderExists(tmp_ / "missing"));

  EXPECT_TRUE(IsFolder(tmp_.Path() + "//folder/"));
  EXPECT_TRUE(IsFolder("/"));
  EXPECT_FALSE(IsFolder(tmp_ / "folder/File.XML"));

  for (const char* name : {"folder/File.XML", "dangling", "folder/*.xml", "folder/f?le.*"}) {
    EXPECT_TRUE(PathExists(tmp_ / name)) << name;
  }
  for (const char* name : {"folder/*.txt", "missing/*.*", "folder/file.xml" /* exact */}) {
    EXPECT_FALSE(PathExists(tmp_ / name)) << name;
  }
}

TEST_F(FileUtilsTest, ListFolderPatterns) {
  for (const char* name : {"a.xml", "B.XML", "a.xmlx", "README", "x.tar.gz", "c.xml.bak"}) {
    WriteFile(tmp_ / name, "x");
  }
  fs::create_directory(tmp_ / "sub.xml");
  fs::create_directory(tmp_ / "plain");

  const struct {
    const char* pattern;
    Strings files, folders;
  } cases[] = {
      {"*.xml", {"B.XML", "a.xml"}, {"sub.xml"}},
      {"*.*", {"B.XML", "README", "a.xml", "a.xmlx", "c.xml.bak", "x.tar.gz"},
       {"plain", "sub.xml"}},
      {"readme.*", {"README"}, {}},
  };
  for (const auto& c : cases) {
    Strings files, folders;
    EXPECT_TRUE(ListFolder(tmp_ / c.pattern, &files, &folders)) << c.pattern;
    EXPECT_EQ(files, c.files) << "pattern: " << c.pattern;
    EXPECT_EQ(folders, c.folders) << "pattern: " << c.pattern;
  }
  Strings files;
  EXPECT_FALSE(ListFolder(tmp_ / "*.none", &files, nullptr));
  EXPECT_FALSE(ListFolder(tmp_ / "missing/*", &files, nullptr));
  EXPECT_TRUE(files.empty());
}

TEST_F(FileUtilsTest, ListFilesRecursesButNotThroughLinks) {
  for (const char* name : {"BrimoraParams_a.xml", "one/BrimoraParams_b.XML",
                           "one/two/brimoraparams_c.xml", "one/two/other.xml"}) {
    WriteFile(tmp_ / name, "x");
  }
  fs::create_symlink(tmp_.Path(), tmp_ / "one/loop");

  Strings paths{"kept"};
  EXPECT_EQ(ListFiles(tmp_.Path(), "BrimoraParams_*.xml", paths, 0), 1);
  EXPECT_EQ(paths, (Strings{"kept", tmp_ / "BrimoraParams_a.xml"}));

  paths.clear();
  EXPECT_EQ(ListFiles(tmp_.Path() + "/", "BrimoraParams_*.xml", paths, kListRecursive), 3);
  EXPECT_EQ(paths, (Strings{tmp_ / "BrimoraParams_a.xml", tmp_ / "one/BrimoraParams_b.XML",
                            tmp_ / "one/two/brimoraparams_c.xml"}));

  paths.clear();
  EXPECT_EQ(ListFiles(tmp_.Path(), "*", paths, kListRecursive | kListFolders), 2);
  EXPECT_EQ(paths, (Strings{tmp_ / "one", tmp_ / "one/two"}));
}

TEST(TempFileTest, ExtensionKeepsATmpTwinUntilDestruction) {
  std::string path, reserved;
  {
    Common::CTempFile temp("xml", "QXRest", true);
    path = temp.Path();
    reserved = temp.ReservedName();
    EXPECT_EQ(fs::path(path).filename().string().substr(0, 3), "qxr");
    EXPECT_EQ(reserved.substr(0, reserved.size() - 4) + ".xml", path);
    EXPECT_EQ(fs::path(reserved).extension(), ".tmp");
    EXPECT_TRUE(fs::exists(reserved));
    EXPECT_FALSE(fs::exists(path));
    WriteFile(path, "x");
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(reserved));
  {
    Common::CTempFile plain("", "cmd", false);
    EXPECT_TRUE(plain.ReservedName().empty());
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    EXPECT_EQ(fs::status(plain.Path()).permissions(), ownerOnly);
    path = plain.Path();
  }
  EXPECT_TRUE(fs::exists(path)) << "kept without the delete flag";
  fs::remove(path);
}

// The access list as getfacl shows it, one entry a line ("user:nobody:rwx").
std::string AccessList(const std::string& path) {
  std::string output;
  RunProcess("getfacl -p --omit-header " + QuoteArgument(path), output);
  return output;
}

TEST_F(FileUtilsTest, GrantFolderAccessAddsAndKeepsEntries) {
  const std::string folder = tmp_ / "db";
  fs::create_directory(folder);
  ASSERT_TRUE(GrantFolderAccess(folder, "daemon", "", 0x80000000 /* generic read */, true));
  ASSERT_TRUE(GrantFolderAccess(folder, "nobody", "SOME DOMAIN", kAccessAllRights, true));
  std::string list = AccessList(folder);
  for (const char* entry : {"user:daemon:r-x", "user:nobody:rwx", "default:user:nobody:rwx",
                            "mask::rwx"}) {
    EXPECT_NE(list.find("\n" + std::string(entry) + "\n"), std::string::npos) << entry << list;
  }
  // What is made in the folder afterwards inherits the grant.
  fs::create_directory(tmp_ / "db/child");
  EXPECT_NE(AccessList(tmp_ / "db/child").find("\nuser:nobody:rwx\n"), std::string::npos);

  ASSERT_TRUE(GrantFolderAccess(folder, "daemon", "", 0x2 /* write data */, true));
  EXPECT_NE(AccessList(folder).find("\nuser:daemon:rwx\n"), std::string::npos) << "widened";
  ASSERT_TRUE(GrantFolderAccess(folder, "nobody", "", 0x2 /* write data */, false));
  list = AccessList(folder);
  EXPECT_EQ(list.find("daemon"), std::string::npos) << "dropped without keep-existing: " << list;
  EXPECT_NE(list.find("\nuser:nobody:rwx\n"), std::string::npos) << list;

  EXPECT_FALSE(GrantFolderAccess(folder, "no-such-account-here", "", kAccessAllRights, true));
  EXPECT_FALSE(GrantFolderAccess(tmp_ / "missing", "nobody", "", kAccessAllRights, true));
}

}  // namespace
}  // namespace brimora
