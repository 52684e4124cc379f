#pragma once
// Conversion between "file:" URLs and local paths.

#include <string>
#include <string_view>

namespace brimora {

// Converts a file URL into a local path, the way the system's URL-to-path conversion does:
//   file:///srv/svn/repo        -> /srv/svn/repo
//   file://localhost/srv/repo   -> /srv/repo (the host "localhost" means this machine)
//   file://host/share/repo      -> //host/share/repo (a network path)
// The scheme and "localhost" are matched without regard to case; percent-escapes are decoded
// (an escape that is not two hexadecimal digits stays as written). Answers false, leaving path
// unchanged, for anything else: another scheme, no "//" after "file:", a network URL without a
// path, or an escape that decodes to a NUL byte. Thread safe (no state).
bool FileUrlToPath(std::string_view url, std::string& path);

// The file URL of the absolute local path `path`: every byte but ASCII letters, digits, "-._~"
// and "/" is percent-escaped, so any name (spaces, "%", bytes that are not UTF-8) survives the
// way back through FileUrlToPath.
std::string PathToFileUrl(std::string_view path);

}  // namespace brimora
