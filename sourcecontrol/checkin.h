#pragma once
// Check-in of one file or folder of the FileStorage working copy: added when not yet versioned,
// brought up to date, committed with a message, the user's name and the revision properties of
// its kind, and brought up to date again.
//
// Thread safety: may be called from any thread; every client command takes RepositoryLock()
// by itself, so a check-in as a whole is not atomic.

#include <climits>
#include <cstddef>
#include <string>

namespace brimora {

// The longest path the client is handed: the length in bytes of the absolute path plus 31 must
// stay below it.
inline constexpr std::size_t kMaximumEncodedPath = PATH_MAX;

// The user as the "username" property shows it: "svcagent4" in any case becomes
// "N/A (External Client/User)".
std::string DisplayUser(const std::string& user);

// The comment as the commit message: carriage returns and line feeds removed. The command line
// quotes it, so quotes and backslashes reach the client as they are.
std::string PrepareCommitMessage(const std::string& comment);

// Resolves and commits `path` with its versioned properties ("version", "username", and those
// of docflows and modules) and revision properties ("username", "docflow_save_action", the
// module values). A failed commit whose text asks for a clean-up is cleaned up and retried
// once. True only when the properties, the update before the commit, the resolve and the
// commit all succeeded; nothing is written to the log.
bool CommitFile(const std::string& path, const std::string& comment, const std::string& user);

// Adds `path` alone (depth empty) when it is not versioned (refused when the absolute path plus
// 31 reaches `maximumPath`), or updates it when it is, then commits it alone and updates it
// again. Every failed
// step writes its level-0 line naming the path; nothing is undone. True when every step
// succeeded.
bool CheckinFile(const std::string& path, const std::string& comment, const std::string& user,
                 std::size_t maximumPath = kMaximumEncodedPath);

}  // namespace brimora
