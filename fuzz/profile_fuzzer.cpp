// The INI reader's line matching and value extraction on any text, section, key and buffer size.

#include <stdio.h>

#include <optional>

#include "common/settings_folder.h"
#include "fuzz/fuzz_target.h"

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The value FindProfileValue finds in `text`, or nothing.
std::optional<std::string> Find(const std::string& text, const std::string& section,
                                const std::string& key, std::size_t size) {
  // fmemopen refuses an empty buffer; a file with no bytes holds no key.
  if (text.empty()) return std::nullopt;
  FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  Check(file != nullptr, "fmemopen works");
  std::string value;
  const bool found = brimora::FindProfileValue(file, section, key, size, value);
  fclose(file);
  return found ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

BRIMORA_FUZZ_TARGET {
  const std::string key = provider.ConsumeRandomLengthString(32);
  const std::string section = provider.ConsumeRandomLengthString(16);
  const std::size_t bufferSize = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  const std::optional<std::string> value = Find(text, section, key, bufferSize);
  if (value) {
    Check(brimora::CountCodePoints(*value) + 1 <= (bufferSize == 0 ? 1 : bufferSize),
          "a value keeps at most size - 1 characters");
    Check(text.find(*value) != std::string::npos, "a value is a piece of the text");
    Check(brimora::Trim(*value) == *value, "a value has no leading or trailing white space");
  }
  // A byte-order mark in front of the text changes nothing, unless the text opens with one
  // itself (only the first mark is skipped).
  if (text.rfind(kByteOrderMark, 0) != 0) {
    Check(Find(kByteOrderMark + text, section, key, bufferSize) == value,
          "a byte-order mark at the start is skipped");
  }
}
