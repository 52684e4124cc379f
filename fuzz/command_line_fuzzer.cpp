// The command-line splitter on any text, and the quoting round trip on any list of arguments:
// each argument quoted, joined by runs of blanks, and split again gives the list back.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/run_process.h"
#include "fuzz/fuzz_check.h"

using brimora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> split = brimora::SplitCommandLine(text);
  for (const std::string& argument : split) {
    Check(argument.size() <= text.size(), "an argument is no longer than the line");
  }

  FuzzedDataProvider provider(data, size);
  std::vector<std::string> arguments;
  std::string line = std::string(provider.ConsumeIntegralInRange<int>(0, 2), ' ');
  while (provider.remaining_bytes() > 0 && arguments.size() < 16) {
    arguments.push_back(provider.ConsumeRandomLengthString(64));
    line += brimora::QuoteArgument(arguments.back());
    // Arguments are separated by one or more blanks, spaces or tabs.
    const int blanks = provider.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < blanks; ++i) line += provider.ConsumeBool() ? '\t' : ' ';
  }
  Check(brimora::SplitCommandLine(line) == arguments, "quoting and splitting gives the list back");
  return 0;
}
