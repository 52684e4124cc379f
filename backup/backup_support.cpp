#include "backup/backup_support.h"

#include <cerrno>

#include "platform/files.h"

namespace brimora {

bool PathIsMissing(const std::string& path) {
  platform::FileInfo info;
  const int error = platform::GetFileInfo(path, true, &info);
  return error == ENOENT || error == ENOTDIR;
}

bool BackupEntryMissing(const std::string& path) {
  platform::FileInfo info;
  return platform::GetFileInfo(path, false, &info) == ENOENT;
}

}  // namespace brimora
