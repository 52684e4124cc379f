#include "common/file_utils.h"

#include <cerrno>
#include <cstddef>

#include "common/paths.h"
#include "common/strings.h"
#include "common/tree_walk.h"
#include "common/wildcard.h"
#include "platform/acl.h"
#include "platform/files.h"

namespace brimora {
namespace {

using platform::EntryKind;
using platform::FolderEntry;

constexpr std::size_t kShortestDeletablePath = 4;
constexpr const char kWhiteSpace[] = " \t\r\n\v\f";

// Windows access-mask bits that change something: data, attributes, extended attributes,
// children, the object itself, its access list or owner, and the generic write and all rights.
constexpr std::uint32_t kWriteBits = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 |
                                     0x80000 | 0x10000000 | 0x40000000;
// Bits that read or traverse: data, extended attributes, execute, attributes, the security
// description, and the generic read and execute rights.
constexpr std::uint32_t kReadBits = 0x1 | 0x8 | 0x20 | 0x80 | 0x20000 | 0x20000000 | 0x80000000;

// One folder of a copy's destination path; one it makes follows the ownership rules.
void MakeFolder(const std::string& path, platform::Ownership ownership) {
  if (platform::CreateFolder(path) != 0 || ownership == platform::Ownership::kSource) return;
  platform::Folder parent;
  platform::Folder made;
  if (parent.Open(ParentFolder(path), true) == 0 && parent.OpenChild(LastComponent(path), &made) == 0) {
    AdoptMadeFolder(made, parent, ownership);
  }
}

// Every folder of the path, the last included; failures (mostly "already there") are left for
// the copy that follows to report.
void EnsureFolderPath(const std::string& path, platform::Ownership ownership) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (path[slash - 1] != '/') MakeFolder(path.substr(0, slash), ownership);
  }
  MakeFolder(path, ownership);
}

bool CopyTree(const std::string& source, const std::string& destination,
              const std::vector<platform::FileId>& leaveOut, platform::Ownership ownership, TreeFailure* failure) {
  platform::Folder from;
  const int opened = from.Open(source, true);
  const bool created = PathIsMissing(destination);
  if (created) EnsureFolderPath(destination, ownership);
  if (opened == ENOENT || opened == ENOTDIR) return true;
  if (opened != 0) {
    *failure = {opened, source, platform::ErrorText(opened)};
    return false;
  }
  platform::Folder to;
  if (const int rc = to.Open(destination, true); rc != 0) {
    *failure = {rc, destination, platform::ErrorText(rc)};
    return false;
  }
  platform::FileInfo sourceInfo;
  platform::FileInfo destinationInfo;
  if (from.Describe(&sourceInfo) == 0 && to.Describe(&destinationInfo) == 0 &&
      sourceInfo.id == destinationInfo.id) {
    return true;  // a folder copied onto itself is already complete
  }
  TreeCopyOptions options;
  options.leaveOut = leaveOut;
  options.ownership = ownership;
  if (!CopyFolderTree(from, to, options, failure)) return false;
  // Attributes last: a read-only source folder must not stop its own copy from being filled.
  if (created) FinishMadeFolder(to, from, ownership);
  return true;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  std::string result;
  std::size_t start = 0;
  for (std::size_t found = text.find(from); found != std::string::npos;
       found = text.find(from, start)) {
    result.append(text, start, found - start);
    result += to;
    start = found + from.size();
  }
  result.append(text, start);
  text = std::move(result);
}

}  // namespace

bool CopyFolder(const std::string& source, const std::string& destination, TreeFailure* failure,
                const std::vector<platform::FileId>& leaveOut, platform::Ownership ownership) {
  TreeFailure unused;
  return CopyTree(source, destination, leaveOut, ownership, failure != nullptr ? failure : &unused);
}

bool DeleteFolder(const std::string& folder) {
  if (CountCodePoints(folder) < kShortestDeletablePath) return false;
  platform::FileInfo info;
  if (platform::GetFileInfo(folder, false, &info) == 0 && info.kind != EntryKind::kFolder) {
    if (info.kind == EntryKind::kLink) platform::RemoveFile(folder);
    return true;
  }
  DeleteTree(folder, false);
  return true;
}

std::string NormalizePath(const std::string& path) {
  const std::size_t first = path.find_first_not_of(kWhiteSpace);
  if (first == std::string::npos) return {};
  std::string result = path.substr(first, path.find_last_not_of(kWhiteSpace) - first + 1);
  const bool network = result.size() >= 2 && result[0] == '/' && result[1] == '/';
  ReplaceAll(result, "/./", "/");
  while (result.find("//") != std::string::npos) ReplaceAll(result, "//", "/");
  if (network) result = "/" + result;
  return result;
}

bool CreateFolders(const std::string& path, bool lastIsFile) {
  if (path.find('/') == std::string::npos) return true;
  std::string target = path;
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  if (lastIsFile) {
    const std::size_t slash = target.find_last_of('/');
    if (slash == std::string::npos) return true;
    target.erase(slash == 0 ? 1 : slash);
  }
  for (std::size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1)) {
    if (target[slash - 1] != '/') platform::CreateFolder(target.substr(0, slash));
  }
  if (lastIsFile) {
    platform::CreateFolder(target);
    return IsFolder(target);
  }
  return platform::CreateFolder(target) == 0;
}

bool PathIsMissing(const std::string& path) {
  platform::FileInfo info;
  return platform::GetFileInfo(path, false, &info) == ENOENT;
}

bool IsFolder(const std::string& path) {
  platform::FileInfo info;
  return platform::GetFileInfo(path, true, &info) == 0 && info.kind == EntryKind::kFolder;
}

bool ListFolder(const std::string& pattern, std::vector<std::string>* files,
                std::vector<std::string>* folders, int* error) {
  const std::size_t slash = pattern.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0                ? "/"
                                                         : pattern.substr(0, slash);
  const std::string namePattern =
      slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (namePattern.empty()) return false;

  std::vector<FolderEntry> entries;
  if (!HasWildcard(namePattern)) {
    platform::FileInfo info;
    if (platform::GetFileInfo(pattern, false, &info) != 0) return false;
    entries.push_back({namePattern, info.kind});
  } else if (const int rc = platform::ReadFolder(folder, true, &entries); rc != 0) {
    // A folder that is not there holds nothing; one that cannot be read is a failure.
    if (error != nullptr && rc != ENOENT && rc != ENOTDIR) *error = rc;
    return false;
  }

  const std::size_t dot = namePattern.find_last_of('.');
  const bool fixedExtension =
      dot != std::string::npos && !HasWildcard(std::string_view(namePattern).substr(dot));
  const bool wildcard = HasWildcard(namePattern);
  bool matched = false;
  for (const FolderEntry& entry : entries) {
    if (wildcard && !MatchWildcard(namePattern, entry.name)) continue;
    matched = true;
    const std::size_t entryDot = entry.name.find_last_of('.');
    if (fixedExtension && entryDot != std::string::npos &&
        !MatchWildcard(namePattern.substr(dot), entry.name.substr(entryDot))) {
      continue;
    }
    std::vector<std::string>* list = entry.kind == EntryKind::kFolder ? folders : files;
    if (list != nullptr) list->push_back(entry.name);
  }
  return matched;
}

int ListFiles(const std::string& folder, const std::string& pattern,
              std::vector<std::string>& paths, int flags, int* error) {
  std::string prefix = folder;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  std::vector<std::string> names;
  if ((flags & kListFolders) != 0) {
    ListFolder(prefix + pattern, nullptr, &names, error);
  } else {
    ListFolder(prefix + pattern, &names, nullptr, error);
  }
  int count = 0;
  for (const std::string& name : names) {
    paths.push_back(prefix + name);
    ++count;
  }
  if ((flags & kListRecursive) != 0) {
    std::vector<std::string> subfolders;
    ListFolder(prefix + "*", nullptr, &subfolders, error);
    for (const std::string& subfolder : subfolders) {
      count += ListFiles(prefix + subfolder, pattern, paths, flags, error);
    }
  }
  return count;
}

bool GrantFolderAccess(const std::string& folder, const std::string& account,
                       const std::string& domain, std::uint32_t mask, bool keepExisting) {
  const std::string qualified = domain.empty() ? account : domain + "\\" + account;
  std::uint32_t id = 0;
  if (platform::LookupAccount(qualified, &id) != 0) {
    const std::size_t backslash = qualified.find('\\');
    if (backslash == std::string::npos ||
        platform::LookupAccount(qualified.substr(backslash + 1), &id) != 0) {
      return false;
    }
  }
  const bool write = (mask & kWriteBits) != 0;
  if (!write && (mask & kReadBits) == 0) return !PathIsMissing(folder);
  return platform::GrantUserAccess(folder, id, write, keepExisting) == 0;
}

}  // namespace brimora
