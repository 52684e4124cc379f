// The wildcard matcher on any pattern and name.

#include "common/wildcard.h"
#include "fuzz/fuzz_target.h"

using brimora::MatchWildcard;

BRIMORA_FUZZ_TARGET {
  const std::string pattern = provider.ConsumeRandomLengthString(256);
  const std::string name = provider.ConsumeRemainingBytesAsString();
  const bool hasWildcard = brimora::HasWildcard(pattern);
  Check(hasWildcard == (pattern.find_first_of("*?") != std::string::npos),
        "HasWildcard answers whether there is a * or ?");
  Check(hasWildcard || MatchWildcard(pattern, pattern), "a pattern without wildcards matches itself");
  Check(MatchWildcard("*", name) && MatchWildcard("*.*", name), "* and *.* match every name");
  Check(!MatchWildcard(pattern, name) || MatchWildcard("*" + pattern, name), "a leading * keeps a match");
}
