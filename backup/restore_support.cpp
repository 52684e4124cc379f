#include "backup/restore_support.h"

#include <cerrno>

#include "backup/restore_messages.h"
#include "common/paths.h"
#include "common/trace_log.h"
#include "common/tree_walk.h"
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

int CreateInstallationFolder(const std::string& path) {
  platform::Folder parent;
  if (const int error = parent.Open(ParentFolder(path), true); error != 0) return error;
  const std::string name = LastComponent(path);
  if (const int error = parent.CreateChild(name, 0777); error != 0) return error;
  platform::Folder made;
  if (parent.OpenChild(name, &made) == 0) AdoptMadeFolder(made, parent, platform::Ownership::kDestination);
  return 0;
}

int TakePlaceOf(const platform::Folder& parent, const platform::Folder& made, const std::string& replaced) {
  // Anything but a folder there (a link included, never followed) is replaced like nothing.
  platform::Folder old;
  if (parent.OpenChild(replaced, &old) != 0) {
    AdoptMadeFolder(made, parent, platform::Ownership::kDestination);
    return 0;
  }
  platform::FileInfo info;
  if (const int error = old.Describe(&info); error != 0) return error;
  (void)made.SetOwner(info.owner, info.group);  // a file system without owners keeps the copy's
  return made.CopyAccessLists(old);
}

int FinishPlaceOf(const platform::Folder& parent, const platform::Folder& made, const std::string& replaced,
                  const platform::Folder& source) {
  platform::FileInfo info;
  platform::FileInfo given;
  if (const int error = source.Describe(&info); error != 0) return error;
  if (const int error = made.Describe(&given); error != 0) return error;
  platform::Folder old;
  platform::FileInfo kept;
  if (parent.OpenChild(replaced, &old) == 0 && old.Describe(&kept) == 0) {
    given.mode = kept.mode;
  } else {
    given.mode = info.mode & platform::kInstallableModeBits;
  }
  given.accessed = info.accessed;
  given.modified = info.modified;
  return made.ApplyAttributes(given);
}

}  // namespace brimora
