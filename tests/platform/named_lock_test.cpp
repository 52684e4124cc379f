#include "platform/named_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/test_support.h"

namespace brimora::platform {
namespace {

namespace fs = std::filesystem;

// Points the lock folder ($TMPDIR) at a temporary folder of the test's own.
class CrossProcessLockTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* previous = std::getenv("TMPDIR")) previousTmpDir_ = previous;
    setenv("TMPDIR", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    previousTmpDir_ ? setenv("TMPDIR", previousTmpDir_->c_str(), 1) : unsetenv("TMPDIR");
  }

  test::TempFolder dir_;
  std::optional<std::string> previousTmpDir_;
};

TEST_F(CrossProcessLockTest, ExcludesReleasesAndLeavesTheFileReadableByOthers) {
  EXPECT_EQ(CrossProcessLock::LockFilePath("CONFIG.INI"), dir_ / "CONFIG.INI");
  const mode_t previousMask = umask(077);
  CrossProcessLock first;
  const bool acquired = first.Acquire("CONFIG.INI", 0);
  umask(previousMask);
  ASSERT_TRUE(acquired);
  struct stat info {};
  ASSERT_EQ(stat((dir_ / "CONFIG.INI").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u) << "other accounts must be able to open it";
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
  (void)!read(ready[0], &answer, 1);
  close(ready[0]);
  CrossProcessLock lock;
  const bool whileHeld = lock.Acquire("KILLED.INI", 0);
  kill(child, SIGKILL);
  ASSERT_EQ(answer, 'y') << "the child could not take the lock";
  EXPECT_FALSE(whileHeld);
  // The wait covers the moment of the kill: the lock is free as soon as the process is gone.
  EXPECT_TRUE(lock.Acquire("KILLED.INI", 10000));
  waitpid(child, nullptr, 0);
}

TEST_F(CrossProcessLockTest, RefusesUnsafeLockFilesAndNames) {
  // A link planted in the lock's place is not followed, and its target is left alone.
  const std::string target = dir_ / "target";
  test::WriteFile(target, "precious");
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
  EXPECT_EQ(test::ReadFile(target), "precious");
}

}  // namespace
}  // namespace brimora::platform
