#pragma once
// Running a command line through a replaceable runner.
//
// Code that starts external programs (the archiver, the Subversion client, the search server's
// control script) asks CurrentCommandRunner() to run its command line instead of calling
// RunProcess itself. In the program that runner starts real children; a test puts a recording
// fake in its place with CScopedCommandRunner and then compares the exact command lines.
//
// Thread safety: Run of CProcessCommandRunner may be called from several threads at once.
// CurrentCommandRunner may be called from any thread. A runner is put in place or taken away
// (CScopedCommandRunner) only while no other thread runs commands: tests do it on the main
// thread before the work under test starts and after it has ended.

#include <cstdint>
#include <optional>
#include <string>

#include "common/run_process.h"

namespace brimora {

struct CommandOptions {
  // The child's working folder; empty: the caller's.
  std::string workingFolder;
  // Seconds the child may run; kNoTimeLimit waits however long it takes.
  std::uint32_t timeoutSeconds = 600;
  // What the child prints is handed back in CommandResult::output; else it is dropped.
  bool captureOutput = true;
  // Standard error goes into the same capture as standard output; else it is dropped.
  bool stderrToo = false;
  // The caller wants the capture as UTF-8 rather than in the 8-bit character set. Both are
  // UTF-8 on this platform, so the bytes come back unchanged either way.
  bool utf8 = false;
};

struct CommandResult {
  // The child ended by itself within the time-out, no signal ended it, and all of its output
  // was read (RunProcess answered true).
  bool completed = false;
  // Set whenever the child ended by itself: its exit status, or 128 + the signal number when a
  // signal ended it. Empty when it could not be started or was stopped at the time-out.
  std::optional<int> exitCode;
  // What the child printed (so far, when it did not complete); empty without captureOutput.
  std::string output;

  // The command ran to its end and exited with code 0.
  bool Succeeded() const { return completed && exitCode == 0; }
};

class CCommandRunner {
 public:
  virtual ~CCommandRunner() = default;

  // Runs one command line, split and started as RunProcess describes, and waits for it.
  virtual CommandResult Run(const std::string& commandLine, const CommandOptions& options) = 0;
};

// Starts real children through RunProcess, which writes its failures to the trace log.
class CProcessCommandRunner final : public CCommandRunner {
 public:
  CommandResult Run(const std::string& commandLine, const CommandOptions& options) override;
};

// The runner that commands go through: a CProcessCommandRunner unless a CScopedCommandRunner
// has put another one in place.
CCommandRunner& CurrentCommandRunner();

// Makes `runner` the current runner for the lifetime of this object and puts the previous one
// back at its end. Scopes nest; they must end in the reverse order of their start. The runner
// must outlive the scope.
class CScopedCommandRunner {
 public:
  explicit CScopedCommandRunner(CCommandRunner& runner);
  ~CScopedCommandRunner();
  CScopedCommandRunner(const CScopedCommandRunner&) = delete;
  CScopedCommandRunner& operator=(const CScopedCommandRunner&) = delete;

 private:
  CCommandRunner* previous_;
};

}  // namespace brimora
