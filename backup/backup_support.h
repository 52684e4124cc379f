#pragma once
// Small path tests shared by the backup steps and the restore areas.

#include <string>

namespace brimora {

// True only when nothing exists at the path (the path or one of its folders is missing).
// A path that exists but cannot be examined (no permission) is not missing: the copy that
// follows then fails and says so, instead of the data being skipped as absent.
bool PathIsMissing(const std::string& path);

// The restore's one test of an entry of the backup folder: missing only when the system says
// nothing is there (ENOENT). Anything else, a link, an entry of another kind or one that cannot
// be examined, is present, and the copy that reads it decides whether the item is restored.
bool BackupEntryMissing(const std::string& path);

}  // namespace brimora
