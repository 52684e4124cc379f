#pragma once
// File and folder operations shared by the backup, the restore, the Subversion runner and the
// search-server code: recursive copy and delete, path normalisation, folder creation, the
// existence test, listings and access grants. Archive extraction is in common/archive.h.
//
// Paths use "/" as the separator; a backslash is an ordinary character of a name. Names are
// bytes and come back exactly as the file system holds them. Listings are sorted by name in
// byte order. Patterns are those of common/wildcard.h ("*.*" matches every name; case is
// ignored); a wildcard may appear only in the last component.
//
// Symbolic links are never followed below the folder a call is given, on either side: the
// copies copy them as links and never write through one, and the deletes remove the links
// themselves (common/tree_walk.h). Listings report links, sockets, FIFOs and devices as files,
// so recursive listings do not descend through links either.
//
// None of these operations writes to the trace log, except the copies' level-1 notices for a
// socket, FIFO or device they skip and for a folder they leave out. None takes a lock; every function may be called
// from any thread, as long as no other thread changes the working folder meanwhile.

#include <cstdint>
#include <string>
#include <vector>

#include "common/tree_walk.h"
#include "platform/files.h"

namespace brimora {

// ListFiles flags.
inline constexpr int kListRecursive = 1;  // descend into subfolders
inline constexpr int kListFolders = 2;    // list folders instead of files

// Copies the folder `source` into `destination`, recursively, replacing files of the same
// name and keeping others already there (common/tree_walk.h, ConflictPolicy::kReplace). The
// destination (every missing folder of its path) is created first, even when the source does
// not exist; a missing source (or one that is not a folder) then answers true. A link at
// `source` or `destination` itself is followed: those are the caller's. The destination, and
// every folder of `leaveOut`, is never entered where it turns up inside the source (each such
// folder is left out with a level-1 notice), so a copy into a folder inside its own source
// ends. Owners, groups, permission bits and access lists follow `ownership` (common/tree_walk.h:
// folders the call creates are finished by FinishMadeFolder once filled). Stops at the first
// failure and answers false, leaving what was copied until then; *failure (when given) then says
// where and why, with the system error code. A source folder that exists but cannot be listed is
// a failure, not an empty copy.
bool CopyFolder(const std::string& source, const std::string& destination, TreeFailure* failure = nullptr,
                const std::vector<platform::FileId>& leaveOut = {},
                platform::Ownership ownership = platform::Ownership::kSource);

// Deletes the folder and everything in it. Answers false, deleting nothing, for an empty path
// or one shorter than 4 characters; otherwise true, whatever could be deleted (entries that
// cannot be removed are left, and so are the folders holding them). Folders without full
// rights for their owner get them first. When `folder` is itself a link, only the link is
// removed.
bool DeleteFolder(const std::string& folder);

// Trims white space at both ends, removes every "/./" step (one pass, so "/././" keeps one) and
// reduces every run of "/" to one. A path that began with two or more "/" (a network path)
// begins with exactly two afterwards; any other path keeps its single leading "/" or none.
std::string NormalizePath(const std::string& path);

// Creates every missing folder of `path`. The last component is a file name when lastIsFile is
// set and is then not created. Answers, without lastIsFile, whether the last folder was created
// by this call (false also when it already existed); with lastIsFile, whether the file's folder
// exists afterwards. A path without any "/" answers true at once, creating nothing. Trailing
// "/" are ignored.
bool CreateFolders(const std::string& path, bool lastIsFile);

// The one existence test: true only when the system answers that nothing is at the path
// (ENOENT: the entry, or a folder on its way, is absent). Anything else is present, and reading
// it decides the rest: a link (dangling or not) is not followed and is there; an entry of another
// kind, one below a file, or one that cannot be examined (no permission) is there too, so the
// copy that reads it fails and says so instead of the data being skipped as absent.
bool PathIsMissing(const std::string& path);

// The kind check for a path the caller names: true when it is a folder, a link at the path itself
// followed (a link to a folder counts). False for anything else, and for a path that cannot be
// examined; where a missing path and one of another kind differ, ask PathIsMissing first.
bool IsFolder(const std::string& path);

// Lists the entries matching `pattern` (a folder path, "/", a name pattern; a pattern without a
// wildcard names one entry exactly) and appends their bare names: files (links, sockets, FIFOs
// and devices included) to *files, folders to *folders, each when given. When the pattern's
// last "." is followed by a fixed text (no wildcard), an entry with a "." in its name must also
// have that exact extension (ignoring case). Answers false when nothing matched the pattern.
// A folder that exists but cannot be listed also answers false, and sets *error (when given)
// to the system error code; a missing folder does not set it.
bool ListFolder(const std::string& pattern, std::vector<std::string>* files,
                std::vector<std::string>* folders, int* error = nullptr);

// Appends folder + "/" + name for every file (folder with kListFolders) of `folder` whose name
// matches `pattern`; with kListRecursive also those of every subfolder, depth first after the
// folder's own entries. Answers the number appended. A folder that cannot be listed sets *error
// (when given), as ListFolder does.
int ListFiles(const std::string& folder, const std::string& pattern,
              std::vector<std::string>& paths, int flags, int* error = nullptr);

// The access mask of "full control" for GrantFolderAccess.
inline constexpr std::uint32_t kAccessAllRights = 0x1FFFFF;

// Gives an account access to a folder: an access-list entry and a default-list entry (inherited
// by what is made in the folder later), keeping the folder's other entries when keepExisting
// is set. The account is looked up as domain + "\" + account (account alone without a domain),
// then as the part after the first "\". The mask is mapped: any write, delete, change or
// generic-all bit gives read, write and traverse (rwx); read, execute or traverse bits alone
// give r-x; a mask with neither changes nothing and answers true. Answers false when the
// account does not exist, the folder is missing or the file system keeps no access lists.
bool GrantFolderAccess(const std::string& folder, const std::string& account,
                       const std::string& domain, std::uint32_t mask, bool keepExisting);

}  // namespace brimora
