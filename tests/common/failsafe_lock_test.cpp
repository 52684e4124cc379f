#include "common/failsafe_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>

#include "common/log_folder_fixture.h"
#include "platform/identity.h"

namespace brimora {
namespace {

using Clock = std::chrono::steady_clock;

std::string Warning(std::uint32_t waiter, const std::string& lock, std::uint32_t owner) {
  return Format("WARNING: Thread %u has waited 0 seconds for lock '%s' owned by thread %u.\n", waiter, lock, owner);
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

struct FailsafeLockTest : test::LogFolderTest {
  FailsafeLockTest() : LogFolderTest("Lock") {}
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

TEST_F(FailsafeLockTest, ReleaseWakesAThreadThatWaitsWithoutLimit) {
  CFailsafeLock lock("csRepository", 5000, 60000);
  ASSERT_TRUE(lock.Lock());
  std::atomic<std::uint32_t> waiter{0};
  auto waiting = std::async(std::launch::async, [&] {
    waiter = platform::CurrentThreadId();
    return lock.Lock() && lock.Unlock();
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

// A finite wait warns at level 2 every interval; an unlimited one warns at level 1 and, at the
// deadlock limit, writes an error and throws.
TEST_F(FailsafeLockTest, WaitsWarnNamingTheOwnerUntilTheTimeOutOrTheDeadlockLimit) {
  const std::uint32_t self = platform::CurrentThreadId();
  CFailsafeLock finite("CSolrCore::m_csComm", 100, 60000), unlimited("csRepository", 40, 200);
  ASSERT_TRUE(finite.Lock());
  ASSERT_TRUE(unlimited.Lock());
  SetLogLevel(3);
  const auto started = Clock::now();
  const auto [acquired, finiteWaiter] = LockElsewhere(finite, 350);
  EXPECT_FALSE(acquired);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(350));
  std::uint32_t waiter = 0, code = 0;
  std::thread([&] {
    waiter = platform::CurrentThreadId();
    try {
      unlimited.Lock();
    } catch (const FailsafeDeadlock& deadlock) {
      code = deadlock.code;
    }
  }).join();
  EXPECT_EQ(code, 7777777u);
  EXPECT_TRUE(unlimited.Unlock() && finite.Unlock());
  const std::string error = Format(
      "ERROR: Thread %u has waited 0 seconds, restarting Lornith to resolve deadlock for wait on lock "
      "'csRepository' owned by thread %u...\n", waiter, self);
  const std::string main = test::ReadFile(LogPath("LockLog.txt"));
  EXPECT_NE(main.find("\t2 - " + Warning(finiteWaiter, finite.Name(), self)), std::string::npos) << main;
  EXPECT_LT(main.find("\t1 - " + Warning(waiter, unlimited.Name(), self)), main.find("\t0 - " + error))
      << "warnings, then the error in\n" << main;
  EXPECT_NE(TraceText("Errors").find("\t" + error), std::string::npos);
}

}  // namespace
}  // namespace brimora
