// The single-file copy and the recursive folder copy and delete, on real files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_utils.h"
#include "common/run_process.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

Names NamesIn(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class FileCopyTest : public testing::Test {
 protected:
  void TearDown() override {
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
  }

  test::TempFolder temp_;
  const fs::path dir_{temp_.Path()};
  std::string mounted_;
};

TEST_F(FileCopyTest, KeepsContentsModeAndTimes) {
  const fs::path source = dir_ / "source.bin";
  std::string contents(300000, '\0');
  for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 7);
  WriteFile(source, contents);
  ASSERT_EQ(chmod(source.c_str(), 0640), 0);
  const struct timespec times[2] = {{1000000000, 111111111}, {1234567890, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || chown(source.c_str(), 65534, 65534) == 0);

  for (const bool failIfExists : {true, false}) {
    SCOPED_TRACE(failIfExists);
    const fs::path destination = dir_ / (failIfExists ? "new.bin" : "over.bin");
    if (!failIfExists) WriteFile(destination, "old contents");
    ASSERT_EQ(platform::CopyOneFile(source, destination, failIfExists), 0);
    EXPECT_EQ(ReadFile(destination), contents);
    struct stat info {};
    ASSERT_EQ(stat(destination.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(info.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_TRUE(!root || (info.st_uid == 65534 && info.st_gid == 65534)) << "owner kept";
  }
  EXPECT_EQ(NamesIn(dir_), (Names{"new.bin", "over.bin", "source.bin"})) << "no stray temporary";
}

TEST_F(FileCopyTest, LinksAreCopiedAndReplacedNeverFollowed) {
  WriteFile(dir_ / "outside", "keep me");
  WriteFile(dir_ / "plain", "data");
  fs::create_symlink("some/relative target", dir_ / "link");
  fs::create_symlink(dir_ / "outside", dir_ / "trap");
  ASSERT_EQ(platform::CopyOneFile(dir_ / "link", dir_ / "copy", true), 0);
  EXPECT_EQ(fs::read_symlink(dir_ / "copy"), "some/relative target");
  // An exclusive copy leaves a link there alone; an overwrite replaces the link itself.
  EXPECT_EQ(platform::CopyOneFile(dir_ / "plain", dir_ / "copy", true), EEXIST);
  EXPECT_EQ(platform::CopyOneFile(dir_ / "plain", dir_ / "trap", true), EEXIST);
  EXPECT_EQ(platform::CopyOneFile(dir_ / "link", dir_ / "plain", true), EEXIST);
  EXPECT_EQ(ReadFile(dir_ / "plain"), "data") << "a copied link replaced a taken name";
  ASSERT_EQ(platform::CopyOneFile(dir_ / "plain", dir_ / "trap", false), 0);
  EXPECT_FALSE(fs::is_symlink(dir_ / "trap"));
  EXPECT_EQ(ReadFile(dir_ / "trap"), "data");
  EXPECT_EQ(ReadFile(dir_ / "outside"), "keep me");
  EXPECT_EQ(platform::CopyOneFile(dir_ / "missing", dir_ / "x", false), ENOENT);
  EXPECT_EQ(platform::CopyOneFile(dir_, dir_ / "x", false), EISDIR);
}

TEST_F(FileCopyTest, FullFileSystemLeavesNoPartialFileAndKeepsTheOldOne) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const fs::path small = dir_ / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount tmpfs here: " << platform::ErrorText(errno);
  }
  mounted_ = small.string();
  WriteFile(dir_ / "tree" / "b", std::string(3 << 20, 'x'));
  WriteFile(dir_ / "tree" / "a", "small");
  WriteFile(small / "old", "previous copy");

  EXPECT_EQ(platform::CopyOneFile(dir_ / "tree" / "b", small / "new", true), ENOSPC);
  EXPECT_EQ(platform::CopyOneFile(dir_ / "tree" / "b", small / "old", false), ENOSPC);
  EXPECT_EQ(NamesIn(small), Names{"old"});
  EXPECT_EQ(ReadFile(small / "old"), "previous copy");

  int error = 0;
  EXPECT_FALSE(CopyFolder(dir_ / "tree", small / "tree", &error));
  EXPECT_EQ(error, ENOSPC);
  EXPECT_EQ(platform::LastError(), ENOSPC);
  EXPECT_EQ(NamesIn(small / "tree"), Names{"a"});
}

TEST_F(FileCopyTest, UnreadableSourcesFailForAnUnprivilegedUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  WriteFile(dir_ / "secret", "root only");
  ASSERT_EQ(chmod((dir_ / "secret").c_str(), 0600), 0);
  fs::create_directories(dir_ / "closed" / "inner");
  ASSERT_EQ(chmod((dir_ / "closed").c_str(), 0700), 0);
  fs::create_directory(dir_ / "out");
  ASSERT_EQ(chmod((dir_ / "out").c_str(), 0777), 0);

  const int code = test::RunForkedUnprivileged([&] {
    if (platform::CopyOneFile(dir_ / "secret", dir_ / "out" / "secret", false) != EACCES) return 1;
    int error = 0;
    if (CopyFolder(dir_ / "closed", dir_ / "out" / "closed", &error) || error != EACCES) return 2;
    // A folder that cannot even be reached: its path is the failure, not a missing source.
    error = 0;
    if (CopyFolder(dir_ / "closed" / "inner", dir_ / "out" / "closed", &error) || error != EACCES) return 3;
    int listError = 0;  // a folder that cannot be listed is not an empty one
    return ListFolder((dir_ / "closed" / "*").string(), nullptr, nullptr, &listError) || listError != EACCES ? 4 : 0;
  });
  ASSERT_NE(code, 99) << "could not switch to uid 65534";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(NamesIn(dir_ / "out"), Names{"closed"});
}

// A tree with awkward names, links inside and out of it, a FIFO and a loop; copied into a
// destination that does not exist yet and then merged into one that does.
TEST_F(FileCopyTest, FolderRoundTripKeepsNamesAndLinksAndSkipsFifos) {
  const Names names = {"with blank", "quote\"d", "100%", "\xce\xa9\xce\xbc\xce\xad\xce\xb3",
                       "bad\xff\xfe", "back\\slash", "'single'", ".hidden"};
  const fs::path source = dir_ / "source";
  WriteFile(dir_ / "outside" / "precious", "x");
  for (const std::string& name : names) {
    WriteFile(source / name, "file " + name);
    WriteFile(source / "sub" / "deeper" / name, name);
  }
  fs::create_symlink("..", source / "sub" / "up");
  fs::create_symlink(source, source / "sub" / "absolute-loop");
  fs::create_symlink(dir_ / "outside", source / "out-link");
  ASSERT_EQ(mkfifo((source / "pipe").c_str(), 0600), 0);

  const fs::path copy = dir_ / "a" / "b" / "copy";
  EXPECT_TRUE(CopyFolder(dir_ / "missing", copy)) << "a missing source makes an empty copy";
  EXPECT_TRUE(fs::is_directory(copy) && fs::is_empty(copy));
  WriteFile(copy / "other", "kept");
  WriteFile(copy / "with blank", "older");
  ASSERT_TRUE(CopyFolder(source, copy));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(copy / name), "file " + name);
    EXPECT_EQ(ReadFile(copy / "sub" / "deeper" / name), name);
  }
  EXPECT_EQ(fs::read_symlink(copy / "sub" / "up"), "..");
  EXPECT_EQ(fs::read_symlink(copy / "sub" / "absolute-loop"), source);
  EXPECT_FALSE(fs::exists(fs::symlink_status(copy / "pipe")));

  Names files, folders;
  ASSERT_TRUE(ListFolder(copy / "*.*", &files, &folders));
  Names expected = names;
  expected.insert(expected.end(), {"other", "out-link"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);
  EXPECT_EQ(folders, Names{"sub"});

  // Deleting the copy and the source removes the links, never what they point to.
  EXPECT_TRUE(DeleteFolder(copy));
  EXPECT_TRUE(DeleteFolder(source));
  EXPECT_FALSE(fs::exists(fs::symlink_status(copy)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(source)));
  EXPECT_EQ(ReadFile(dir_ / "outside" / "precious"), "x");
}

TEST_F(FileCopyTest, DeleteFolderRefusesShortPathsAndRemovesOnlyTheLink) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir_);
  // Characters, not bytes: three letters of two bytes each are still too short.
  for (const std::string name : {"abc", "\xc3\xa4\xc3\xb6\xc3\xbc"}) {
    fs::create_directory(name);
    EXPECT_FALSE(DeleteFolder(name)) << name;
    EXPECT_TRUE(fs::exists(name)) << name;
  }
  EXPECT_FALSE(DeleteFolder(""));
  fs::current_path(previous);

  WriteFile(dir_ / "target" / "file", "x");
  fs::create_directory_symlink(dir_ / "target", dir_ / "link");
  EXPECT_TRUE(DeleteFolder(dir_ / "link"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "link")));
  EXPECT_TRUE(fs::exists(dir_ / "target" / "file"));
}

// Two sources merged into one folder: the first brings a link where the second needs a folder.
// The second copy must fail rather than write through the link into the folder it points to.
TEST_F(FileCopyTest, MergeNeverWritesThroughALinkTheFirstSourceBrought) {
  WriteFile(dir_ / "outside" / "flow.png", "outside");
  fs::create_directories(dir_ / "first");
  fs::create_directory_symlink(dir_ / "outside", dir_ / "first" / "icons");
  WriteFile(dir_ / "second" / "icons" / "flow.png", "image");
  ASSERT_TRUE(CopyFolder(dir_ / "first", dir_ / "merged"));
  int error = 0;
  TreeFailure failure;
  EXPECT_FALSE(CopyFolder(dir_ / "second", dir_ / "merged", &error, &failure));
  EXPECT_EQ(error, ELOOP);
  EXPECT_EQ(failure.Description(),
            "\"" + (dir_ / "merged" / "icons").string() + "\" is a symbolic link where a folder is needed; it is not followed");
  EXPECT_EQ(ReadFile(dir_ / "outside" / "flow.png"), "outside");
  EXPECT_EQ(NamesIn(dir_ / "outside"), Names{"flow.png"});
}

// A destination inside the source, under any spelling, is left out of the copy.
TEST_F(FileCopyTest, CopyIntoAFolderInsideTheSourceLeavesItOut) {
  WriteFile(dir_ / "Logs" / "a.log", "a");
  WriteFile(dir_ / "Logs" / "old" / "b.log", "b");
  fs::create_directories(dir_ / "Logs" / "bk");
  fs::create_directory_symlink(dir_ / "Logs" / "bk", dir_ / "to-bk");
  for (const fs::path& destination : {dir_ / "Logs" / "bk", dir_ / "Logs/bk/", dir_ / "Logs" / "old" / ".." / "bk",
                                      dir_ / "to-bk"}) {
    SCOPED_TRACE(destination);
    ASSERT_TRUE(CopyFolder(dir_ / "Logs", destination));
    EXPECT_EQ(NamesIn(dir_ / "Logs" / "bk"), (Names{"a.log", "old"}));
    EXPECT_EQ(ReadFile(dir_ / "Logs" / "bk" / "old" / "b.log"), "b");
    fs::remove_all(dir_ / "Logs" / "bk");
    fs::create_directories(dir_ / "Logs" / "bk");
  }
  // Folders named by the caller are left out as well, wherever they are.
  platform::FileInfo old;
  ASSERT_EQ(platform::GetFileInfo(dir_ / "Logs" / "old", true, &old), 0);
  ASSERT_TRUE(CopyFolder(dir_ / "Logs", dir_ / "elsewhere", nullptr, nullptr, {old.id}));
  EXPECT_EQ(NamesIn(dir_ / "elsewhere"), (Names{"a.log", "bk"}));
}

// An unprivileged run: read-only folders of the first source do not keep the second source's
// files out, and every folder ends with its source's mode.
TEST_F(FileCopyTest, ReadOnlyFoldersCanStillBeMergedInto) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  WriteFile(dir_ / "first" / "icons" / "a.png", "a");
  WriteFile(dir_ / "second" / "icons" / "flow.png", "flow");
  test::GiveToUnprivileged(dir_);
  ASSERT_EQ(chmod((dir_ / "first" / "icons").c_str(), 0555), 0);
  ASSERT_EQ(chmod((dir_ / "first").c_str(), 0555), 0);
  const int code = test::RunForkedUnprivileged([&] {
    if (!CopyFolder(dir_ / "first", dir_ / "merged")) return 1;
    return CopyFolder(dir_ / "second", dir_ / "merged") ? 0 : 2;
  });
  ASSERT_NE(code, 99) << "could not switch accounts";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(NamesIn(dir_ / "merged" / "icons"), (Names{"a.png", "flow.png"}));
  struct stat info {};
  ASSERT_EQ(stat((dir_ / "merged" / "icons").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0555u);
  ASSERT_EQ(stat((dir_ / "merged").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0555u) << "the folder CopyFolder made has its source's mode";
}

// Holes stay holes: a large sparse file must not grow to its full size in the copy.
TEST_F(FileCopyTest, SparseFilesKeepTheirHoles) {
  constexpr off_t kSize = off_t{1} << 30;
  const std::string data(4096, 'd');
  fs::create_directories(dir_ / "tree");
  const int fd = open((dir_ / "tree" / "sparse.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, data.data(), data.size(), kSize / 2), static_cast<ssize_t>(data.size()));
  ASSERT_EQ(ftruncate(fd, kSize), 0);
  close(fd);

  ASSERT_EQ(platform::CopyOneFile(dir_ / "tree" / "sparse.bin", dir_ / "single.bin", true), 0);
  ASSERT_TRUE(CopyFolder(dir_ / "tree", dir_ / "copy"));
  for (const fs::path& copy : {dir_ / "single.bin", dir_ / "copy" / "sparse.bin"}) {
    SCOPED_TRACE(copy);
    struct stat info {};
    ASSERT_EQ(stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, kSize);
    EXPECT_LT(info.st_blocks * 512, 1 << 20) << "the copy is not sparse";
    const int in = open(copy.c_str(), O_RDONLY);
    std::string read(data.size() + 2, '\0');
    EXPECT_EQ(pread(in, read.data(), read.size(), kSize / 2 - 1), static_cast<ssize_t>(read.size()));
    close(in);
    EXPECT_EQ(read, '\0' + data + '\0');
  }
}

// A copy killed before it is complete leaves nothing under the destination's name.
TEST_F(FileCopyTest, AKilledCopyLeavesNoFileUnderItsName) {
  WriteFile(dir_ / "from" / "big.bin", std::string(1 << 20, 'x'));
  fs::create_directories(dir_ / "to");
  const pid_t pid = fork();
  if (pid == 0) {
    platform::Folder from, to;
    platform::PendingFile pending;
    bool skipped = false;
    if (from.Open(dir_ / "from", true) == 0 && to.Open(dir_ / "to", true) == 0 &&
        platform::CopyToPending(from, "big.bin", false, to, &pending, &skipped) == 0) {
      raise(SIGKILL);  // complete, but not yet named
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  for (const std::string& name : NamesIn(dir_ / "to")) {
    EXPECT_EQ(name.rfind(".brimora-partial-", 0), 0u) << "only a hidden temporary may stay behind: " << name;
  }
}

// A file system that does not record entry kinds in its folders (ext4 without "filetype"): an
// entry that cannot be examined fails the copy instead of being dropped.
TEST_F(FileCopyTest, EntriesThatCannotBeExaminedFailTheCopy) {
  if (const std::string why = test::WhyNoUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  if (geteuid() != 0) GTEST_SKIP() << "mounting a file system image needs root";
  const fs::path image = dir_ / "image";
  const fs::path mountPoint = dir_ / "mnt";
  fs::create_directories(mountPoint);
  std::string output;
  if (!RunProcess("truncate -s 8M " + QuoteArgument(image.string()), output) ||
      !RunProcess("mkfs.ext4 -q -O ^filetype " + QuoteArgument(image.string()), output) ||
      !RunProcess("mount -o loop " + QuoteArgument(image.string()) + " " + QuoteArgument(mountPoint.string()), output)) {
    GTEST_SKIP() << "cannot mount an ext4 image without entry kinds here: " << output;
  }
  mounted_ = mountPoint.string();
  WriteFile(mountPoint / "src" / "listed" / "a.txt", "a");
  WriteFile(mountPoint / "src" / "listed" / "b.txt", "b");
  fs::create_symlink("listed", mountPoint / "src" / "link");
  ASSERT_TRUE(CopyFolder(mountPoint / "src", dir_ / "root-copy"));
  EXPECT_EQ(fs::read_symlink(dir_ / "root-copy" / "link"), "listed") << "a link of unknown kind stays a link";
  test::GiveToUnprivileged(dir_);
  test::GiveToUnprivileged(mountPoint);
  ASSERT_EQ(chmod((mountPoint / "src" / "listed").c_str(), 0444), 0);  // listable, not searchable
  const int code = test::RunForkedUnprivileged([&] {
    int error = 0;
    if (CopyFolder(mountPoint / "src", dir_ / "copy", &error)) return 1;
    return error == EACCES ? 0 : 2;
  });
  ASSERT_NE(code, 99) << "could not switch accounts";
  EXPECT_EQ(code, 0) << "1: the copy claimed success";
}

// A file named by the layout that is a link is saved with its content.
TEST_F(FileCopyTest, ANamedFileThatIsALinkIsCopiedWithItsContent) {
  WriteFile(dir_ / "archive" / "cert1.pem", "certificate");
  fs::create_symlink("archive/cert1.pem", dir_ / "cert.pem");
  ASSERT_EQ(platform::CopyOneFile(dir_ / "cert.pem", dir_ / "saved.pem", true, platform::SourceLink::kFollow), 0);
  EXPECT_FALSE(fs::is_symlink(dir_ / "saved.pem"));
  EXPECT_EQ(ReadFile(dir_ / "saved.pem"), "certificate");
}

// What the walk cannot do fails the copy: a folder where a file of the source must go, a walk
// that runs out of descriptors, a folder mounted inside itself.
TEST_F(FileCopyTest, WhatTheWalkCannotDoFailsTheCopy) {
  WriteFile(dir_ / "src" / "a.txt", "a");
  fs::create_directories(dir_ / "dst" / "a.txt");
  int error = 0;
  TreeFailure failure;
  EXPECT_FALSE(CopyFolder(dir_ / "src", dir_ / "dst", &error, &failure));
  EXPECT_EQ(error, EISDIR);
  EXPECT_EQ(failure.path, (dir_ / "dst" / "a.txt").string());
  WriteFile(dir_ / "src2" / "b" / "f", "x");
  WriteFile(dir_ / "dst" / "b", "a file");
  EXPECT_FALSE(CopyFolder(dir_ / "src2", dir_ / "dst", &error, &failure));
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_EQ(failure.Description(), "\"" + (dir_ / "dst" / "b").string() + "\" is in the place of a folder but is not one");

  fs::path deep = dir_ / "deep";
  for (int level = 0; level < 40; ++level) deep /= "d";
  WriteFile(deep / "leaf.txt", "leaf");
  const pid_t pid = fork();
  if (pid == 0) {
    // Only the standard descriptors stay open, so the walk's descriptors are numbered from 3: the
    // two roots, then a source and a destination folder per level. A limit of 15 lets it reach
    // level 5 and makes opening the source folder of level 6 the first open that fails.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    const struct rlimit limit = {15, 15};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(9);
    int childError = 0;
    TreeFailure childFailure;
    if (CopyFolder(dir_ / "deep", dir_ / "deep-copy", &childError, &childFailure)) _exit(1);
    _exit(childError == EMFILE && childFailure.path == (dir_ / "deep/d/d/d/d/d/d").string() ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the copy claimed success; 2: it failed elsewhere";

  if (geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
  WriteFile(dir_ / "looped" / "f.txt", "f");
  fs::create_directories(dir_ / "looped" / "inner" / "again");
  if (mount((dir_ / "looped").c_str(), (dir_ / "looped" / "inner" / "again").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here: " << platform::ErrorText(errno);
  }
  mounted_ = (dir_ / "looped" / "inner" / "again").string();
  platform::SetLastError(0);
  EXPECT_FALSE(CopyFolder(dir_ / "looped", dir_ / "loop-copy", &error, &failure));
  EXPECT_EQ(error, ELOOP);
  EXPECT_EQ(platform::LastError(), ELOOP);
  EXPECT_EQ(failure.Description(), "\"" + mounted_ + "\" is the same folder as one that contains it; it is not entered");
}

// Where no unnamed file can be made (no /proc to name one by, or a file system without O_TMPFILE),
// copies are written under hidden names instead: every copy test passes the same. (Deletes are
// left out: without /proc, glibc before 2.39 cannot change a mode without following a link.)
TEST(FileCopyWithoutProc, EveryCopyTestPassesWithHiddenNames) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding /proc needs root";
  std::string output;
  int exitCode = -1;
  EXPECT_TRUE(RunProcess(QuoteArgument(BRIMORA_TEST_TOOLS_DIR "/child_behaviour") + " without-proc " +
                             QuoteArgument(fs::read_symlink("/proc/self/exe").string()) +
                             " --gtest_brief=1 --gtest_filter=FileCopyTest.*:FolderCopyEngine.*:-*Delete*",
                         output, &exitCode, {}, 300, false, true));
  EXPECT_EQ(exitCode, 0) << output;
}

}  // namespace
}  // namespace brimora
