// Paths, folder creation, existence tests, listings, temporary files and access grants.

#include "common/file_utils.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/run_process.h"
#include "common/temp_file.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(NormalizePathTest, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"  /srv//data/./files//x.txt \t", "/srv/data/files/x.txt"}, {"//host/share//dir/./f", "//host/share/dir/f"},
      {"///many////slashes", "//many/slashes"},                     {"relative/./a//b", "relative/a/b"},
      {"a/././b", "a/./b"} /* one pass over "/./" */,               {"back\\slash\\\\kept", "back\\slash\\\\kept"},
      {"   ", ""},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(NormalizePath(path), expected) << "[" << path << "]";
}

TEST(FileUtilsTest, CreateFolders) {
  test::TempFolder tmp_;
  EXPECT_TRUE(CreateFolders(tmp_ / "a/b/c/", false)) << "a trailing separator names the folder";
  EXPECT_FALSE(CreateFolders(tmp_ / "a/b/c", false)) << "an existing folder is not created";
  EXPECT_TRUE(CreateFolders(tmp_ / "f/g/file.txt", true) && fs::is_directory(tmp_ / "f/g"));
  EXPECT_FALSE(fs::exists(tmp_ / "f/g/file.txt"));
  test::WriteFile(tmp_ / "blocker", "x");
  EXPECT_FALSE(CreateFolders(tmp_ / "blocker/x/file.txt", true)) << "the folder cannot exist";
  EXPECT_TRUE(CreateFolders("nosep", false) && !fs::exists("nosep")) << "nothing made without a separator";
}

// A pattern's fixed extension must match the whole extension, ignoring case; recursive listings
// go depth first and never through a link. Only ENOENT is missing: a dangling link and a path
// below a file are present; a link to a folder is one.
TEST(FileUtilsTest, ListingsAndExistence) {
  test::TempFolder tmp_;
  for (const char* name : {"a.xml", "B.XML", "a.xmlx", "README", "c.xml.b", "one/b.Xml", "one/two/c.xml"}) {
    test::WriteFile(tmp_ / name, "");
  }
  fs::create_directory(tmp_ / "sub.xml");
  fs::create_symlink("..", tmp_ / "one/loop");
  fs::create_symlink("nowhere", tmp_ / "one/dangling");
  EXPECT_TRUE(IsFolder(tmp_.Path() + "//one/loop/") && IsFolder("/"));
  EXPECT_FALSE(IsFolder(tmp_ / "a.xml") || IsFolder(tmp_ / "missing") || IsFolder(tmp_ / "one/dangling"));
  const std::pair<const char*, bool> missing[] = {
      {"one/dangling", false}, {"one/loop", false}, {"a.xml/below-a-file", false},
      {"missing", true},       {"one/b.xml", true}};
  for (const auto& [name, expected] : missing) EXPECT_EQ(PathIsMissing(tmp_ / name), expected) << name;
  const struct {
    const char* pattern;
    Strings files, folders;
  } cases[] = {
      {"*.xml", {"B.XML", "a.xml"}, {"sub.xml"}},
      {"*.*", {"B.XML", "README", "a.xml", "a.xmlx", "c.xml.b"}, {"one", "sub.xml"}},
      {"readme.*", {"README"}, {}},
      {"*.none", {}, {}}, {"missing/*", {}, {}},
  };
  for (const auto& c : cases) {
    Strings files, folders;
    EXPECT_EQ(ListFolder(tmp_ / c.pattern, &files, &folders), !c.files.empty()) << c.pattern;
    EXPECT_EQ(files, c.files) << c.pattern;
    EXPECT_EQ(folders, c.folders) << c.pattern;
  }
  Strings paths{"kept"};
  EXPECT_EQ(ListFiles(tmp_.Path() + "/", "*.xml", paths, kListRecursive), 4);
  EXPECT_EQ(paths, (Strings{"kept", tmp_ / "B.XML", tmp_ / "a.xml", tmp_ / "one/b.Xml", tmp_ / "one/two/c.xml"}));
  paths.clear();
  EXPECT_EQ(ListFiles(tmp_.Path(), "*", paths, kListRecursive | kListFolders), 3);
  EXPECT_EQ(paths, (Strings{tmp_ / "one", tmp_ / "sub.xml", tmp_ / "one/two"}));
}

TEST(TempFileTest, ExtensionKeepsATmpTwinUntilDestruction) {
  std::string path, reserved;
  {
    Common::CTempFile temp("xml", "QXRest", true);
    path = temp.Path();
    reserved = temp.ReservedName();
    EXPECT_EQ(fs::path(path).filename().string().substr(0, 3), "qxr");
    EXPECT_EQ(reserved.substr(0, reserved.size() - 4) + ".xml", path);
    EXPECT_TRUE(reserved.ends_with(".tmp") && fs::exists(reserved) && !fs::exists(path));
    test::WriteFile(path, "x");
  }
  EXPECT_FALSE(fs::exists(path) || fs::exists(reserved));
  {
    Common::CTempFile plain("", "cmd", false);
    EXPECT_TRUE(plain.ReservedName().empty() && fs::status(plain.Path()).permissions() == fs::perms(0600));
    path = plain.Path();
  }
  EXPECT_TRUE(fs::remove(path)) << "kept without the delete flag";
}

// Grants add an entry and a default entry (for what is made later), widen an account's entry but
// never narrow it, and drop other accounts' entries unless told to keep them.
TEST(FileUtilsTest, GrantFolderAccess) {
  test::TempFolder tmp_;
  const std::string folder = tmp_.Path();
  const struct {
    const char *account, *domain;
    std::uint32_t mask;
    bool keep;
    Strings present;
  } grants[] = {
      {"daemon", "", 0x80000000 /* generic read */, true, {"user:daemon:r-x", "default:user:daemon:r-x"}},
      {"nobody", "SOME DOMAIN", kAccessAllRights, true, {"user:daemon:r-x", "default:user:nobody:rwx"}},
      {"daemon", "", 0x2 /* write data */, true, {"user:daemon:rwx", "user:nobody:rwx", "mask::rwx"}},
      {"nobody", "", 0x1 /* read data */, false, {"user:nobody:rwx", "default:user:nobody:rwx"}},
  };
  for (const auto& grant : grants) {
    ASSERT_TRUE(GrantFolderAccess(folder, grant.account, grant.domain, grant.mask, grant.keep)) << grant.account;
    std::string list;
    RunProcess("getfacl -p --omit-header " + QuoteArgument(folder), list);
    for (const std::string& entry : grant.present) EXPECT_NE(list.find("\n" + entry + "\n"), std::string::npos) << list;
    EXPECT_EQ(list.find("daemon") == std::string::npos, !grant.keep) << list;
  }
  EXPECT_FALSE(GrantFolderAccess(folder, "no-such-account-here", "", kAccessAllRights, true));
  EXPECT_FALSE(GrantFolderAccess(tmp_ / "missing", "nobody", "", kAccessAllRights, true));
}

}  // namespace
}  // namespace brimora
