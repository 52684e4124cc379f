#include "common/folder_copy_engine.h"

#include <cerrno>

#include "common/paths.h"
#include "common/tree_walk.h"

namespace brimora {
namespace {

using platform::FileInfo;
using platform::Folder;

enum class PathKind { kFolder, kFile, kAbsent, kOther };

PathKind Classify(const std::string& path, int* error) {
  FileInfo info;
  *error = platform::GetFileInfo(path, true, &info);
  if (*error == 0) return info.kind == platform::EntryKind::kFolder ? PathKind::kFolder : PathKind::kFile;
  // A dangling link is still a file of its own: it is copied as a link.
  if (*error == ENOENT && platform::GetFileInfo(path, false, &info) == 0) {
    *error = 0;
    return PathKind::kFile;
  }
  if (*error == ENOENT || *error == ENOTDIR) return PathKind::kAbsent;
  return PathKind::kOther;
}

bool IsUsableName(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

// A system error keeps the system's message as the engine's text; a conflict the walk found
// names the place, as no system message would.
[[noreturn]] void ThrowFailure(const TreeFailure& failure) {
  throw CFExeption::FromTextAndCode(failure.conflict ? failure.Description() : failure.text, failure.code);
}

}  // namespace

CFExeption CFExeption::FromCode(int code) {
  return CFExeption(platform::ErrorText(code), static_cast<std::uint32_t>(code));
}

CFExeption CFExeption::FromText(std::string text) { return CFExeption(std::move(text), 0); }

CFExeption CFExeption::FromTextAndCode(std::string text, int code) {
  return CFExeption(std::move(text), static_cast<std::uint32_t>(code));
}

bool CFolderCopyEngine::Copy(const std::string& source, const std::string& destination) {
  failure_ = {};
  try {
    CopyProper(source, destination);
  } catch (const CFExeption& exception) {
    errorText_ = exception.Text();
    errorCode_ = exception.Code();
    return false;
  }
  return true;
}

void CFolderCopyEngine::CopyProper(const std::string& source, const std::string& destination) {
  int sourceError = 0;
  int destinationError = 0;
  const PathKind sourceKind = Classify(source, &sourceError);
  const PathKind destinationKind = Classify(destination, &destinationError);
  if (sourceKind == PathKind::kAbsent) throw CFExeption::FromText(source + " not found");
  if (destinationKind == PathKind::kAbsent) throw CFExeption::FromText(destination + " not found");
  // A path that cannot be examined (no permission, I/O error) is an error, not "nothing to do".
  if (sourceKind == PathKind::kOther) throw CFExeption::FromCode(sourceError);
  if (destinationKind == PathKind::kOther) throw CFExeption::FromCode(destinationError);

  if (sourceKind == PathKind::kFolder) {
    if (destinationKind == PathKind::kFile) throw CFExeption::FromText("Wrong operation");
    CopyFolderInto(source, destination);
  } else if (destinationKind == PathKind::kFolder) {
    CopyFileTo(source, destination, LastComponent(source));
  } else {
    CopyFileTo(source, ParentFolder(destination), LastComponent(destination));
  }
}

void CFolderCopyEngine::CopyFolderInto(const std::string& source, const std::string& destination) {
  Folder from;
  if (const int rc = from.Open(source, true); rc != 0) {
    if (rc == ENOENT || rc == ENOTDIR) throw CFExeption::FromText(source + " not found");
    throw CFExeption::FromCode(rc);
  }
  Folder into;
  if (const int rc = into.Open(destination, true); rc != 0) throw CFExeption::FromCode(rc);

  // The folder keeps its own name; a path that ends in "." or ".." names it only after
  // resolving, and a name of "", "." or ".." would put the copy beside the destination.
  std::string name = LastComponent(source);
  if (!IsUsableName(name)) {
    std::string real;
    if (platform::RealPath(source, &real) == 0) name = LastComponent(real);
    if (!IsUsableName(name)) throw CFExeption::FromText(source + " has no name of its own to copy under");
  }

  FileInfo sourceInfo;
  if (const int rc = from.Describe(&sourceInfo); rc != 0) throw CFExeption::FromCode(rc);
  // Already in its place: the destination holds the source itself under its name.
  FileInfo existing;
  if (into.DescribeChild(name, &existing) == 0 && existing.id == sourceInfo.id) return;

  const std::string targetPath = JoinPath(into.Path(), name);
  bool created = false;
  if (const int rc = into.CreateChild(name, platform::kOwnerAllRights); rc == 0) {
    created = true;
  } else if (rc != EEXIST) {
    failure_ = {rc, targetPath, platform::ErrorText(rc), false};
    throw CFExeption::FromCode(rc);
  }
  Folder target;
  if (const int rc = into.OpenChild(name, &target); rc != 0) {
    failure_ = {rc, targetPath, platform::ErrorText(rc), false};
    if (rc == ELOOP) failure_ = {rc, targetPath, "is a symbolic link where a folder is needed; it is not followed", true};
    ThrowFailure(failure_);
  }

  TreeCopyOptions options;
  options.conflict = ConflictPolicy::kNextFreeName;
  options.leaveOut = leaveOut_;
  FileInfo destinationInfo;
  if (into.Describe(&destinationInfo) == 0) options.leaveOut.push_back(destinationInfo.id);
  if (!CopyFolderTree(from, target, options, &failure_)) ThrowFailure(failure_);
  if (created) FinishMadeFolder(target, from, platform::Ownership::kSource);
}

void CFolderCopyEngine::CopyFileTo(const std::string& source, const std::string& destinationFolder,
                                   const std::string& name) {
  Folder from;
  if (const int rc = from.Open(ParentFolder(source), true); rc != 0) throw CFExeption::FromCode(rc);
  Folder to;
  if (const int rc = to.Open(destinationFolder, true); rc != 0) throw CFExeption::FromCode(rc);
  if (!CopyFileEntry(from, LastComponent(source), to, name, ConflictPolicy::kNextFreeName, &failure_)) {
    ThrowFailure(failure_);
  }
}

std::string CFolderCopyEngine::NextCopyName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return folder + brimora::NextCopyName(slash == std::string::npos ? path : path.substr(slash + 1));
}

bool CFolderCopyEngine::Delete(const std::string& path) {
  failure_ = {};
  const TreeDeleteResult result = DeleteTree(path, true);
  if (result.undeletableFileMet) undeletable_ = true;
  if (!result.failed) return true;
  errorText_ = result.failure.text;
  errorCode_ = static_cast<std::uint32_t>(result.failure.code);
  failure_ = result.failure;
  return result.failure.code == 0;
}

}  // namespace brimora
