#pragma once
// Starting a child program and collecting what it writes.
//
// The child gets an argument vector (never a shell), standard input from the null device,
// standard output (and, when asked, standard error) on one pipe that the parent reads while it
// waits, so a child that writes more than a pipe holds never blocks. Every child runs with the
// caller's environment and LC_ALL=C.UTF-8, and leads its own process group; at the deadline the
// whole group is sent TERM and, after a short grace, KILL, so nothing the child started keeps
// running. No descriptor of the parent reaches the child other than the three standard ones.
//
// Thread safety: RunChild may be called from several threads at once; each call owns its
// child. It reaps only its own child, so the process must not ignore SIGCHLD.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace brimora::platform {

struct ChildOptions {
  // The child's working folder; empty: the caller's.
  std::string workingFolder;
  // Standard error goes into the same capture as standard output; else to the null device.
  bool captureStderr = false;
  // When the child is still running at this moment, its process group is terminated.
  // None: wait however long it takes.
  std::optional<std::chrono::steady_clock::time_point> deadline;
  // Time between TERM and KILL at the deadline.
  std::chrono::milliseconds terminateGrace{500};
  // Bytes kept at most; the rest is read (so the child never blocks) and dropped.
  std::size_t outputLimit = std::size_t{1} << 30;
};

struct ChildResult {
  // The program was found and executed. When false, `error` says why and nothing else is set.
  bool started = false;
  // The child ended before the deadline (by exit or by a signal it was not sent by us).
  bool ended = false;
  // The deadline passed first: the child's group was terminated and `ended` is false.
  bool timedOut = false;
  // The child's exit status when it ended by exit.
  int exitCode = -1;
  // The signal that ended the child, when one did (0 when it exited).
  int termSignal = 0;
  // Reading the capture failed (`error` holds the cause); `output` may be incomplete.
  bool readFailed = false;
  // More than outputLimit bytes came; `output` holds the first outputLimit.
  bool outputTruncated = false;
  // The bytes read from the child, unchanged.
  std::string output;
  // errno of the step that failed, 0 when none did.
  int error = 0;
};

// Runs argv[0] with the arguments argv[1..]. A program name without "/" is looked up on PATH,
// one with "/" is taken as it is (relative names against the child's working folder).
// An empty argv or an argument holding a NUL byte is not started (error EINVAL).
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options);

}  // namespace brimora::platform
