#pragma once
// Helpers shared by the tests: temporary folders, whole-file reads, and running the built tool.

#include <string>
#include <vector>

namespace brimora::test {

// A fresh folder under the system temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
std::vector<std::string> ReadLines(const std::string& path);

struct ToolResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

// Runs the built BrimoraUpgrade with the arguments in the given working folder.
ToolResult RunTool(const std::string& workingFolder, const std::vector<std::string>& arguments);

}  // namespace brimora::test
