#include "common/archive.h"

#include <cstdint>

#include "common/command_runner.h"
#include "common/file_utils.h"
#include "common/run_process.h"
#include "platform/files.h"

namespace brimora {
namespace {

constexpr std::uint32_t kArchiverTimeoutSeconds = 600;

}  // namespace

std::string SevenZipPath() {
  static const std::string path = [] {
    const std::string local = platform::AbsolutePath("7z");
    if (platform::IsExecutableFile(local)) return local;
    for (const char* name : {"7z", "7zz", "7za"}) {
      std::string found = platform::FindOnPath(name);
      if (!found.empty()) return platform::AbsolutePath(found);
    }
    return local;
  }();
  return path;
}

bool ExtractArchive(const std::string& archive, const std::string& destination,
                    bool emptyFirst, const std::string& command) {
  if (archive.empty() || PathIsMissing(archive)) return false;
  std::string workingFolder = destination;
  if (!destination.empty()) {
    bool prepare = !IsFolder(destination);
    if (!prepare && emptyFirst) {
      if (!DeleteFolder(destination)) return false;
      prepare = true;
    }
    if (prepare && !CreateFolders(destination, false)) return false;
  } else {
    const std::size_t slash = archive.find_last_of('/');
    workingFolder = slash == std::string::npos ? "."
                    : slash == 0                ? "/"
                                                : archive.substr(0, slash);
  }
  // The archiver runs in the destination, so a relative archive path would name the wrong
  // file there; an absolute one also cannot be taken for a switch.
  const std::string commandLine = QuoteArgument(SevenZipPath()) + " " +
                                  (command.empty() ? std::string("e") : command) + " -y " +
                                  QuoteArgument(platform::AbsolutePath(archive));
  CommandOptions options;
  options.workingFolder = workingFolder;
  options.timeoutSeconds = kArchiverTimeoutSeconds;
  options.stderrToo = true;
  return CurrentCommandRunner().Run(commandLine, options).Succeeded();
}

}  // namespace brimora
