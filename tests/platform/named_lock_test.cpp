#include "platform/named_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace brimora::platform {
namespace {

namespace fs = std::filesystem;

// Points the lock folder ($TMPDIR) at a temporary folder of the test's own.
class CrossProcessLockTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "named_lock_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    if (const char* previous = std::getenv("TMPDIR")) previousTmpDir_ = previous;
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    previousTmpDir_ ? setenv("TMPDIR", previousTmpDir_->c_str(), 1) : unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }

  fs::path dir_;
  std::optional<std::string> previousTmpDir_;
};

TEST_F(CrossProcessLockTest, ExcludesAndReleases) {
  EXPECT_EQ(CrossProcessLock::LockFilePath("CONFIG.INI"), (dir_ / "CONFIG.INI").string());
  CrossProcessLock first;
  ASSERT_TRUE(first.Acquire("CONFIG.INI", 0));
  {
    CrossProcessLock second;
    EXPECT_FALSE(second.Acquire("CONFIG.INI", 30));
    EXPECT_FALSE(second.IsHeld());
    EXPECT_TRUE(second.Acquire("OTHER.INI", 0));  // names are independent
  }
  first.Release();
  CrossProcessLock probe;
  EXPECT_TRUE(probe.Acquire("CONFIG.INI", 0));
}

TEST_F(CrossProcessLockTest, HolderThatIsKilledReleasesTheLock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CrossProcessLock lock;
    const char answer = lock.Acquire("KILLED.INI", 1000) ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');

  CrossProcessLock lock;
  EXPECT_FALSE(lock.Acquire("KILLED.INI", 0));
  kill(child, SIGKILL);
  // The wait covers the moment of the kill: the lock is free as soon as the process is gone.
  EXPECT_TRUE(lock.Acquire("KILLED.INI", 10000));
  waitpid(child, nullptr, 0);
}

TEST_F(CrossProcessLockTest, LockFileIsReadableByOtherAccounts) {
  const mode_t previous = umask(077);
  CrossProcessLock lock;
  const bool acquired = lock.Acquire("SHARED.INI", 0);
  umask(previous);
  ASSERT_TRUE(acquired);
  struct stat info {};
  ASSERT_EQ(stat((dir_ / "SHARED.INI").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(CrossProcessLockTest, RefusesUnsafeLockFilesAndNames) {
  // A link planted in the lock's place is not followed, and its target is left alone.
  const fs::path target = dir_ / "target";
  std::ofstream(target) << "precious";
  fs::create_symlink(target, dir_ / "LINKED.INI");
  fs::create_symlink(dir_ / "missing", dir_ / "DANGLING.INI");
  ASSERT_EQ(mkfifo((dir_ / "FIFO.INI").c_str(), 0600), 0);
  fs::create_directory(dir_ / "FOLDER.INI");

  const std::string names[] = {"LINKED.INI", "DANGLING.INI", "FIFO.INI", "FOLDER.INI", "",
                               ".", "..", "a/b", std::string("a\0b", 3)};
  for (const std::string& name : names) {
    SCOPED_TRACE("name '" + name + "'");
    CrossProcessLock lock;
    EXPECT_FALSE(lock.Acquire(name, 0));
    EXPECT_FALSE(lock.IsHeld());
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  std::ifstream in(target);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "precious");
}

}  // namespace
}  // namespace brimora::platform
