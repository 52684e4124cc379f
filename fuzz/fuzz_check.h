#pragma once
// Property checks of the fuzz targets. A failed check names the property and aborts, which
// libFuzzer reports as a crash and saves the input that broke it.

#include <cstdio>
#include <cstdlib>

namespace brimora::fuzz {

inline void Check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "Property broken: %s\n", property);
  std::abort();
}

}  // namespace brimora::fuzz
