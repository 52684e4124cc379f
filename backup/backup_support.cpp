#include "backup/backup_support.h"

#include <cerrno>

#include "platform/files.h"

namespace brimora {

bool PathIsMissing(const std::string& path) {
  platform::FileInfo info;
  const int error = platform::GetFileInfo(path, true, &info);
  return error == ENOENT || error == ENOTDIR;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace brimora
