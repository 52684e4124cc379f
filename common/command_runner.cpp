#include "common/command_runner.h"

#include <atomic>

namespace brimora {
namespace {

CCommandRunner& ProcessRunner() {
  static CProcessCommandRunner runner;
  return runner;
}

// Null: the process runner. Atomic so that a thread reading it never sees a torn pointer; the
// ordering rule for changing it is the caller's (see the header).
std::atomic<CCommandRunner*> g_current{nullptr};

}  // namespace

CommandResult CProcessCommandRunner::Run(const std::string& commandLine,
                                         const CommandOptions& options) {
  CommandResult result;
  // RunProcess presets nothing: the exit code is written only when the child ended, so a
  // value outside every exit status tells "not written" apart.
  constexpr int kNotSet = -1;
  int exitCode = kNotSet;
  result.completed = RunProcess(commandLine, result.output, &exitCode, options.workingFolder,
                                options.timeoutSeconds, options.utf8, options.stderrToo);
  if (exitCode != kNotSet) result.exitCode = exitCode;
  // RunProcess always captures; a caller that asked for none gets nothing back.
  if (!options.captureOutput) result.output.clear();
  return result;
}

CCommandRunner& CurrentCommandRunner() {
  CCommandRunner* runner = g_current.load(std::memory_order_acquire);
  return runner != nullptr ? *runner : ProcessRunner();
}

CScopedCommandRunner::CScopedCommandRunner(CCommandRunner& runner)
    : previous_(g_current.exchange(&runner, std::memory_order_acq_rel)) {}

CScopedCommandRunner::~CScopedCommandRunner() {
  g_current.store(previous_, std::memory_order_release);
}

}  // namespace brimora
