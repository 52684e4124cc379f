#include "platform/signals.h"

#include <signal.h>

#include <atomic>

namespace brimora::platform {
namespace {

std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free atomics");

extern "C" void OnStopSignal(int number) {
  int none = 0;
  if (!gStopSignal.compare_exchange_strong(none, number)) {
    // Asked twice: whoever asks again wants the process gone now.
    signal(number, SIG_DFL);
    raise(number);
  }
}

}  // namespace

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}

int StopSignal() { return gStopSignal.load(); }

std::string SignalName(int signal) {
  switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "signal " + std::to_string(signal);
  }
}

void SetStopSignal(int signal) { gStopSignal.store(signal); }

}  // namespace brimora::platform
