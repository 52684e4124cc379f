// The command-line splitter on any text, and the quoting round trip on any list of arguments:
// each argument quoted, joined by runs of blanks, and split again gives the list back.

#include <vector>

#include "common/run_process.h"
#include "fuzz/fuzz_target.h"

BRIMORA_FUZZ_TARGET {
  for (const std::string& argument : brimora::SplitCommandLine(input)) {
    Check(argument.size() <= input.size(), "an argument is no longer than the line");
  }
  std::vector<std::string> arguments;
  std::string line = std::string(provider.ConsumeIntegralInRange<int>(0, 2), ' ');
  while (provider.remaining_bytes() > 0 && arguments.size() < 16) {
    arguments.push_back(provider.ConsumeRandomLengthString(64));
    line += brimora::QuoteArgument(arguments.back());
    // Arguments are separated by one or more blanks, spaces or tabs.
    for (int blanks = provider.ConsumeIntegralInRange<int>(1, 3); blanks > 0; --blanks) {
      line += provider.ConsumeBool() ? '\t' : ' ';
    }
  }
  Check(brimora::SplitCommandLine(line) == arguments, "quoting and splitting gives the list back");
}
