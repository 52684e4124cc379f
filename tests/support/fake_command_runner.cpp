#include "support/fake_command_runner.h"

#include <utility>

namespace brimora::test {

void CFakeCommandRunner::Answer(CommandResult result) { answers_.push_back(std::move(result)); }

void CFakeCommandRunner::AnswerExit(int exitCode, std::string output) {
  CommandResult result;
  result.completed = true;
  result.exitCode = exitCode;
  result.output = std::move(output);
  Answer(std::move(result));
}

void CFakeCommandRunner::AnswerTimeOut() { Answer(CommandResult{}); }

CommandResult CFakeCommandRunner::DefaultAnswer() {
  CommandResult result;
  result.completed = true;
  result.exitCode = 0;
  return result;
}

CommandResult CFakeCommandRunner::Run(const std::string& commandLine,
                                      const CommandOptions& options) {
  commands_.push_back({commandLine, options});
  if (answers_.empty()) return DefaultAnswer();
  CommandResult result = std::move(answers_.front());
  answers_.pop_front();
  return result;
}

std::vector<std::string> CFakeCommandRunner::CommandLines() const {
  std::vector<std::string> lines;
  for (const RecordedCommand& command : commands_) lines.push_back(command.commandLine);
  return lines;
}

}  // namespace brimora::test
