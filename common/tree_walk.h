#pragma once
// The one recursive walk behind every folder copy, merge and delete of the program (CopyFolder,
// DeleteFolder and the folder copy engine). It works on open folders (platform::Folder), one
// per level, and names every entry relative to its folder, so nothing below the roots it was
// given is ever reached through a symbolic link, on either side:
// - links in the source are copied as links;
// - a link in the destination where a folder is needed is a conflict that fails the copy;
// - files are written under no name and named only when complete, so a file name never stands
//   for a partial copy, and a file already there is replaced in one step or left alone
//   (by the conflict policy), never written through;
// - a delete removes links, never what they point to.
// A source folder that is the destination (or one of the folders the caller names) is never
// entered, so a copy into a folder inside its own source ends instead of copying itself.
//
// Sockets, FIFOs and devices are never opened: they are skipped with a level-1 trace-log line,
// and so is every folder left out. Failures are not logged here; they are answered in a
// TreeFailure for the caller to report.
//
// Thread safety: every function may be called from any thread; calls are independent.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace brimora {

// Level-1 trace-log notices of the walk ("%s": the path).
inline constexpr const char kSpecialFileSkipped[] =
    "INFO: CopyFile - \"%s\" is a socket, FIFO or device, not a file. Skipping...\n";
inline constexpr const char kFolderLeftOut[] =
    "INFO: CopyFolder - \"%s\" is a folder this copy writes into; it is left out of the copy.\n";

// What happens to a file whose name is already taken in the destination.
enum class ConflictPolicy {
  kReplace,       // the file there (or a link there) is replaced
  kNextFreeName,  // it stays; the copy takes the next free name of the "Copy of" series
};

// Why a walk stopped.
struct TreeFailure {
  int code = 0;          // the system error code (for a conflict the walk found, the nearest one)
  std::string path;      // the file or folder where it happened
  std::string text;      // the system's message for the code, or what the walk found there
  bool conflict = false; // the walk found the conflict itself; no system call failed

  // One sentence for a log line: "\"<path>\": <system message>" or "\"<path>\" <what was found>".
  std::string Description() const;
};

struct TreeCopyOptions {
  ConflictPolicy conflict = ConflictPolicy::kReplace;
  // Whose owner, group, permission bits and access lists what the copy writes gets.
  platform::Ownership ownership = platform::Ownership::kSource;
  // Folders never entered wherever they turn up in the source, besides the destination itself
  // (for example the backup folder of the run).
  std::vector<platform::FileId> leaveOut;
};

// Copies everything in `source` into `destination`, recursively, merging into folders that
// are already there. Folders the copy creates are writable by it until they are filled and then
// get their attributes as FinishMadeFolder says (with kDestination, the owner of the folder
// they are made in from the start, so that what is made in them follows); a folder that is
// already there keeps its attributes, and when it is not writable it is made writable for the
// copy and given its mode back after it. Stops at the first failure and answers false with
// *failure set; what was copied until then stays.
bool CopyFolderTree(const platform::Folder& source, const platform::Folder& destination,
                    const TreeCopyOptions& options, TreeFailure* failure);

// Copies one file or link (`name` in `from`) to `targetName` in `to` under the conflict policy.
bool CopyFileEntry(const platform::Folder& from, const std::string& name, const platform::Folder& to,
                   const std::string& targetName, ConflictPolicy conflict, TreeFailure* failure,
                   platform::Ownership ownership = platform::Ownership::kSource);

// A folder a copy has just made in `parent`: with kDestination it takes the owner and group of
// `parent` (it inherited the default access list already); with kSource nothing changes yet.
void AdoptMadeFolder(const platform::Folder& made, const platform::Folder& parent, platform::Ownership ownership);
// A folder a copy has made and filled gets the times of the folder `source` and, with kSource,
// its permission bits, access lists and (as root) owner and group; with kDestination its
// permission bits within platform::kInstallableModeBits, keeping its own owner and lists.
void FinishMadeFolder(const platform::Folder& made, const platform::Folder& source, platform::Ownership ownership);

struct TreeDeleteResult {
  // A file whose missing write permission could not be given back was left, with its folders.
  bool undeletableFileMet = false;
  TreeFailure failure;  // the first failure
  bool failed = false;
};

// Deletes the file, link or folder at `path` with everything in it; a link at `path` itself is
// removed, not followed. A folder without full rights for its owner gets them before it is
// emptied; a file without write permission for its owner gets it before it is removed, and
// when that cannot be done the file is left (undeletableFileMet). With stopAtFirstFailure the
// delete ends at the first failure; otherwise it goes on and only the first is kept. A failure
// to remove a folder is ignored once an undeletable file has been met.
TreeDeleteResult DeleteTree(const std::string& path, bool stopAtFirstFailure);

// The name that follows `name` (a bare file name) in the series "Copy of x", "Copy (1) of x",
// "Copy (2) of x", ... Only a name beginning with "Copy of " or "Copy (<digits>) of " is read as
// a name of the series; any other name x is its start and gets "Copy of x". The number may grow
// without limit.
std::string NextCopyName(const std::string& name);

// How many names the copy tries for one file before it gives up.
inline constexpr int kMaxCopyNameTries = 10000;

}  // namespace brimora
