#pragma once
// Running a command line as a child program and capturing what it prints.
//
// A command line is one string, split into arguments by the rules of the Windows C runtime
// (below) and executed directly: no shell ever sees it, so no text taken from a file name, a
// setting or a message can run as a command. Build command lines with QuoteArgument for every
// value that is not a fixed word.
//
// Thread safety: every function may be called from any thread; RunProcess calls are
// independent of each other.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brimora {

// The time-out that means "wait however long it takes".
constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFFu;

// Trace-log messages of RunProcess (level 0). Each names the program, never the whole command
// line, which may carry values that do not belong in a log.
inline constexpr const char kRunProcessEmptyCommand[] =
    "ERROR: RunProcess - The command line names no program.\n";
inline constexpr const char kRunProcessStartFailed[] =
    "ERROR: RunProcess - Cannot start \"%s\". Error Code %d - %s\n";
inline constexpr const char kRunProcessTimedOut[] =
    "ERROR: RunProcess - \"%s\" did not end within %u seconds; it was stopped with everything "
    "it started.\n";
inline constexpr const char kRunProcessKilled[] =
    "ERROR: RunProcess - \"%s\" was ended by signal %d.\n";
inline constexpr const char kRunProcessWaitFailed[] =
    "ERROR: RunProcess - Cannot wait for \"%s\" to end. Error Code %d - %s\n";
inline constexpr const char kRunProcessOutputTooLarge[] =
    "ERROR: RunProcess - \"%s\" wrote more than %u bytes; the rest was dropped.\n";
inline constexpr const char kRunProcessReadFailed[] =
    "ERROR: RunProcess - Cannot read the output of \"%s\". Error Code %d - %s\n";

// Splits a command line into arguments:
// - blanks (space, tab) outside double quotes separate arguments; any other character,
//   line breaks included, belongs to the argument;
// - a double quote toggles quoting and is dropped;
// - 2n backslashes followed by a double quote give n backslashes and the quote toggles;
//   2n+1 backslashes followed by a double quote give n backslashes and a literal quote;
//   backslashes not followed by a double quote are literal;
// - inside quotes, two double quotes in a row give one literal quote and quoting goes on;
// - "" outside quotes is an empty argument.
// The program name (the first argument) follows the same rules, so a quoted program path
// holding a double quote or ending in a backslash is read back exactly as QuoteArgument wrote it.
// NUL bytes are ordinary characters here; RunProcess refuses a command line holding one.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged, in any position.
// An argument that needs no quoting (not empty; no blank, tab, line break or double quote) is
// returned as it is. Bytes are kept as they are, valid UTF-8 or not.
std::string QuoteArgument(std::string_view argument);

// Like QuoteArgument, but always in double quotes, even when the argument needs none.
std::string QuoteArgumentAlways(std::string_view argument);

// Runs the command line and waits for it.
// - The first argument is the program: looked up on PATH when it holds no "/", else taken as a
//   path (a relative one against the child's working folder).
// - Standard input is the null device, so a program that would ask a question fails at once.
// - output receives standard output, and standard error too when stderrToo, else standard error
//   is discarded. The bytes are kept as the child wrote them: the system's 8-bit character set
//   and UTF-8 are the same here, and file names in the output must come back byte for byte, so
//   `utf8` changes nothing.
// - workingFolder: the child's working folder; empty: the caller's.
// - timeoutSeconds: kNoTimeLimit waits without limit. A child still running at the time-out is
//   sent TERM with its whole process group, then KILL after half a second; the call answers
//   false with what was captured so far.
// - exitCode (when given) is set only when the child ended by itself: its exit status, or
//   128 + the signal number when a signal ended it.
// Answers true only when the child exited by itself within the time-out and all of its output
// was read. A program that cannot be started, a child ended by a signal, a time-out, a failed
// read and an output above 1 GiB (only the first GiB is kept) answer false; each is written to
// the trace log.
bool RunProcess(const std::string& commandLine, std::string& output, int* exitCode = nullptr,
                const std::string& workingFolder = {}, std::uint32_t timeoutSeconds = 600,
                bool utf8 = false, bool stderrToo = false);

}  // namespace brimora
