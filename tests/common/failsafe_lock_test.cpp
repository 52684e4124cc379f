#include "common/failsafe_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include "common/trace_log.h"
#include "platform/identity.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string WarningText(std::uint32_t waiter, const char* lock, std::uint32_t owner) {
  return Format("WARNING: Thread %u has waited 0 seconds for lock '%s' owned by thread %u.\n",
                waiter, lock, owner);
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Runs Lock(timeout) on another thread and returns its result and that thread's id.
std::pair<bool, std::uint32_t> LockElsewhere(CFailsafeLock& lock, std::uint32_t timeoutMs) {
  std::pair<bool, std::uint32_t> result{};
  std::thread([&] {
    result.second = platform::CurrentThreadId();
    result.first = lock.Lock(timeoutMs);
    if (result.first) lock.Unlock();
  }).join();
  return result;
}

// True when the thread of this process with the kernel id `id` is blocked in a wait.
bool Sleeping(std::uint32_t id) {
  std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
  const std::string text{std::istreambuf_iterator<char>(stat), {}};
  const std::size_t end = text.rfind(')');
  return end != std::string::npos && text.compare(end, 3, ") S") == 0;
}

// Starts the trace log in a temporary folder so the lock's messages can be read back.
class FailsafeLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "work");
    savedCwd_ = fs::current_path();
    fs::current_path(root_ / "work");
    InitTraceLog("Lock", false);
  }

  void TearDown() override {
    ShutdownTraceLog();
    fs::current_path(savedCwd_);
  }

  std::string MainLog() const { return test::ReadFile(root_ / "Logs/LockLog.txt"); }
  std::string ErrorsLog() const { return test::ReadFile(root_ / "Logs/LockErrors.txt"); }

  test::TempFolder root_;
  fs::path savedCwd_;
};

TEST_F(FailsafeLockTest, ReentrantLockIsFreeAfterAsManyUnlocks) {
  CFailsafeLock lock("csRepository");
  EXPECT_EQ(lock.OwnerThread(), 0u);
  EXPECT_FALSE(lock.Unlock()) << "never acquired";

  ASSERT_TRUE(lock.Lock());
  ASSERT_TRUE(lock.Lock(0)) << "the holder re-enters without waiting";
  EXPECT_EQ(lock.OwnerThread(), platform::CurrentThreadId());
  EXPECT_FALSE(LockElsewhere(lock, 0).first);
  bool releasedElsewhere = true;
  std::thread([&] { releasedElsewhere = lock.Unlock(); }).join();
  EXPECT_FALSE(releasedElsewhere) << "only the holder releases";

  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(LockElsewhere(lock, 20).first) << "one acquisition is still held";
  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(lock.Unlock()) << "more releases than acquisitions";

  const auto [acquired, other] = LockElsewhere(lock, 0);
  EXPECT_TRUE(acquired);
  EXPECT_EQ(lock.OwnerThread(), other) << "the last owner is kept after Unlock";

  {
    FailsafeLockGuard outer(lock);
    FailsafeLockGuard inner(lock);
    EXPECT_FALSE(LockElsewhere(lock, 0).first);
  }
  EXPECT_TRUE(LockElsewhere(lock, 0).first) << "guards release what they took";
}

TEST_F(FailsafeLockTest, FiniteTimeoutReturnsFalseAfterAboutThatLong) {
  // Warnings every 100 ms are level 2: dropped under the start-up mask, shown after mask 3.
  CFailsafeLock lock("CSolrCore::m_csComm", 100, 60000);
  ASSERT_TRUE(lock.Lock());
  const std::uint32_t self = platform::CurrentThreadId();

  for (const std::uint32_t mask : {1u, 3u}) {
    SCOPED_TRACE("mask " + std::to_string(mask));
    SetLogLevel(mask);
    const auto started = Clock::now();
    const auto [acquired, waiter] = LockElsewhere(lock, 350);
    const auto waited = Clock::now() - started;
    EXPECT_FALSE(acquired);
    EXPECT_GE(waited, std::chrono::milliseconds(350));
    EXPECT_LT(waited, std::chrono::milliseconds(350 + 2000));

    const std::string main = MainLog();
    EXPECT_EQ(main.find("\t1 - WARNING"), std::string::npos);
    EXPECT_EQ(main.find("ERROR"), std::string::npos);
    const std::size_t warnings =
        Count(main, "\t2 - " + WarningText(waiter, lock.Name().c_str(), self));
    EXPECT_TRUE(mask == 1 ? warnings == 0 : warnings >= 1 && warnings <= 3)
        << warnings << " warnings in\n" << main;
  }
  lock.Unlock();
}

TEST_F(FailsafeLockTest, UnlimitedWaitWarnsNamingTheOwnerThenAcquires) {
  CFailsafeLock lock("csRepository", 50, 60000);
  ASSERT_TRUE(lock.Lock());
  const std::uint32_t self = platform::CurrentThreadId();

  std::atomic<std::uint32_t> waiter{0};
  auto waiting = std::async(std::launch::async, [&] {
    waiter = platform::CurrentThreadId();
    const bool acquired = lock.Lock();
    if (acquired) lock.Unlock();
    return acquired;
  });
  while (waiter == 0) std::this_thread::yield();
  // Two warnings are awaited in the log (up to 20 s) before the holder lets go.
  const std::string warning = "\t1 - " + WarningText(waiter, "csRepository", self);
  for (auto until = Clock::now() + std::chrono::seconds(20);
       Count(MainLog(), warning) < 2 && Clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(Count(MainLog(), warning), 2u) << MainLog();
  EXPECT_TRUE(lock.Unlock());
  EXPECT_TRUE(waiting.get());
  EXPECT_EQ(lock.OwnerThread(), waiter.load());
  EXPECT_EQ(ErrorsLog().find("ERROR"), std::string::npos);
}

TEST_F(FailsafeLockTest, ReleaseWakesAThreadThatWaitsWithoutLimit) {
  CFailsafeLock lock("csRepository", 5000, 60000);
  ASSERT_TRUE(lock.Lock());
  std::atomic<std::uint32_t> waiter{0};
  auto waiting = std::async(std::launch::async, [&] {
    waiter = platform::CurrentThreadId();
    const bool acquired = lock.Lock();
    if (acquired) lock.Unlock();
    return acquired;
  });
  // Released while the waiter sleeps, it must not sleep out its 5-second interval.
  for (const auto until = Clock::now() + std::chrono::seconds(10);
       (waiter == 0 || !Sleeping(waiter)) && Clock::now() < until;) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(lock.Unlock());
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_TRUE(waiting.get());
}

TEST_F(FailsafeLockTest, DeadlockLimitWritesErrorAndThrows) {
  CFailsafeLock lock("csRepository", 40, 200);
  ASSERT_TRUE(lock.Lock());
  const std::uint32_t self = platform::CurrentThreadId();

  std::uint32_t waiter = 0;
  int code = 0;
  std::thread([&] {
    waiter = platform::CurrentThreadId();
    try {
      lock.Lock();
    } catch (const std::exception& error) {  // callers that catch std::exception see it too
      const auto* deadlock = dynamic_cast<const FailsafeDeadlock*>(&error);
      code = deadlock != nullptr ? deadlock->code : -1;
    }
  }).join();
  EXPECT_TRUE(lock.Unlock());
  EXPECT_EQ(code, 7777777);

  const std::string error = Format(
      "ERROR: Thread %u has waited 0 seconds, restarting Lornith to resolve deadlock for wait on "
      "lock 'csRepository' owned by thread %u...\n",
      waiter, self);
  EXPECT_EQ(Count(ErrorsLog(), "\t" + error), 1u) << ErrorsLog();
  const std::string main = MainLog();
  const std::size_t errorAt = main.find("\t0 - " + error);
  ASSERT_NE(errorAt, std::string::npos) << main;
  const std::string warning = "\t1 - " + WarningText(waiter, "csRepository", self);
  EXPECT_GE(Count(main, warning), 1u) << main;
  EXPECT_LE(Count(main, warning), 5u) << main;
  EXPECT_LT(main.rfind(warning), errorAt) << "warnings come before the error";
}

}  // namespace
}  // namespace brimora
