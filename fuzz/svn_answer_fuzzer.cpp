// What the Subversion client prints, read by the property and info reads, and the command lines
// the check-in forms: any value and path quoted into a line is split back unchanged.

#include <vector>

#include "common/command_runner.h"
#include "common/run_process.h"
#include "fuzz/fuzz_target.h"
#include "sourcecontrol/checkin.h"
#include "sourcecontrol/svn_client.h"

namespace {

// Answers every command with the fuzzed text and exit code.
class AnswerRunner : public brimora::CCommandRunner {
 public:
  brimora::CommandResult Run(const std::string&, const brimora::CommandOptions&) override {
    return {.completed = true, .exitCode = exitCode, .output = output};
  }
  int exitCode = 0;
  std::string output;
};

}  // namespace

BRIMORA_FUZZ_TARGET {
  AnswerRunner runner;
  brimora::CScopedCommandRunner use(runner);
  runner.exitCode = provider.ConsumeBool() ? 0 : 1;
  const std::string value = provider.ConsumeRandomLengthString(64);
  const std::string path = "/wc/" + provider.ConsumeRandomLengthString(32);
  runner.output = provider.ConsumeRemainingBytesAsString();

  std::int64_t read = 42;
  const bool answered = brimora::GetProperty("/wc/a", "version", read);
  Check(answered || read == 42, "a failed read leaves the value");
  Check(!answered || runner.exitCode == 0 || read == 0, "a missing property reads as 0");
  bool versioned = false;
  brimora::GetFileInfo("/wc/a", versioned);

  // A value and a path (without NUL bytes, which no command line can carry) reach the client
  // as they are; a path holding "@" gets one more at its end.
  if (value.find('\0') != std::string::npos || path.find('\0') != std::string::npos) return;
  const std::vector<std::string> arguments = brimora::SplitCommandLine(
      "svn propset name -- " + brimora::QuotedValue(value) + " " + brimora::SvnPathArgument(path));
  Check(arguments.size() == 6, "one argument each");
  Check(arguments[4] == value, "the value arrives unchanged");
  Check(arguments[5] == (path.find('@') == std::string::npos ? path : path + "@"), "the path arrives as it is");
  Check(brimora::PrepareCommitMessage(value).find_first_of("\r\n") == std::string::npos, "the message is one line");
}
