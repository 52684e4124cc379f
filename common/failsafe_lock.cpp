#include "common/failsafe_lock.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "common/trace_log.h"
#include "platform/identity.h"

namespace brimora {
namespace {

constexpr char kWaitWarning[] =
    "WARNING: Thread %u has waited %d seconds for lock '%s' owned by thread %u.";
constexpr char kDeadlockError[] =
    "ERROR: Thread %u has waited %d seconds, restarting Lornith to resolve deadlock for wait on "
    "lock '%s' owned by thread %u...";

}  // namespace

CFailsafeLock::CFailsafeLock(std::string name)
    : CFailsafeLock(std::move(name), kWarningIntervalMs, kDeadlockLimitMs) {}

CFailsafeLock::CFailsafeLock(std::string name, std::uint32_t warningIntervalMs,
                             std::uint32_t deadlockLimitMs)
    : name_(std::move(name)),
      warningIntervalMs_(std::max<std::uint32_t>(warningIntervalMs, 1)),
      deadlockLimitMs_(deadlockLimitMs) {}

bool CFailsafeLock::TryAcquireFor(std::uint32_t self, std::chrono::steady_clock::duration wait) {
  std::unique_lock<std::mutex> guard(state_);
  if (holder_ != self &&
      !released_.wait_for(guard, wait, [this] { return holder_ == 0; })) {
    return false;
  }
  holder_ = self;
  ++depth_;
  owner_ = self;
  return true;
}

bool CFailsafeLock::Lock(std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool infinite = timeoutMs == kInfinite;
  const Clock::duration timeout = std::chrono::milliseconds(timeoutMs);
  const Clock::duration interval = std::chrono::milliseconds(warningIntervalMs_);
  const std::uint32_t self = platform::CurrentThreadId();
  const Clock::time_point start = Clock::now();
  Clock::duration elapsed{0};
  for (;;) {
    const Clock::duration wait = infinite ? interval : std::min(interval, timeout - elapsed);
    if (TryAcquireFor(self, wait)) return true;
    // Measured on a monotonic clock at full resolution, so a wait that fails within one tick
    // counts as (almost) no time rather than as a wrapped-around eternity that would end a
    // finite wait at once.
    elapsed = Clock::now() - start;
    if (!infinite && elapsed >= timeout) return false;

    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    const int seconds = static_cast<int>(elapsedMs / 1000);
    if (elapsedMs >= deadlockLimitMs_) {
      WriteLog(0, kDeadlockError, self, seconds, name_, owner_.load());
      throw FailsafeDeadlock{};
    }
    WriteLog(infinite ? 1 : 2, kWaitWarning, self, seconds, name_, owner_.load());
  }
}

bool CFailsafeLock::Unlock() {
  {
    std::lock_guard<std::mutex> guard(state_);
    if (holder_ != platform::CurrentThreadId() || depth_ == 0) return false;
    if (--depth_ > 0) return true;
    holder_ = 0;
  }
  released_.notify_one();
  return true;
}

FailsafeLockGuard::FailsafeLockGuard(CFailsafeLock& lock) : lock_(lock) {
  lock_.Lock(CFailsafeLock::kInfinite);
}

FailsafeLockGuard::~FailsafeLockGuard() {
  lock_.Unlock();
}

}  // namespace brimora
