// The single-file copy and the recursive folder copy and delete, on real files.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/file_utils.h"
#include "platform/files.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
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
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "file_copy_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }

  fs::path dir_;
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
  if (geteuid() == 0) {
    ASSERT_EQ(chown(source.c_str(), 65534, 65534), 0);
  }

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
    if (geteuid() == 0) {
      EXPECT_EQ(info.st_uid, 65534u);
      EXPECT_EQ(info.st_gid, 65534u);
    }
  }
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"new.bin", "over.bin", "source.bin"}));
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
  WriteFile(dir_ / "big", std::string(3 << 20, 'x'));
  WriteFile(small / "old", "previous copy");

  EXPECT_EQ(platform::CopyOneFile(dir_ / "big", small / "new", true), ENOSPC);
  EXPECT_EQ(platform::CopyOneFile(dir_ / "big", small / "old", false), ENOSPC);
  EXPECT_EQ(Names(small), std::vector<std::string>{"old"});
  EXPECT_EQ(ReadFile(small / "old"), "previous copy");

  fs::create_directory(dir_ / "tree");
  WriteFile(dir_ / "tree" / "a", "small");
  fs::copy_file(dir_ / "big", dir_ / "tree" / "b");
  int error = 0;
  EXPECT_FALSE(CopyFolder((dir_ / "tree").string(), (small / "tree").string(), &error));
  EXPECT_EQ(error, ENOSPC);
  EXPECT_EQ(platform::LastError(), ENOSPC);
  EXPECT_EQ(Names(small / "tree"), std::vector<std::string>{"a"});
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
    if (platform::CopyOneFile(dir_ / "secret", dir_ / "out" / "secret", false) != EACCES) {
      return 1;
    }
    int error = 0;
    if (CopyFolder((dir_ / "closed").string(), (dir_ / "out" / "closed").string(), &error) ||
        error != EACCES) {
      return 2;
    }
    return 0;
  });
  ASSERT_NE(code, 99) << "could not switch to uid 65534";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Names(dir_ / "out"), std::vector<std::string>{"closed"});
}

// A tree with awkward names, links inside and out of it, a FIFO and a loop.
TEST_F(FileCopyTest, FolderRoundTripKeepsNamesAndLinksAndSkipsFifos) {
  const std::vector<std::string> names = {
      "plain.txt", "with blank", "quote\"d", "100%", "a@b", "\xce\xa9\xce\xbc\xce\xad\xce\xb3",
      "\xe6\x97\xa5\xe6\x9c\xac", "bad\xff\xfe", "back\\slash", "'single'", ".hidden"};
  const fs::path source = dir_ / "source";
  fs::create_directories(source / "sub" / "deeper");
  fs::create_directory(dir_ / "outside");
  WriteFile(dir_ / "outside" / "precious", "x");
  for (const std::string& name : names) {
    WriteFile(source / name, "file " + name);
    WriteFile(source / "sub" / "deeper" / name, name);
  }
  fs::create_symlink("..", source / "sub" / "up");
  fs::create_symlink(source, source / "sub" / "absolute-loop");
  fs::create_symlink(dir_ / "outside", source / "out-link");
  ASSERT_EQ(mkfifo((source / "pipe").c_str(), 0600), 0);

  const fs::path copy = dir_ / "copy";
  ASSERT_TRUE(CopyFolder(source.string(), copy.string()));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(copy / name), "file " + name);
    EXPECT_EQ(ReadFile(copy / "sub" / "deeper" / name), name);
  }
  EXPECT_EQ(fs::read_symlink(copy / "sub" / "up"), "..");
  EXPECT_EQ(fs::read_symlink(copy / "sub" / "absolute-loop"), source);
  EXPECT_FALSE(fs::exists(fs::symlink_status(copy / "pipe")));

  std::vector<std::string> files;
  std::vector<std::string> folders;
  ASSERT_TRUE(ListFolder((copy / "*.*").string(), &files, &folders));
  std::vector<std::string> expected = names;
  expected.push_back("out-link");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);
  EXPECT_EQ(folders, std::vector<std::string>{"sub"});

  // Deleting the copy and the source removes the links, never what they point to.
  EXPECT_TRUE(DeleteFolder(copy.string()));
  EXPECT_TRUE(DeleteFolder(source.string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(copy)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(source)));
  EXPECT_EQ(ReadFile(dir_ / "outside" / "precious"), "x");
}

TEST_F(FileCopyTest, CopyFolderCreatesTheDestinationAndMergesIntoIt) {
  const fs::path destination = dir_ / "a" / "b" / "c";
  EXPECT_TRUE(CopyFolder((dir_ / "missing").string(), destination.string()));
  EXPECT_TRUE(fs::is_directory(destination));
  EXPECT_TRUE(fs::is_empty(destination));

  fs::create_directories(dir_ / "first");
  WriteFile(dir_ / "first" / "same", "first");
  WriteFile(destination / "same", "older");
  WriteFile(destination / "other", "kept");
  ASSERT_TRUE(CopyFolder((dir_ / "first").string(), destination.string()));
  EXPECT_EQ(ReadFile(destination / "same"), "first");
  EXPECT_EQ(ReadFile(destination / "other"), "kept");
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

  fs::create_directory(dir_ / "target");
  WriteFile(dir_ / "target" / "file", "x");
  fs::create_directory_symlink(dir_ / "target", dir_ / "link");
  EXPECT_TRUE(DeleteFolder((dir_ / "link").string()));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "link")));
  EXPECT_TRUE(fs::exists(dir_ / "target" / "file"));
}

}  // namespace
}  // namespace brimora
