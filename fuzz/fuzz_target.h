#pragma once
// What every fuzz target shares: the entry libFuzzer calls, and property checks. A failed check
// names the property and aborts, which libFuzzer reports as a crash, saving the input that broke it.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/strings.h"

namespace brimora::fuzz {

inline void Check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "Property broken: %s\n", property);
  std::abort();
}

inline bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if ((length = Utf8SequenceLength(text, i)) == 0) return false;
  }
  return true;
}

}  // namespace brimora::fuzz

// Defines the target's body, which sees the input both as `input` and through `provider`.
#define BRIMORA_FUZZ_TARGET                                                             \
  static void FuzzOne(std::string_view input, FuzzedDataProvider& provider);            \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {   \
    FuzzedDataProvider provider(data, size);                                             \
    FuzzOne(std::string_view(reinterpret_cast<const char*>(data), size), provider);      \
    return 0;                                                                            \
  }                                                                                      \
  static void FuzzOne([[maybe_unused]] std::string_view input, [[maybe_unused]] FuzzedDataProvider& provider)

using brimora::fuzz::Check;
