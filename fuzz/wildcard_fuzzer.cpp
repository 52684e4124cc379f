// The wildcard matcher on any pattern and name.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/wildcard.h"
#include "fuzz/fuzz_check.h"

using brimora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string pattern = provider.ConsumeRandomLengthString(256);
  const std::string name = provider.ConsumeRemainingBytesAsString();

  const bool matches = brimora::MatchWildcard(pattern, name);
  const bool hasWildcard = brimora::HasWildcard(pattern);
  Check(hasWildcard == (pattern.find_first_of("*?") != std::string::npos),
        "HasWildcard answers whether there is a * or ?");
  if (!hasWildcard) {
    Check(brimora::MatchWildcard(pattern, pattern), "a pattern without wildcards matches itself");
  }
  Check(brimora::MatchWildcard("*", name), "* matches every name");
  Check(brimora::MatchWildcard("*.*", name), "*.* matches every name");
  if (matches) {
    Check(brimora::MatchWildcard("*" + pattern, name), "a leading * keeps a match");
  }
  return 0;
}
