#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace brimora::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class LockedFileTest : public testing::Test {
 protected:
  std::string WriteFile(const std::string& name, const std::string& content) {
    test::WriteFile(dir_ / name, content);
    return dir_ / name;
  }

  static std::string ReadAll(std::FILE* stream) {
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  test::TempFolder dir_;
};

TEST_F(LockedFileTest, HoldersOfOneFileExcludeEachOtherUntilClosed) {
  const std::string path = WriteFile("config.ini", "K=v\n");
  const std::string other = WriteFile("other.ini", "");
  LockedFile first;
  ASSERT_EQ(first.Open(path, 0), FileLockResult::kLocked);
  ASSERT_NE(first.Stream(), nullptr);
  EXPECT_EQ(ReadAll(first.Stream()), "K=v\n");

  LockedFile second;
  const auto start = Clock::now();
  EXPECT_EQ(second.Open(path, 100), FileLockResult::kTimedOut);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100)) << "the whole wait";
  EXPECT_EQ(second.Stream(), nullptr);
  EXPECT_EQ(second.Open(other, 0), FileLockResult::kLocked) << "files are independent";

  first.Close();
  EXPECT_EQ(first.Stream(), nullptr);
  EXPECT_EQ(second.Open(path, 0), FileLockResult::kLocked);
  // Reopening releases what the object held before.
  EXPECT_EQ(first.Open(other, 0), FileLockResult::kLocked);
}

TEST_F(LockedFileTest, HolderThatIsKilledReleasesTheLock) {
  const std::string path = WriteFile("config.ini", "");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LockedFile lock;
    const char answer = lock.Open(path, 1000) == FileLockResult::kLocked ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  (void)!read(ready[0], &answer, 1);
  close(ready[0]);
  LockedFile lock;
  const FileLockResult whileHeld = lock.Open(path, 0);
  kill(child, SIGKILL);
  ASSERT_EQ(answer, 'y') << "the child could not take the lock";
  EXPECT_EQ(whileHeld, FileLockResult::kTimedOut);
  // The wait covers the moment of the kill: the lock is free as soon as the process is gone.
  EXPECT_EQ(lock.Open(path, 10000), FileLockResult::kLocked);
  waitpid(child, nullptr, 0);
}

TEST_F(LockedFileTest, OnlyARegularFileIsOpenedAndNothingIsCreatedOrFollowed) {
  const std::string target = WriteFile("target", "precious");
  fs::create_symlink(target, dir_ / "link.ini");
  fs::create_symlink(dir_ / "missing", dir_ / "dangling.ini");
  ASSERT_EQ(mkfifo((dir_ / "fifo.ini").c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder.ini");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir_ / "socket.ini";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const struct {
    std::string path;
    FileLockResult result;
  } cases[] = {
      {dir_ / "link.ini", FileLockResult::kNotRegularFile},
      {dir_ / "dangling.ini", FileLockResult::kNotRegularFile},
      {dir_ / "fifo.ini", FileLockResult::kNotRegularFile},  // opening must not wait for a writer
      {dir_ / "folder.ini", FileLockResult::kNotRegularFile},
      {socketPath, FileLockResult::kNotRegularFile},
      {dir_ / "none.ini", FileLockResult::kMissing},
      {dir_ / "nofolder/none.ini", FileLockResult::kMissing},
      {target + "/none.ini", FileLockResult::kMissing},  // a file on the way
  };
  for (const auto& c : cases) {
    LockedFile lock;
    EXPECT_EQ(lock.Open(c.path, 0), c.result) << c.path;
    EXPECT_EQ(lock.Stream(), nullptr) << c.path;
    EXPECT_EQ(lock.Error(), 0) << c.path;
  }
  close(listener);
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_FALSE(fs::exists(dir_ / "none.ini"));
  EXPECT_EQ(test::ReadFile(target), "precious");

  LockedFile lock;
  EXPECT_EQ(lock.Open(dir_ / std::string(300, 'x'), 0), FileLockResult::kFailed);
  EXPECT_EQ(lock.Error(), ENAMETOOLONG);
}

// The stream reads the file that was opened and locked, even when another file is renamed into
// its place afterwards; the new file at the path is a different file with a lock of its own.
TEST_F(LockedFileTest, StreamReadsTheLockedFileNotWhatTheNameLaterMeans) {
  const std::string path = WriteFile("config.ini", "K=locked\n");
  const std::string replacement = WriteFile("new.ini", "K=planted\n");
  LockedFile lock;
  ASSERT_EQ(lock.Open(path, 0), FileLockResult::kLocked);
  fs::rename(replacement, path);
  EXPECT_EQ(ReadAll(lock.Stream()), "K=locked\n");
  LockedFile other;
  EXPECT_EQ(other.Open(path, 0), FileLockResult::kLocked);
  EXPECT_EQ(ReadAll(other.Stream()), "K=planted\n");
}

}  // namespace
}  // namespace brimora::platform
