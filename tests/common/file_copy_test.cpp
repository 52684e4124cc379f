// Copies and deletes on real files: the single-file copy, CopyFolder and the folder copy engine.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "common/file_utils.h"
#include "common/format.h"
#include "common/folder_copy_engine.h"
#include "common/run_process.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kLinkConflict = " is a symbolic link where a folder is needed; it is not followed";

// Trees are written and read back as lines: "name=text" a file holding the text, "name/" a
// folder, "name->target" a symbolic link, "name|" a FIFO (or anything else).
void MakeTree(const std::string& root, const Lines& entries) {
  for (const std::string& entry : entries) {
    const std::size_t arrow = entry.find("->"), equals = entry.find('='), end = std::min(arrow, equals);
    const bool fifo = end == std::string::npos && entry.back() == '|';
    const fs::path path = root + "/" + entry.substr(0, fifo ? entry.size() - 1 : end);
    fs::create_directories(path.parent_path());
    if (arrow < equals) fs::create_symlink(entry.substr(arrow + 2), path);
    if (equals < arrow) test::WriteFile(path, entry.substr(equals + 1));
    if (end == std::string::npos) fifo ? (void)mkfifo(path.c_str(), 0600) : (void)fs::create_directories(path);
  }
}

// Everything below `root`, sorted; links are listed, never followed.
Lines Listing(const std::string& root) {
  Lines lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().string().substr(root.size() + (root.back() == '/' ? 0 : 1));
    const fs::file_status status = entry.symlink_status();
    lines.push_back(fs::is_symlink(status)        ? name + "->" + fs::read_symlink(entry.path()).string()
                    : fs::is_directory(status)    ? name + "/"
                    : fs::is_regular_file(status) ? name + "=" + test::ReadFile(entry.path())
                                                  : name + "|");
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

void SetModes(const fs::path& root, std::initializer_list<std::pair<const char*, int>> modes) {
  for (const auto& [path, mode] : modes) ASSERT_EQ(chmod((root / path).c_str(), mode), 0) << path;
}

// Permission bits, modification time, owner and access lists (their sizes): what a copy must keep.
std::string Attributes(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  std::string lists;
  for (const char* list : {"system.posix_acl_access", "system.posix_acl_default"}) {
    lists += " " + std::to_string(lgetxattr(path.c_str(), list, nullptr, 0));
  }
  return Format("%o %d.%09d %d:%d", info.st_mode & 07777, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_uid,
                info.st_gid) + lists;
}

class FileCopyTest : public testing::Test {
 protected:
  void TearDown() override {
    if (!mount_.empty()) umount2(mount_.c_str(), MNT_DETACH);
  }
  // Copies with a fresh engine: "" on success, else its error text; code_ is its code (-1: success).
  std::string EngineCopy(const std::string& source, const std::string& destination) {
    CFolderCopyEngine engine;
    const bool copied = engine.Copy(dir_ / source, dir_ / destination);
    code_ = copied ? -1 : static_cast<int>(engine.LastErrorCode());
    return copied ? "" : engine.LastErrorText();
  }

  test::TempFolder temp_;
  const fs::path dir_{temp_.Path()};
  std::string mount_;
  int code_ = 0;
};
using FolderCopyEngine = FileCopyTest;

// Every copy keeps mode, access lists, modification time and (as root) owner of its files and of
// the folders it makes.
TEST_F(FileCopyTest, CopiesKeepModesTimesAndOwners) {
  std::string contents(300000, '\0');
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 7);
  test::WriteFile(dir_ / "tree/sub/a.bin", contents);
  test::WriteFile(dir_ / "tree/sub/b.txt", "b");  // no access list: its mode alone carries the bits
  const struct timespec times[2] = {{1000000000, 111111111}, {1234567890, 123456789}};
  SetModes(dir_, {{"tree/sub/a.bin", 0640}, {"tree/sub/b.txt", 0604}, {"tree/sub", 0750}, {"tree", 0555}});
  const std::string acl = "setfacl -m u:65534:r " + (dir_ / "tree/sub/a.bin").string() + " && setfacl -m u:65534:rx -d -m " +
                          "u:65534:rwx,g:65534:rx " + (dir_ / "tree/sub").string();
  ASSERT_EQ(std::system(acl.c_str()), 0) << acl;
  for (const char* path : {"tree/sub/a.bin", "tree/sub/b.txt", "tree/sub", "tree"}) {  // innermost first: filling a folder changes it
    ASSERT_TRUE(geteuid() != 0 || lchown((dir_ / path).c_str(), 65534, 65534) == 0);
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / path).c_str(), times, 0), 0);
  }
  ASSERT_EQ(platform::CopyOneFile(dir_ / "tree/sub/a.bin", dir_ / "a.bin", true), 0);
  EXPECT_EQ(platform::CopyOneFile(dir_ / "tree/sub/a.bin", dir_ / "a.bin", true), EEXIST);
  EXPECT_EQ(Attributes(dir_ / "a.bin"), Attributes(dir_ / "tree/sub/a.bin"));
  ASSERT_TRUE(CopyFolder(dir_ / "tree", dir_ / "by-path/tree"));
  fs::create_directory(dir_ / "by-engine");
  ASSERT_EQ(EngineCopy("tree", "by-engine"), "");
  for (const std::string copy : {"by-path/", "by-engine/"}) {
    EXPECT_EQ(Listing(dir_ / copy), (Lines{"tree/", "tree/sub/", "tree/sub/a.bin=" + contents, "tree/sub/b.txt=b"})) << copy;
    for (const char* path : {"tree", "tree/sub", "tree/sub/a.bin", "tree/sub/b.txt"}) {
      EXPECT_EQ(Attributes(dir_ / (copy + path)), Attributes(dir_ / path)) << copy << path;
    }
  }
}

// Awkward names, links inside and out of the tree and a FIFO: copied into a destination that does
// not exist yet, merged into one that does (replacing a link, never writing through it), and
// deleted without following a link.
TEST_F(FileCopyTest, FolderRoundTripKeepsNamesAndLinksAndSkipsFifos) {
  Lines source = {"sub/up->..", "sub/loop->" + (dir_ / "source").string(), "out->" + (dir_ / "outside").string(), "p|"};
  for (const std::string name : {"with blank", "quote\"d", "100%", "\xce\xa9\xce\xbc", "bad\xff", "back\\slash",
                                 ".hidden"}) {
    source.insert(source.end(), {name + "=file " + name, "sub/deeper/" + name + "=" + name});
  }
  MakeTree(dir_ / "source", source);
  MakeTree(dir_, {"outside/precious=x"});
  const fs::path copy = dir_ / "a/b/copy";
  EXPECT_TRUE(CopyFolder(dir_ / "missing", copy) && fs::is_empty(copy)) << "a missing source makes an empty copy";
  MakeTree(copy, {"other=kept", "with blank->../../../outside/precious"});  // replaced, not written through
  ASSERT_TRUE(CopyFolder(dir_ / "source", copy));
  Lines expected = Listing(dir_ / "source");
  std::erase(expected, "p|");
  expected.insert(std::upper_bound(expected.begin(), expected.end(), "other=kept"), "other=kept");
  EXPECT_EQ(Listing(copy), expected);

  MakeTree(dir_, {"link->a/b"});
  EXPECT_TRUE(DeleteFolder(dir_ / "link")) << "only the link goes";
  EXPECT_TRUE(DeleteFolder(copy));
  EXPECT_TRUE(DeleteFolder(dir_ / "source"));
  EXPECT_EQ(Listing(dir_), (Lines{"a/", "a/b/", "outside/", "outside/precious=x"}));
  // Paths too short to delete, counted in characters: "/" and two letters of two bytes each are three.
  for (const char* path : {"", "/ab", "/\xc3\xa4\xc3\xb6"}) EXPECT_FALSE(DeleteFolder(path)) << path;
}

// What the walk cannot do fails the copy with place and reason; nothing is written through a link.
TEST_F(FileCopyTest, WhatTheWalkCannotDoFailsTheCopy) {
  const struct {
    std::string source, destination;
    int error;
    std::string description;
  } rows[] = {
      {"a.txt=a", "a.txt/", EISDIR, "a.txt\": Is a directory"},
      {"a/f=x", "a=file", ENOTDIR, "a\" is in the place of a folder but is not one"},
      {"icons/f=x", "icons->../outside", ELOOP, "icons\"" + kLinkConflict},
  };
  for (const auto& row : rows) {
    test::TempFolder dir;
    MakeTree(dir.Path(), {"src/" + row.source, "dst/" + row.destination, "outside/f=outside"});
    TreeFailure failure;
    EXPECT_FALSE(CopyFolder(dir / "src", dir / "dst", &failure)) << row.source;
    EXPECT_EQ(failure.code, row.error);
    EXPECT_EQ(failure.Description(), "\"" + dir / "dst/" + row.description);
    EXPECT_EQ(Listing(dir / "outside"), Lines{"f=outside"});
  }
  MakeTree(dir_, {"looped/f.txt=f", "looped/inner/again/"});
  mount_ = dir_ / "looped/inner/again";
  if (geteuid() != 0 || mount((dir_ / "looped").c_str(), mount_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "no bind mount here";
  }
  TreeFailure failure;
  EXPECT_FALSE(CopyFolder(dir_ / "looped", dir_ / "loop-copy", &failure));
  EXPECT_EQ(failure.code, ELOOP);
  EXPECT_EQ(failure.Description(), "\"" + mount_ + "\" is the same folder as one that contains it; it is not entered");
}

// A destination inside the source, however it is spelled, and the folders named to be left out
// are never entered; a sibling whose name starts like the source is not inside it.
TEST_F(FileCopyTest, FoldersTheCopyWritesIntoAreLeftOut) {
  MakeTree(dir_, {"A/top=t", "A/old/b=b", "A/bk/", "to-bk->A/bk", "A-b/"});
  for (const char* destination : {"A/bk/", "A/old/../bk", "to-bk"}) {
    ASSERT_TRUE(CopyFolder(dir_ / "A", dir_ / destination)) << destination;
    EXPECT_EQ(Listing(dir_ / "A/bk"), (Lines{"old/", "old/b=b", "top=t"})) << destination;
    fs::remove_all(dir_ / "A/bk/old");
  }
  platform::FileInfo old;
  ASSERT_EQ(platform::GetFileInfo(dir_ / "A/old", true, &old), 0);
  ASSERT_TRUE(CopyFolder(dir_ / "A", dir_ / "elsewhere", nullptr, {old.id}));
  EXPECT_EQ(Listing(dir_ / "elsewhere"), (Lines{"bk/", "bk/top=t", "top=t"}));
  CFolderCopyEngine engine;
  engine.LeaveOut(old.id);
  ASSERT_TRUE(engine.Copy(dir_ / "A", dir_ / "A-b"));
  EXPECT_EQ(Listing(dir_ / "A-b"), (Lines{"A/", "A/bk/", "A/bk/top=t", "A/top=t"}));
  ASSERT_EQ(EngineCopy("A", "A/bk"), "");
  EXPECT_EQ(Listing(dir_ / "A/bk"), (Lines{"A/", "A/old/", "A/old/b=b", "A/top=t", "top=t"}));
}

// Unprivileged: what cannot be read or entered fails the copy or listing; read-only folders of a
// first source do not keep a second one out, and keep their mode.
TEST_F(FileCopyTest, UnprivilegedCopiesAndListings) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  MakeTree(dir_, {"secret=x", "closed/inner/", "listed/sub/x=x", "out/first/icons/a=a", "out/second/icons/b=b"});
  test::GiveToUnprivileged(dir_ / "out");
  SetModes(dir_, {{"", 0777}, {"secret", 0600}, {"closed", 0700}, {"listed", 0444}, {"out/first/icons", 0555},
                  {"out/first", 0555}});
  const auto unprivileged = [&] {
    int listError = 0;
    TreeFailure failure;
    if (platform::CopyOneFile(dir_ / "secret", dir_ / "out/secret", false) != EACCES) return 1;
    if (CopyFolder(dir_ / "closed", dir_ / "out/closed", &failure) || failure.code != EACCES) return 2;
    failure = {};  // a folder that cannot even be reached is a failure, not a missing source
    if (CopyFolder(dir_ / "closed/inner", dir_ / "out/closed", &failure) || failure.code != EACCES) return 3;
    if (CopyFolder(dir_ / "listed", dir_ / "out/l", &failure) || failure.path != dir_ / "listed/sub") return 4;
    if (ListFolder(dir_ / "closed/*", nullptr, nullptr, &listError) || listError != EACCES) return 5;
    if (!CopyFolder(dir_ / "out/first", dir_ / "out/merged")) return 6;
    return CopyFolder(dir_ / "out/second", dir_ / "out/merged") ? 0 : 7;
  };
  EXPECT_EQ(test::RunForkedUnprivileged(unprivileged), 0);
  EXPECT_EQ(Listing(dir_ / "out/merged"), (Lines{"icons/", "icons/a=a", "icons/b=b"}));
  EXPECT_EQ(fs::status(dir_ / "out/merged").permissions(), fs::perms(0555));
  EXPECT_EQ(fs::status(dir_ / "out/merged/icons").permissions(), fs::perms(0555));
}

// Holes stay holes: a large sparse file must not grow to its full size in the copy.
TEST_F(FileCopyTest, SparseFilesKeepTheirHoles) {
  const fs::path sparse = dir_ / "sparse.bin", copy = dir_ / "copy.bin";
  std::ofstream(sparse).seekp(1 << 29) << std::string(4096, 'd');
  fs::resize_file(sparse, 1 << 30);
  ASSERT_EQ(platform::CopyOneFile(sparse, copy, true), 0);
  struct stat info {};
  ASSERT_EQ(stat(copy.c_str(), &info), 0);
  EXPECT_TRUE(info.st_size == 1 << 30 && info.st_blocks * 512 < 1 << 20) << info.st_size << ", " << info.st_blocks;
  std::string read(4098, '\0');
  std::ifstream(copy).seekg((1 << 29) - 1).read(read.data(), 4098);
  EXPECT_EQ(read, '\0' + std::string(4096, 'd') + '\0');
}

// A copy killed before it is named leaves nothing under a name of its own.
TEST_F(FileCopyTest, AKilledCopyLeavesNoFileUnderItsName) {
  MakeTree(dir_, {"from/big.bin=" + std::string(1 << 20, 'x'), "to/"});
  const pid_t pid = fork();
  if (pid == 0) {
    platform::Folder from, to;
    platform::PendingFile pending;
    bool skipped = false;
    if (from.Open(dir_ / "from", true) == 0 && to.Open(dir_ / "to", true) == 0 &&
        platform::CopyToPending(from, "big.bin", false, to, &pending, &skipped, platform::Ownership::kSource, "") ==
            0) {
      raise(SIGKILL);
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_TRUE(waitpid(pid, &status, 0) == pid && WIFSIGNALED(status)) << "the copy did not get as far";
  for (const std::string& line : Listing(dir_ / "to")) EXPECT_TRUE(line.starts_with(".brimora-partial-")) << line;
}

// A small file system that does not record entry kinds in its folders (ext4 without "filetype"):
// each entry is examined, a link stays a link, and one that cannot be examined fails the copy. A
// copy into it that runs out of space fails with ENOSPC, leaving no partial file and the old one.
TEST_F(FileCopyTest, SmallFileSystemWithoutEntryKinds) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  const std::string image = dir_ / "image", mnt = dir_ / "mnt";
  std::string output;
  fs::create_directories(mnt);
  if (geteuid() != 0 || !RunProcess("truncate -s 2M " + QuoteArgument(image), output) ||
      !RunProcess("mkfs.ext4 -q -O ^filetype " + QuoteArgument(image), output) ||
      !RunProcess("mount -o loop " + QuoteArgument(image) + " " + QuoteArgument(mnt), output)) {
    GTEST_SKIP() << "cannot mount an ext4 image without entry kinds here: " << output;
  }
  mount_ = mnt;
  MakeTree(mnt, {"src/listed/a=a", "src/link->listed", "old=previous copy"});
  MakeTree(dir_, {"tree/a=small", "tree/b=" + std::string(3 << 20, 'x')});
  ASSERT_TRUE(CopyFolder(mnt + "/src", dir_ / "copy"));
  EXPECT_EQ(Listing(dir_ / "copy"), (Lines{"link->listed", "listed/", "listed/a=a"}));
  EXPECT_EQ(platform::CopyOneFile(dir_ / "tree/b", mnt + "/new", true), ENOSPC);
  EXPECT_EQ(platform::CopyOneFile(dir_ / "tree/b", mnt + "/old", false), ENOSPC);
  TreeFailure failure;
  EXPECT_FALSE(CopyFolder(dir_ / "tree", mnt + "/tree", &failure));
  EXPECT_EQ(failure.code, ENOSPC);
  EXPECT_EQ(Listing(mnt), (Lines{"lost+found/", "old=previous copy", "src/", "src/link->listed", "src/listed/",
                                 "src/listed/a=a", "tree/", "tree/a=small"}));
  test::GiveToUnprivileged(dir_);
  ASSERT_EQ(chmod((mnt + "/src/listed").c_str(), 0444), 0);  // listable, not searchable
  EXPECT_EQ(test::RunForkedUnprivileged([&] {
              return CopyFolder(mnt + "/src", dir_ / "denied", &failure) ? 1 : failure.code == EACCES ? 0 : 2;
            }),
            0) << "1: the copy claimed success";
}

// Where no unnamed file can be made (no /proc to name one by, or no O_TMPFILE), copies use hidden
// names: every copy test passes the same, run whole in a mount namespace without /proc. (Not the
// deletes: without /proc, glibc before 2.39 cannot change a mode without following a link.)
TEST(FileCopyWithoutProc, EveryCopyTestPassesWithHiddenNames) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding /proc needs root";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs /proc to know the stacks of forked children; the optimised build runs this";
#endif
  std::string output;
  int exitCode = -1;
  EXPECT_TRUE(RunProcess("env -u GTEST_TOTAL_SHARDS -u GTEST_SHARD_INDEX unshare -m --propagation private sh -c " +
                             QuoteArgument("umount -l /proc && exec \"$0\" \"$@\"") + " " +
                             QuoteArgument(fs::read_symlink("/proc/self/exe").string()) +
                             " --gtest_brief=1 --gtest_filter=FileCopyTest.*:FolderCopyEngine.*:-*Delete*",
                         output, &exitCode, {}, 300, false, true));
  EXPECT_EQ(exitCode, 0) << output;
}

TEST_F(FolderCopyEngine, NextCopyNameSeriesAlwaysMovesOn) {
  const std::pair<std::string, std::string> cases[] = {
      {"/d/a.txt", "/d/Copy of a.txt"},           {"/d/Copy of a.txt", "/d/Copy (1) of a.txt"},
      {"/d/Copy (1) of a", "/d/Copy (2) of a"},   {"/d/Copy (9) of x", "/d/Copy (10) of x"},
      {"/d.e/f", "/d.e/Copy of f"},               {"rel", "Copy of rel"},
      {"/d/Copy (007) of x", "/d/Copy (8) of x"},
      // Only the start of a name is read as an earlier copy's; everything else is an original.
      {"/d/My Copy (draft).txt", "/d/Copy of My Copy (draft).txt"},
      {"/d/Copy (x) of y.z", "/d/Copy of Copy (x) of y.z"},
      {"/d/Copy () of y", "/d/Copy of Copy () of y"}, {"/d/Copy (2)of y", "/d/Copy of Copy (2)of y"},
      {"/d/Copy.of x", "/d/Copy of Copy.of x"}, {"/d/Copy of", "/d/Copy of Copy of"},
      // Numbers beyond any integer type still grow: the next name is never the same name.
      {"/d/Copy (2147483647) of x.dat", "/d/Copy (2147483648) of x.dat"},
      {"/d/Copy (99999999999999999999) of x", "/d/Copy (100000000000000000000) of x"},
  };
  for (const auto& [path, next] : cases) EXPECT_EQ(CFolderCopyEngine::NextCopyName(path), next) << path;
}

// A folder lands under its own name (also when named with "." or ".."); a taken name gets the
// next free one of the series, and nothing already there is replaced.
TEST_F(FolderCopyEngine, KeepsEveryFileAlreadyThere) {
  MakeTree(dir_, {"src/Data/a.txt=new", "src/Data/sub/b.txt=new b", "src/Data/empty/", "dst/Data/a.txt=old",
                  "dst/Copy (7) of x.dat=seven", "x=new"});
  for (int run = 0; run < 2; ++run) ASSERT_EQ(EngineCopy("src/Data", "dst"), "");
  ASSERT_EQ(EngineCopy("src/Data/a.txt", "dst/Copy (7) of x.dat"), "");
  ASSERT_EQ(EngineCopy("src/Data/a.txt", "dst"), "");
  ASSERT_EQ(EngineCopy("src/Data/sub/..", "dst/Data"), "");
  ASSERT_EQ(EngineCopy("src/Data/sub/.", "dst/Data/Data"), "");
  EXPECT_EQ(Listing(dir_ / "dst"),
            (Lines{"Copy (7) of x.dat=seven", "Copy (8) of x.dat=new", "Data/", "Data/Copy (1) of a.txt=new",
                   "Data/Copy of a.txt=new", "Data/Data/", "Data/Data/a.txt=new", "Data/Data/empty/", "Data/Data/sub/",
                   "Data/Data/sub/Copy of b.txt=new b", "Data/Data/sub/b.txt=new b", "Data/a.txt=old", "Data/empty/",
                   "Data/sub/", "Data/sub/Copy of b.txt=new b", "Data/sub/b.txt=new b", "a.txt=new"}));
  std::string name = "x";
  for (int i = 0; i < kMaxCopyNameTries; ++i, name = NextCopyName(name)) std::ofstream(dir_ / "dst/Data" / name);
  EXPECT_EQ(EngineCopy("x", "dst/Data"), "\"" + (dir_ / "dst/Data/x").string() +
                                            "\" has no free name left in the \"Copy of\" series after 10000 tries");
  EXPECT_EQ(code_, EEXIST);
  EXPECT_FALSE(fs::exists(dir_ / "dst/Data" / name)) << "the last name tried stays free";
}

// A folder already in its place, a dangling link and a FIFO are nothing to fail on; paths that
// name nothing, or a folder onto a file, are the engine's own errors (code 0); a link is no folder.
TEST_F(FolderCopyEngine, WhatThePathsName) {
  MakeTree(dir_, {"X/Data/a.txt=a", "file.txt=f", "dangling->nowhere", "pipe|", "S/x=s", "E/S->../X"});
  const std::string missing = (dir_ / "missing").string() + " not found";
  const struct {
    std::string source, destination, text;
    int code;
  } rows[] = {{"X/Data", "X", "", -1}, {"dangling", "X", "", -1}, {"pipe", "X", "", -1}, {"missing", "X", missing, 0},
              {"X/Data", "missing", missing, 0}, {"X/Data", "file.txt", "Wrong operation", 0},
              {"S", "E", "\"" + (dir_ / "E/S").string() + "\"" + kLinkConflict, ELOOP}};
  for (const auto& row : rows) {
    EXPECT_EQ(EngineCopy(row.source, row.destination), row.text) << row.source << " -> " << row.destination;
    EXPECT_EQ(code_, row.code) << row.source << " -> " << row.destination;
  }
  EXPECT_EQ(Listing(dir_ / "X"), (Lines{"Data/", "Data/a.txt=a", "dangling->nowhere"}));
}

// Unprivileged: a delete opens up read-only folders and files (even a folder without any rights)
// and removes links, never what they point to. A file whose permission cannot be changed stays
// with its folders, and that is no failure; a folder that cannot be listed is one.
TEST_F(FolderCopyEngine, DeleteOpensUpWhatItMayAndFollowsNoLink) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to leave a file to another account";
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  MakeTree(dir_, {"outside/keep=keep", "tree/ro.txt=r", "tree/ro/a=a", "tree/ro/link->../../outside",
                  "tree/closed/inner/b=b", "kept/sub/root.txt=root's", "locked/inner/"});
  test::GiveToUnprivileged(dir_);
  ASSERT_EQ(lchown((dir_ / "kept/sub/root.txt").c_str(), 0, 0) | lchown((dir_ / "locked/inner").c_str(), 0, 0), 0);
  SetModes(dir_, {{"kept/sub/root.txt", 0444}, {"locked/inner", 0311}, {"tree/ro.txt", 0444}, {"tree/ro", 0555},
                  {"tree/closed/inner", 0500}, {"tree/closed", 0}, {"tree", 0555}});
  EXPECT_EQ(test::RunForkedUnprivileged([&] {
              CFolderCopyEngine engine, absent, kept, locked;
              if (!engine.Delete(dir_ / "tree")) return 1;
              if (absent.Delete(dir_ / "tree") || absent.LastErrorText() != "No such file or directory") return 2;
              if (locked.Delete(dir_ / "locked") || locked.LastErrorText() != "Permission denied") return 3;
              return kept.Delete(dir_ / "kept") && kept.UndeletableFileMet() ? 0 : 4;
            }),
            0);
  EXPECT_EQ(Listing(dir_), (Lines{"kept/", "kept/sub/", "kept/sub/root.txt=root's", "locked/", "locked/inner/",
                                  "outside/", "outside/keep=keep"}));
}

}  // namespace
}  // namespace brimora
