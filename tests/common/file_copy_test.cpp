// The single-file copy and the recursive folder copy and delete, on real files.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_utils.h"
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

// Runs `body` in a forked child as uid/gid 65534 and answers its exit code (or -1).
template <typename Body>
int RunAsNobody(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      _exit(99);
    }
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
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

  const int code = RunAsNobody([&] {
    if (platform::CopyOneFile(dir_ / "secret", dir_ / "out" / "secret", false) != EACCES) return 1;
    int error = 0;
    const bool copied = CopyFolder(dir_ / "closed", dir_ / "out" / "closed", &error);
    return copied || error != EACCES ? 2 : 0;
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

}  // namespace
}  // namespace brimora
