#pragma once
// Driving the Subversion command-line client: one command line at a time, under the
// process-wide repository lock, through the current command runner.
//
// Command lines. Every command line starts with the Subversion command (SvnCommand(), placed
// unchanged) and names its paths after "--", so that no path or value can be read as an
// option. Every path and quoted value is formed by SvnPathArgument / QuotedValue, which quote
// it so that the client receives exactly the given text: the client reads paths literally, so
// no escaped spelling is ever formed. A path holding "@" gets one "@" appended: the client reads
// the last "@" of a path as the start of a peg revision, and an empty peg revision leaves the
// path as it was. The client runs with LC_ALL=C.UTF-8 (see RunProcess).
//
// Thread safety: every function may be called from any thread; the client runs one command at
// a time for the whole process. SetSvnCommand must not run while another thread runs commands.

#include <cstdint>
#include <string>
#include <string_view>

namespace brimora {

class CFailsafeLock;

// The lock "csRepository" that serialises all Subversion work of the process. It is re-entrant:
// a thread that holds it across several commands takes it again inside each ExecuteCommand.
CFailsafeLock& RepositoryLock();

// Seconds a client command may run before it is ended (with its process group).
inline constexpr std::uint32_t kSvnTimeoutSeconds = 600;

// Runs one client command line under RepositoryLock, standard output and standard error in
// one capture, at most kSvnTimeoutSeconds. `output` receives the capture (what was printed up
// to the time-out when the child was ended). True only when the child ran to its end and
// exited with code 0. On failure the last error line of the capture ("svn: E...") goes to the
// trace log (messages::kClientAnswered); callers write their own line.
bool ExecuteCommand(const std::string& commandLine, std::string& output);

// The working copy that clean-ups repair, an absolute path (the installation's FileStorage
// working copy); empty until set, and then no clean-up runs.
void SetCleanupTarget(const std::string& workingCopy);

// The command that starts the client: "svn" (found on PATH) until replaced. A replacement is a
// ready-made first token, such as a quoted path, and is placed unchanged.
void SetSvnCommand(const std::string& command);
std::string SvnCommand();

// The command-line argument for a path: the path as it is, with one "@" appended when it holds
// an "@", in double quotes.
std::string SvnPathArgument(const std::string& path);

// A value in double quotes, escaped so that the client receives exactly `value` (quotes,
// backslashes, blanks and line breaks included).
std::string QuotedValue(std::string_view value);

// "svn info --xml": true when the command ran and its answer parsed as XML; `versioned` then
// tells whether the answer holds an entry. On false `versioned` is left as it was.
bool GetFileInfo(const std::string& path, bool& versioned);

// "svn update --non-interactive --ignore-externals": an external definition never makes the
// client fetch from another repository. When it fails and the client's text holds "cleanup",
// "locked" or "locks" (case-sensitive), the FileStorage working copy is cleaned up and the
// update is run once more. True when the update (or its one retry) succeeded.
bool UpdateFile(const std::string& path);

// True when a failed command's text asks for a clean-up of the working copy.
bool NeedsCleanup(std::string_view output);

// "svn cleanup" of the clean-up target (SetCleanupTarget); false without one.
bool CleanupWorkingCopy();

// "svn status --depth empty --ignore-externals": true when the command ran; `change` then holds what it printed,
// empty when the path has no local change (a path that does not exist has none).
bool GetLocalChange(const std::string& path, std::string& change);

// "svn info --non-interactive --show-item repos-root-url" and "repos-uuid" of a working copy
// path or a URL: the root URL and UUID of its repository, as the client writes them. For a
// working copy this reads only the working copy. False, leaving both as they were, when either command failed.
bool GetRepositoryIdentity(const std::string& target, std::string& rootUrl, std::string& uuid);

// "svn upgrade" of `path`.
bool UpgradeWorkingCopy(const std::string& path);

// "svn propset NAME -- VALUE PATH". An empty value sets an empty property.
bool SetProperty(const std::string& path, const std::string& name, const std::string& value);

// "svn propget --xml NAME -- PATH". A property that does not exist reads as 0: the client
// reports it with warning W200017 (looked for anywhere in its text, in any case), or answers
// XML without the property. Otherwise the value is the integer at the start of the property's
// text (leading white space, optional sign, digits; 0 without digits; saturated at the limits
// of the type). False, leaving `value` as it was, when the client failed otherwise or its
// answer is not XML.
bool GetProperty(const std::string& path, const std::string& name, std::int64_t& value);

}  // namespace brimora
