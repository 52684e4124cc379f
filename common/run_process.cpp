#include "common/run_process.h"

#include <chrono>

#include "common/trace_log.h"
#include "platform/files.h"
#include "platform/process.h"

namespace brimora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  const std::size_t size = commandLine.size();
  for (;;) {
    while (i < size && IsBlank(commandLine[i])) ++i;
    if (i == size) break;

    std::string argument;
    bool quoted = false;
    for (;;) {
      std::size_t backslashes = 0;
      while (i < size && commandLine[i] == '\\') {
        ++backslashes;
        ++i;
      }
      bool keep = true;
      if (i < size && commandLine[i] == '"') {
        if (backslashes % 2 == 0) {
          if (quoted && i + 1 < size && commandLine[i + 1] == '"') {
            ++i;  // "" inside quotes: the second one is kept as a literal quote
          } else {
            keep = false;
            quoted = !quoted;
          }
        }
        backslashes /= 2;
      }
      argument.append(backslashes, '\\');
      if (i == size || (!quoted && IsBlank(commandLine[i]))) break;
      if (keep) argument.push_back(commandLine[i]);
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\f\r\"") == std::string_view::npos) {
    return std::string(argument);
  }
  return QuoteArgumentAlways(argument);
}

std::string QuoteArgumentAlways(std::string_view argument) {
  std::string quoted = "\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == '\\') {
      ++backslashes;
      ++i;
    }
    if (i == argument.size()) {
      // They precede the closing quote: double them so it still closes.
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (argument[i] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted.push_back(argument[i]);
  }
  quoted.push_back('"');
  return quoted;
}

bool RunProcess(const std::string& commandLine, std::string& output, int* exitCode,
                const std::string& workingFolder, std::uint32_t timeoutSeconds, bool utf8,
                bool stderrToo) {
  // The capture is kept byte for byte whatever `utf8` says (see the header).
  (void)utf8;
  output.clear();

  std::vector<std::string> argv = SplitCommandLine(commandLine);
  if (argv.empty()) {
    WriteLogText(0, kRunProcessEmptyCommand);
    return false;
  }
  const std::string& program = argv.front();

  platform::ChildOptions options;
  options.workingFolder = workingFolder;
  options.captureStderr = stderrToo;
  if (timeoutSeconds != kNoTimeLimit) {
    options.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  }

  platform::ChildResult result = platform::RunChild(argv, options);
  output = std::move(result.output);
  if (!result.started) {
    WriteLog(0, kRunProcessStartFailed, program, result.error, platform::ErrorText(result.error));
    return false;
  }
  if (result.timedOut) {
    WriteLog(0, kRunProcessTimedOut, program, timeoutSeconds);
    return false;
  }
  if (result.ended && exitCode != nullptr) {
    *exitCode = result.termSignal != 0 ? 128 + result.termSignal : result.exitCode;
  }
  if (result.readFailed) {
    WriteLog(0, kRunProcessReadFailed, program, result.error, platform::ErrorText(result.error));
    return false;
  }
  if (result.outputTruncated) {
    // Part of the answer is missing; acting on the rest could be wrong.
    WriteLog(0, kRunProcessOutputTooLarge, program, options.outputLimit);
    return false;
  }
  if (!result.ended) {
    WriteLog(0, kRunProcessWaitFailed, program, result.error, platform::ErrorText(result.error));
    return false;
  }
  if (result.termSignal != 0) {
    // It did not finish its work: a crash or a kill is not a result to act on.
    WriteLog(0, kRunProcessKilled, program, result.termSignal);
    return false;
  }
  return true;
}

}  // namespace brimora
