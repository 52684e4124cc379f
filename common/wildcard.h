#pragma once
// File-name patterns with "*" (any run of characters, none included) and "?" (exactly one
// character), compared without regard to case. As on the system the patterns come from, a
// pattern ending in ".*" also matches the name without that ending, so "*.*" matches every
// name, with or without a dot, and "report.*" matches "report".
//
// Characters are code points of UTF-8; a byte that is not part of well-formed UTF-8 is one
// character of its own and equals only itself. Case is folded for ASCII, Latin-1, Greek and
// Cyrillic letters.
//
// Pure functions, safe from any thread.

#include <string_view>

namespace brimora {

// True when the text holds "*" or "?".
bool HasWildcard(std::string_view text);

// True when the whole name matches the whole pattern.
bool MatchWildcard(std::string_view pattern, std::string_view name);

}  // namespace brimora
