#include "support/test_support.h"

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

ToolResult RunTool(const std::string& workingFolder, const std::vector<std::string>& arguments) {
  std::string commandLine = QuoteArgument(BRIMORA_EXECUTABLE);
  for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);
  ToolResult result;
  if (!RunProcess(commandLine, result.output, &result.exitCode, workingFolder, 120, true, true)) {
    result.exitCode = -1;
  }
  return result;
}

}  // namespace brimora::test
