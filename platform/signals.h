#pragma once
// Stop requests from outside: SIGTERM, SIGINT and SIGHUP (a scheduler's time-out, Ctrl-C, a closed
// terminal) ask a run to end in an orderly way instead of ending the process where it stands.
// The handler only records the signal; the copies look at it between pieces of work and stop,
// the Subversion runner starts no new command, and the run ends with its record and logs
// written. A second such signal while the first is being handled ends the process at once.
//
// Thread safety: every function may be called from any thread.

#include <string>

namespace brimora::platform {

// Routes the three signals to the stop request. Called once at start-up.
void InstallStopSignalHandlers();

// The number of the signal that asked the run to stop, 0 while none has.
int StopSignal();

// "SIGTERM", "SIGINT", "SIGHUP", or "signal N".
std::string SignalName(int signal);

// Sets (or with 0 clears) the stop request, as the handlers do.
void SetStopSignal(int signal);

}  // namespace brimora::platform
