#include "common/folder_copy_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST(FolderCopyEngine, NextCopyNameSeries) {
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
  };
  for (const auto& [path, next] : cases) {
    EXPECT_EQ(CFolderCopyEngine::NextCopyName(path), next) << path;
  }
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

TEST(FolderCopyEngine, CopyIntoItsOwnSubfolderStopsAtTheBudget) {
  test::TempFolder root;
  WriteFile(root / "A/top.txt", "t");
  WriteFile(root / "A/C/c.txt", "c");
  WriteFile(root / "A/D/d.txt", "d");
  fs::create_directories(root / "A/B");
  CFolderCopyEngine engine;
  EXPECT_FALSE(engine.Copy(root / "A", root / "A/B"));
  EXPECT_EQ(engine.LastErrorCode(), 0u);
  EXPECT_THAT(engine.LastErrorText(), ::testing::HasSubstr("lies inside the folder it copies"));
  // The files of A itself land in A/B/A; of its subfolders only one is entered.
  EXPECT_EQ(ReadFile(root / "A/B/A/top.txt"), "t");
  int entered = 0;
  for (const char* sub : {"B", "C", "D"}) entered += fs::exists(root / ("A/B/A/" + std::string(sub)));
  EXPECT_EQ(entered, 1);
  EXPECT_FALSE(fs::exists(root / "A/B/A/B/A/B"));
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

}  // namespace
}  // namespace brimora
