#pragma once
// A command runner for unit tests: starts nothing, records every command line with its options
// and answers from a script.
//
//   test::CFakeCommandRunner fake;
//   CScopedCommandRunner use(fake);
//   fake.AnswerExit(1, "svn: E155004: Working copy locked\n");
//   ... code under test ...
//   EXPECT_EQ(fake.CommandLines(), (std::vector<std::string>{...}));
//
// Not thread-safe: one test thread drives it.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "common/command_runner.h"

namespace brimora::test {

struct RecordedCommand {
  std::string commandLine;
  CommandOptions options;
};

class CFakeCommandRunner : public CCommandRunner {
 public:
  // Queues the answer to the next command not yet answered. Once the queue is empty every
  // command answers DefaultAnswer(): ran to its end, exit code 0, no output.
  void Answer(CommandResult result);
  // Queues "ran to its end with this exit code and output".
  void AnswerExit(int exitCode, std::string output = {});
  // Queues "stopped at the time-out, nothing captured".
  void AnswerTimeOut();

  static CommandResult DefaultAnswer();

  CommandResult Run(const std::string& commandLine, const CommandOptions& options) override;

  const std::vector<RecordedCommand>& Commands() const { return commands_; }
  std::vector<std::string> CommandLines() const;
  // Scripted answers not used yet; a test that expects every one to be used checks for 0.
  std::size_t AnswersLeft() const { return answers_.size(); }

 private:
  std::deque<CommandResult> answers_;
  std::vector<RecordedCommand> commands_;
};

}  // namespace brimora::test
