#include "support/test_support.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/run_process.h"

namespace brimora::test {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brimora-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << contents;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {

ToolResult RunCommandLine(std::string commandLine, const std::string& workingFolder,
                          const std::vector<std::string>& arguments) {
  commandLine += QuoteArgument(BRIMORA_EXECUTABLE);
  for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);
  ToolResult result;
  if (!RunProcess(commandLine, result.output, &result.exitCode, workingFolder, 120, true, true)) {
    result.exitCode = -1;
  }
  return result;
}

}  // namespace

ToolResult RunTool(const std::string& workingFolder, const std::vector<std::string>& arguments) {
  return RunCommandLine("", workingFolder, arguments);
}

std::string WhyNoUnprivilegedRun() {
  if (geteuid() != 0) return {};
  std::string output;
  if (!RunProcess("setpriv --version", output)) return "setpriv (util-linux) is needed to drop to another account";
  return {};
}

void GiveToUnprivileged(const std::string& path) {
  if (geteuid() != 0) return;
  std::error_code ignored;
  lchown(path.c_str(), kUnprivilegedId, kUnprivilegedId);
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, ignored))) return;
  for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    lchown(it->path().c_str(), kUnprivilegedId, kUnprivilegedId);
  }
}

ToolResult RunToolUnprivileged(const std::string& workingFolder, const std::vector<std::string>& arguments) {
  if (geteuid() != 0) return RunTool(workingFolder, arguments);
  const std::string id = std::to_string(kUnprivilegedId);
  return RunCommandLine("setpriv --reuid=" + id + " --regid=" + id + " --clear-groups ", workingFolder, arguments);
}

int RunForkedUnprivileged(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0 ||
                           setresuid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0)) {
      _exit(99);
    }
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace brimora::test
