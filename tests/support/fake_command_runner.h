#pragma once
// A command runner for unit tests: starts nothing, records every command line with its options
// and answers from a script; once the script is used up, every command exits with code 0 and
// prints nothing. Not thread-safe: one test thread drives it.

#include <cstddef>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/command_runner.h"

namespace brimora::test {

struct RecordedCommand {
  std::string commandLine;
  CommandOptions options;
};

class CFakeCommandRunner : public CCommandRunner {
 public:
  // Queues the answer to the next command not yet answered.
  void Answer(CommandResult result) { answers_.push_back(std::move(result)); }
  // Queues "ran to its end with this exit code and output".
  void AnswerExit(int exitCode, std::string output = {}) { Answer({true, exitCode, std::move(output)}); }
  // Queues "stopped at the time-out, nothing captured".
  void AnswerTimeOut() { Answer(CommandResult{}); }

  CommandResult Run(const std::string& commandLine, const CommandOptions& options) override {
    commands_.push_back({commandLine, options});
    if (answers_.empty()) return {true, 0, {}};
    CommandResult result = std::move(answers_.front());
    answers_.pop_front();
    return result;
  }

  const std::vector<RecordedCommand>& Commands() const { return commands_; }
  std::vector<std::string> CommandLines() const {
    std::vector<std::string> lines;
    for (const RecordedCommand& command : commands_) lines.push_back(command.commandLine);
    return lines;
  }
  std::size_t AnswersLeft() const { return answers_.size(); }

 private:
  std::deque<CommandResult> answers_;
  std::vector<RecordedCommand> commands_;
};

}  // namespace brimora::test
