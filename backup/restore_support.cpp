#include "backup/restore_support.h"

#include <cerrno>

#include "backup/restore_messages.h"
#include "common/trace_log.h"
#include "platform/files.h"

namespace brimora {

int LinkOnTheWay(const std::string& base, const std::string& path, bool lastToo) {
  if (base.empty() || path.size() <= base.size() || path.compare(0, base.size(), base) != 0 ||
      (path[base.size()] != '/' && base.back() != '/')) {
    return 0;
  }
  std::size_t position = base.size();
  while (position < path.size()) {
    while (position < path.size() && path[position] == '/') ++position;
    if (position >= path.size()) break;
    std::size_t end = path.find('/', position);
    const bool last = end == std::string::npos || path.find_first_not_of('/', end) == std::string::npos;
    if (end == std::string::npos) end = path.size();
    if (path.compare(position, end - position, "..") == 0) return 0;
    platform::FileInfo info;
    const int rc = platform::GetFileInfo(path.substr(0, end), false, &info);
    if (rc == ENOENT) return 0;
    if (rc != 0) return rc;
    if (info.kind == platform::EntryKind::kLink) {
      if (!last || lastToo) return ELOOP;
    } else if (!last && info.kind != platform::EntryKind::kFolder) {
      return ENOTDIR;
    }
    position = end;
  }
  return 0;
}

bool LiesInside(const std::string& path, const std::string& folder) {
  platform::FileInfo target;
  if (platform::GetFileInfo(folder, false, &target) != 0 || target.kind != platform::EntryKind::kFolder) return false;
  std::string real;
  if (platform::RealPath(path, &real) != 0) return false;
  while (true) {
    platform::FileInfo info;
    if (platform::GetFileInfo(real, false, &info) == 0 && info.id == target.id) return true;
    const std::size_t slash = real.rfind('/');
    if (slash == std::string::npos || real == "/") return false;
    real = slash == 0 ? "/" : real.substr(0, slash);
  }
}

bool ClientMayWorkOn(const std::string& root, const std::string& workingCopy, const std::string& path) {
  int error = LinkOnTheWay(root, path, true);
  if (error == 0) error = LinkOnTheWay(root, workingCopy + "/.svn", true);
  if (error == 0) return true;
  WriteLog(0, messages::kRestoreClientRefused, path, platform::ErrorText(error));
  return false;
}

}  // namespace brimora
