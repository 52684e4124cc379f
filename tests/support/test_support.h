#pragma once
// Helpers shared by the tests: temporary folders, whole-file reads, and running the built tool.

#include <functional>
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

// The account that tests drop to when they need one without special rights.
inline constexpr unsigned kUnprivilegedId = 65534;

// Why a test that needs an unprivileged account cannot run here, or empty when it can: as root
// the tests drop to kUnprivilegedId; any other account is unprivileged already.
std::string WhyNoUnprivilegedRun();

// Gives the tree at `path` (links themselves, never their targets) to kUnprivilegedId when the
// tests run as root, so the unprivileged runs below may use it; does nothing otherwise.
void GiveToUnprivileged(const std::string& path);

// RunTool as kUnprivilegedId (through setpriv) when the tests run as root; as the current
// account otherwise.
ToolResult RunToolUnprivileged(const std::string& workingFolder, const std::vector<std::string>& arguments);

// Runs `body` in a forked child as kUnprivilegedId (as the current account when not root) and
// answers its exit code; 99 when the account could not be taken, -1 when the child did not
// exit normally.
int RunForkedUnprivileged(const std::function<int()>& body);

}  // namespace brimora::test
