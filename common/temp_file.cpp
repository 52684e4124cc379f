#include "common/temp_file.h"

#include "common/file_utils.h"
#include "common/strings.h"
#include "platform/files.h"

namespace brimora::Common {
namespace {

constexpr const char kTemporaryEnding[] = ".tmp";
constexpr std::size_t kPrefixCharacters = 3;

}  // namespace

CTempFile::CTempFile(const std::string& extension, const std::string& prefix,
                     bool deleteOnDestruction)
    : deleteOnDestruction_(deleteOnDestruction) {
  std::string folder = platform::SystemTempFolder();
  if (folder.empty()) folder = "./Temp";
  CreateFolders(folder, false);
  std::string name;
  if (platform::CreateUniqueFile(folder, AsciiLower(LeftCodePoints(prefix, kPrefixCharacters)),
                                 kTemporaryEnding, &name) != 0) {
    return;
  }
  if (extension.empty()) {
    path_ = std::move(name);
    return;
  }
  // Only the generated ending changes: a ".tmp" inside the folder's path must stay.
  reservedName_ = name;
  path_ = name.substr(0, name.size() - (sizeof kTemporaryEnding - 1)) +
          (extension.front() == '.' ? extension : "." + extension);
  platform::RemoveFile(path_);
}

CTempFile::~CTempFile() {
  if (!deleteOnDestruction_) return;
  if (!path_.empty()) platform::RemoveFile(path_);
  if (!reservedName_.empty()) platform::RemoveFile(reservedName_);
}

const std::string& CTempFile::Path() const {
  return path_;
}

const std::string& CTempFile::ReservedName() const {
  return reservedName_;
}

}  // namespace brimora::Common
