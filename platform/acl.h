#pragma once
// Accounts and folder access lists.
//
// Functions return 0 or the system's error code (an errno value; see platform/files.h
// ErrorText). Thread safety: every function may be called from any thread.

#include <cstdint>
#include <string>

namespace brimora::platform {

// Sets *id to the user id of the account `name`. ENOENT when there is no such account.
int LookupAccount(const std::string& name, std::uint32_t* id);

// Gives the user `id` read and traverse (r-x), with `write` also write (rwx), on `path`: an
// entry in the access list and, for a folder, the same entry in its default list, so files and
// folders made in it later inherit the grant. With keepExisting the other named user and group entries
// stay; without it they are dropped (the owner, group and other entries always stay, as the
// permission bits need them). An entry the user already has is widened, never narrowed. The
// mask entry is recalculated so the grant takes effect. EOPNOTSUPP on a file system without
// access lists.
int GrantUserAccess(const std::string& path, std::uint32_t id, bool write, bool keepExisting);

}  // namespace brimora::platform
