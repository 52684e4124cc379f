#pragma once
// A named re-entrant lock with a watchdog: a thread that waits for it reports the last owner
// at every warning interval (1 minute) and, after the deadlock limit (10 minutes), writes an
// error to the trace log and throws FailsafeDeadlock instead of waiting on.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>

namespace brimora {

// Thrown by CFailsafeLock::Lock when the deadlock limit is reached.
struct FailsafeDeadlock : std::exception {
  int code = 7777777;
  const char* what() const noexcept override { return "failsafe lock deadlock"; }
};

// Thread safety: Lock and Unlock may be called from any thread; the object must outlive every
// call, and must not be held by any thread when destroyed.
class CFailsafeLock {
 public:
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
  static constexpr std::uint32_t kWarningIntervalMs = 60000;
  static constexpr std::uint32_t kDeadlockLimitMs = 600000;

  explicit CFailsafeLock(std::string name);
  // Shorter intervals for tests.
  CFailsafeLock(std::string name, std::uint32_t warningIntervalMs, std::uint32_t deadlockLimitMs);

  CFailsafeLock(const CFailsafeLock&) = delete;
  CFailsafeLock& operator=(const CFailsafeLock&) = delete;

  // Acquires the lock (again, when the calling thread already holds it). Returns false when
  // the finite `timeoutMs` passed without acquiring; kInfinite waits without limit. Throws
  // FailsafeDeadlock once the wait reaches the deadlock limit, whatever the time-out.
  bool Lock(std::uint32_t timeoutMs = kInfinite);

  // Releases one acquisition. Returns false, changing nothing, when the calling thread does
  // not hold the lock.
  bool Unlock();

  const std::string& Name() const { return name_; }
  // The thread that last acquired the lock (kept after Unlock); 0 before the first acquisition.
  std::uint32_t OwnerThread() const { return owner_; }

 private:
  // Waits up to `wait` for the lock to be free (or held by `self`) and takes it.
  bool TryAcquireFor(std::uint32_t self, std::chrono::steady_clock::duration wait);

  std::string name_;
  std::uint32_t warningIntervalMs_;
  std::uint32_t deadlockLimitMs_;
  std::atomic<std::uint32_t> owner_{0};
  // The re-entrant lock itself: the holding thread (0 when free) and its nesting depth.
  std::mutex state_;
  std::condition_variable released_;
  std::uint32_t holder_ = 0;
  unsigned depth_ = 0;
};

// Holds a CFailsafeLock for a scope: Lock(kInfinite) on construction, Unlock on destruction.
class FailsafeLockGuard {
 public:
  explicit FailsafeLockGuard(CFailsafeLock& lock);
  ~FailsafeLockGuard();
  FailsafeLockGuard(const FailsafeLockGuard&) = delete;
  FailsafeLockGuard& operator=(const FailsafeLockGuard&) = delete;

 private:
  CFailsafeLock& lock_;
};

}  // namespace brimora
