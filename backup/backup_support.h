#pragma once
// Small path tests shared by the backup steps and the restore areas.

#include <string>

namespace brimora {

// True only when nothing exists at the path (the path or one of its folders is missing).
// A path that exists but cannot be examined (no permission) is not missing: the copy that
// follows then fails and says so, instead of the data being skipped as absent.
bool PathIsMissing(const std::string& path);

}  // namespace brimora
