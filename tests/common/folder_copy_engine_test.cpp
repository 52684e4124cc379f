#include "common/folder_copy_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "common/tree_walk.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// Every file below `folder`, as relative paths, sorted.
std::vector<std::string> Tree(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    paths.push_back(fs::relative(entry.path(), folder).string() + (entry.is_directory() ? "/" : ""));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(FolderCopyEngine, NextCopyNameSeriesAlwaysMovesOn) {
  const std::pair<std::string, std::string> cases[] = {
      {"/d/a.txt", "/d/Copy of a.txt"},
      {"/d/Copy of a.txt", "/d/Copy (1) of a.txt"},
      {"/d/Copy (1) of a.txt", "/d/Copy (2) of a.txt"},
      {"/d/Copy (7) of x.dat", "/d/Copy (8) of x.dat"},
      {"/d/Copy (9) of x", "/d/Copy (10) of x"},
      {"/d/README", "/d/Copy of README"},
      {"/d.e/f", "/d.e/Copy of f"},
      {"rel", "Copy of rel"},
      {"/d/Copy (x) of y.z", "/d/Copy (1) of y.z"},
      // Numbers beyond any integer type still grow: the next name is never the same name.
      {"/d/Copy (2147483647) of x.dat", "/d/Copy (2147483648) of x.dat"},
      {"/d/Copy (99999999999999999999) of x", "/d/Copy (100000000000000000000) of x"},
      {"/d/Copy (007) of x", "/d/Copy (8) of x"},
  };
  for (const auto& [path, next] : cases) {
    EXPECT_EQ(CFolderCopyEngine::NextCopyName(path), next) << path;
  }
  // Odd names settle into the numbered series and never repeat a name.
  for (const char* start : {"Copy (", "Copy )x(", "a Copy (3", "Copy () of", ")Copy (", "Copy"}) {
    std::set<std::string> seen;
    std::string name = start;
    for (int i = 0; i < 50; ++i) {
      EXPECT_TRUE(seen.insert(name).second) << start << " repeats " << name;
      name = CFolderCopyEngine::NextCopyName(name);
    }
  }
}

TEST(FolderCopyEngine, ATakenNameAtTheEndOfTheIntegersStillGetsAFreeName) {
  test::TempFolder root;
  WriteFile(root / "src/Data/Copy (2147483647) of x.dat", "new");
  WriteFile(root / "dst/Data/Copy (2147483647) of x.dat", "old");
  CFolderCopyEngine engine;
  ASSERT_TRUE(engine.Copy(root / "src/Data", root / "dst")) << engine.LastErrorText();
  EXPECT_EQ(ReadFile(root / "dst/Data/Copy (2147483647) of x.dat"), "old");
  EXPECT_EQ(ReadFile(root / "dst/Data/Copy (2147483648) of x.dat"), "new");
}

TEST(FolderCopyEngine, GivesUpWhenNoNameIsFree) {
  test::TempFolder root;
  WriteFile(root / "src/Data/x", "new");
  fs::create_directories(root / "dst/Data");
  std::string name = "x";
  for (int i = 0; i < kMaxCopyNameTries; ++i) {
    std::ofstream(root / ("dst/Data/" + name));
    name = NextCopyName(name);
  }
  CFolderCopyEngine engine;
  EXPECT_FALSE(engine.Copy(root / "src/Data", root / "dst"));
  EXPECT_EQ(engine.LastErrorText(),
            "\"" + root / "dst/Data/x" + "\" has no free name left in the \"Copy of\" series after 10000 tries");
  EXPECT_EQ(engine.LastErrorCode(), static_cast<std::uint32_t>(EEXIST));
  EXPECT_FALSE(fs::exists(root / ("dst/Data/" + name))) << "the last name tried stays free";
}

TEST(FolderCopyEngine, FolderLandsUnderItsOwnNameWithContentsModesAndTimes) {
  test::TempFolder root;
  WriteFile(root / "X/Repository/a.txt", "alpha");
  WriteFile(root / "X/Repository/sub/deep/b.bin", std::string("\0\1\2", 3));
  chmod((root / "X/Repository/a.txt").c_str(), 0640);
  const struct timespec times[2] = {{1000, 5}, {123456789, 987654321}};
  utimensat(AT_FDCWD, (root / "X/Repository/a.txt").c_str(), times, 0);
  fs::create_directories(root / "Y");
  fs::create_directories(root / "X/Repository/empty");
  chmod((root / "X/Repository").c_str(), 0750);
  utimensat(AT_FDCWD, (root / "X/Repository").c_str(), times, 0);

  CFolderCopyEngine engine;
  ASSERT_TRUE(engine.Copy(root / "X/Repository", root / "Y")) << engine.LastErrorText();
  EXPECT_EQ(Tree(root / "Y"), (std::vector<std::string>{"Repository/", "Repository/a.txt", "Repository/empty/",
                                                       "Repository/sub/", "Repository/sub/deep/",
                                                       "Repository/sub/deep/b.bin"}));
  EXPECT_EQ(ReadFile(root / "Y/Repository/sub/deep/b.bin"), std::string("\0\1\2", 3));
  struct stat copied {};
  ASSERT_EQ(stat((root / "Y/Repository/a.txt").c_str(), &copied), 0);
  EXPECT_EQ(copied.st_mode & 07777, 0640u);
  EXPECT_EQ(copied.st_mtim.tv_sec, 123456789);
  EXPECT_EQ(copied.st_mtim.tv_nsec, 987654321);
  ASSERT_EQ(stat((root / "Y/Repository").c_str(), &copied), 0);
  EXPECT_EQ(copied.st_mode & 07777, 0750u) << "the folder the engine made has its source's mode and times";
  EXPECT_EQ(copied.st_mtim.tv_sec, 123456789);
  EXPECT_EQ(engine.LastErrorText(), "No error");
}

TEST(FolderCopyEngine, TakenNamesGetTheCopySeriesAndNothingIsReplaced) {
  test::TempFolder root;
  WriteFile(root / "src/Data/a.txt", "new");
  WriteFile(root / "src/Data/sub/b.txt", "new b");
  WriteFile(root / "dst/Data/a.txt", "old");
  for (int run = 0; run < 3; ++run) {
    CFolderCopyEngine engine;
    ASSERT_TRUE(engine.Copy(root / "src/Data", root / "dst")) << engine.LastErrorText();
  }
  EXPECT_EQ(ReadFile(root / "dst/Data/a.txt"), "old");
  EXPECT_EQ(ReadFile(root / "dst/Data/Copy of a.txt"), "new");
  EXPECT_EQ(ReadFile(root / "dst/Data/Copy (1) of a.txt"), "new");
  EXPECT_EQ(ReadFile(root / "dst/Data/Copy (2) of a.txt"), "new");
  EXPECT_EQ(ReadFile(root / "dst/Data/sub/b.txt"), "new b");
  EXPECT_EQ(ReadFile(root / "dst/Data/sub/Copy (1) of b.txt"), "new b");

  // A file copied onto a file path that is taken gets the next name of the series.
  WriteFile(root / "dst/Copy (7) of x.dat", "seven");
  CFolderCopyEngine engine;
  ASSERT_TRUE(engine.Copy(root / "src/Data/a.txt", root / "dst/Copy (7) of x.dat"));
  EXPECT_EQ(ReadFile(root / "dst/Copy (7) of x.dat"), "seven");
  EXPECT_EQ(ReadFile(root / "dst/Copy (8) of x.dat"), "new");
}

// A destination inside the source, however it is spelled, is left out of the copy; everything
// else of the source is copied once.
TEST(FolderCopyEngine, CopyIntoItsOwnSubfolderLeavesThatFolderOut) {
  test::TempFolder root;
  WriteFile(root / "A/top.txt", "t");
  WriteFile(root / "A/C/c.txt", "c");
  WriteFile(root / "A/D/deep/d.txt", "d");
  fs::create_directories(root / "A/B");
  fs::create_directory_symlink(root / "A/B", root / "toB");
  const std::vector<std::string> expected = {"A/", "A/C/", "A/C/c.txt", "A/D/", "A/D/deep/", "A/D/deep/d.txt",
                                             "A/top.txt"};
  for (const std::string& destination : {root / "A/B", root / "A/B/", root / "A/C/../B", root / "toB"}) {
    SCOPED_TRACE(destination);
    CFolderCopyEngine engine;
    ASSERT_TRUE(engine.Copy(root / "A", destination)) << engine.LastErrorText();
    EXPECT_EQ(Tree(root / "A/B"), expected);
    fs::remove_all(root / "A/B/A");
  }
  // The folders named to LeaveOut are left out too, wherever they lie in the source.
  CFolderCopyEngine engine;
  platform::FileInfo info;
  ASSERT_EQ(platform::GetFileInfo(root / "A/D", true, &info), 0);
  engine.LeaveOut(info.id);
  fs::create_directories(root / "out");
  ASSERT_TRUE(engine.Copy(root / "A", root / "out"));
  EXPECT_FALSE(fs::exists(root / "out/A/D"));
  EXPECT_TRUE(fs::exists(root / "out/A/C/c.txt"));
}

TEST(FolderCopyEngine, NeverWritesThroughALinkInTheDestination) {
  test::TempFolder root;
  WriteFile(root / "outside/x.txt", "outside");
  WriteFile(root / "S/x.txt", "source");
  WriteFile(root / "S/sub/x.txt", "source sub");
  fs::create_directories(root / "D/S");
  fs::create_directory_symlink(root / "outside", root / "D/S/sub");
  CFolderCopyEngine engine;
  EXPECT_FALSE(engine.Copy(root / "S", root / "D"));
  EXPECT_EQ(engine.LastErrorText(),
            "\"" + root / "D/S/sub" + "\" is a symbolic link where a folder is needed; it is not followed");
  EXPECT_EQ(Tree(root / "outside"), std::vector<std::string>{"x.txt"}) << "no \"Copy of x.txt\" outside";

  // The folder the copy lands in may not be a link either.
  fs::remove_all(root / "D/S");
  fs::create_directory_symlink(root / "outside", root / "D/S");
  CFolderCopyEngine second;
  EXPECT_FALSE(second.Copy(root / "S", root / "D"));
  EXPECT_EQ(second.LastErrorText(),
            "\"" + root / "D/S" + "\" is a symbolic link where a folder is needed; it is not followed");
  EXPECT_EQ(second.LastErrorCode(), static_cast<std::uint32_t>(ELOOP));
  EXPECT_EQ(Tree(root / "outside"), std::vector<std::string>{"x.txt"});
}

TEST(FolderCopyEngine, AFolderNamedByDotsLandsUnderItsRealName) {
  test::TempFolder root;
  WriteFile(root / "SubversionRepository/db/current", "5");
  fs::create_directories(root / "backup");
  CFolderCopyEngine engine;
  ASSERT_TRUE(engine.Copy(root / "SubversionRepository/db/..", root / "backup")) << engine.LastErrorText();
  EXPECT_EQ(ReadFile(root / "backup/SubversionRepository/db/current"), "5");
  EXPECT_EQ(Tree(root.Path()), (std::vector<std::string>{"SubversionRepository/", "SubversionRepository/db/",
                                                         "SubversionRepository/db/current", "backup/",
                                                         "backup/SubversionRepository/",
                                                         "backup/SubversionRepository/db/",
                                                         "backup/SubversionRepository/db/current"}));
  CFolderCopyEngine dot;
  ASSERT_TRUE(dot.Copy(root / "SubversionRepository/db/.", root / "backup/SubversionRepository"));
  EXPECT_EQ(ReadFile(root / "backup/SubversionRepository/db/Copy of current"), "5");
}

TEST(FolderCopyEngine, SiblingWhoseNameStartsLikeTheSourceIsCopiedWhole) {
  test::TempFolder root;
  WriteFile(root / "Repository/a/b/c/d.txt", "d");
  fs::create_directories(root / "Repository-backups/b1");
  CFolderCopyEngine engine;
  ASSERT_TRUE(engine.Copy(root / "Repository", root / "Repository-backups/b1"));
  EXPECT_EQ(ReadFile(root / "Repository-backups/b1/Repository/a/b/c/d.txt"), "d");
}

TEST(FolderCopyEngine, SamePlaceAndErrors) {
  test::TempFolder root;
  WriteFile(root / "X/Data/a.txt", "a");
  WriteFile(root / "file.txt", "f");
  {
    CFolderCopyEngine engine;
    EXPECT_TRUE(engine.Copy(root / "X/Data", root / "X"));
    EXPECT_EQ(Tree(root / "X"), (std::vector<std::string>{"Data/", "Data/a.txt"}));
  }
  struct Case {
    std::string source, destination, text;
  };
  const Case cases[] = {
      {root / "missing", root / "X", root / "missing not found"},
      {root / "X/Data", root / "missing", root / "missing not found"},
      {root / "X/Data", root / "file.txt", "Wrong operation"},
  };
  for (const Case& c : cases) {
    CFolderCopyEngine engine;
    EXPECT_FALSE(engine.Copy(c.source, c.destination)) << c.source << " -> " << c.destination;
    EXPECT_EQ(engine.LastErrorText(), c.text);
    EXPECT_EQ(engine.LastErrorCode(), 0u);
  }
}

TEST(FolderCopyEngine, LinksAreCopiedAsLinksAndSpecialFilesDoNotBlock) {
  test::TempFolder root;
  WriteFile(root / "S/f.txt", "f");
  fs::create_directory_symlink("..", root / "S/up");            // a link to the parent: no loop
  fs::create_symlink("/nonexistent/target", root / "S/dangling");
  ASSERT_EQ(mkfifo((root / "S/pipe").c_str(), 0600), 0);
  fs::create_directories(root / "D");
  CFolderCopyEngine engine;
  ASSERT_TRUE(engine.Copy(root / "S", root / "D")) << engine.LastErrorText();
  EXPECT_TRUE(fs::is_symlink(root / "D/S/up"));
  EXPECT_EQ(fs::read_symlink(root / "D/S/up"), "..");
  EXPECT_EQ(fs::read_symlink(root / "D/S/dangling"), "/nonexistent/target");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "D/S/pipe")));
  // Named on their own: the FIFO is skipped, the dangling link copied as a link.
  ASSERT_TRUE(engine.Copy(root / "S/pipe", root / "D"));
  ASSERT_TRUE(engine.Copy(root / "S/dangling", root / "D"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / "D/pipe")));
  EXPECT_EQ(fs::read_symlink(root / "D/dangling"), "/nonexistent/target");
}

TEST(FolderCopyEngine, DeleteClearsReadOnlyAndNeverFollowsLinks) {
  test::TempFolder root;
  WriteFile(root / "outside/keep.txt", "keep");
  WriteFile(root / "tree/ro.txt", "r");
  WriteFile(root / "tree/sub/x.txt", "x");
  chmod((root / "tree/ro.txt").c_str(), 0444);
  fs::create_directory_symlink(root / "outside", root / "tree/sub/link");
  CFolderCopyEngine engine;
  EXPECT_TRUE(engine.Delete(root / "tree")) << engine.LastErrorText();
  EXPECT_FALSE(fs::exists(root / "tree"));
  EXPECT_EQ(ReadFile(root / "outside/keep.txt"), "keep");

  CFolderCopyEngine absent;
  EXPECT_FALSE(absent.Delete(root / "tree"));
  EXPECT_EQ(absent.LastErrorText(), "No such file or directory");
  EXPECT_NE(absent.LastErrorCode(), 0u);
}

// An unprivileged run: a read-only folder is opened up before it is emptied, also one that
// cannot even be listed, and links are removed, never followed.
TEST(FolderCopyEngine, DeleteOpensUpReadOnlyFolders) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  test::TempFolder root;
  WriteFile(root / "outside/keep.txt", "keep");
  WriteFile(root / "tree/ro/a.txt", "a");
  WriteFile(root / "tree/closed/inner/b.txt", "b");
  fs::create_directory_symlink(root / "outside", root / "tree/ro/link");
  test::GiveToUnprivileged(root.Path());
  chmod((root / "tree/ro").c_str(), 0555);
  chmod((root / "tree/closed/inner").c_str(), 0500);
  chmod((root / "tree/closed").c_str(), 0);
  chmod((root / "tree").c_str(), 0555);
  // A file whose permission cannot be changed stays, with its folders, and fails nothing; a
  // folder that cannot be listed fails the delete.
  WriteFile(root / "kept/sub/root.txt", "root's");
  fs::create_directories(root / "locked/inner");
  test::GiveToUnprivileged(root / "kept");
  test::GiveToUnprivileged(root / "locked");
  chown((root / "kept/sub/root.txt").c_str(), 0, 0);
  chmod((root / "kept/sub/root.txt").c_str(), 0444);
  chown((root / "locked/inner").c_str(), 0, 0);
  chmod((root / "locked/inner").c_str(), 0311);
  const int code = test::RunForkedUnprivileged([&] {
    CFolderCopyEngine engine, kept, locked;
    if (!engine.Delete(root / "tree")) return 1;
    if (!kept.Delete(root / "kept") || !kept.UndeletableFileMet()) return 2;
    return locked.Delete(root / "locked") ? 3 : 0;
  });
  ASSERT_NE(code, 99) << "could not switch accounts";
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(fs::exists(root / "tree"));
  EXPECT_EQ(ReadFile(root / "outside/keep.txt"), "keep");
  EXPECT_EQ(ReadFile(root / "kept/sub/root.txt"), "root's");
}

}  // namespace
}  // namespace brimora
