#include "common/folder_copy_engine.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "common/format.h"
#include "platform/files.h"

namespace brimora {
namespace {

constexpr char kSeparator = '/';
constexpr std::uint32_t kOwnerWrite = 0200;

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == kSeparator) path.pop_back();
  return path;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == kSeparator) return folder + name;
  return folder + kSeparator + name;
}

// The last component of a path (trailing separators ignored); empty for "/".
std::string LastComponent(const std::string& path) {
  const std::string trimmed = WithoutTrailingSeparators(path);
  if (trimmed == "/") return {};
  const std::size_t slash = trimmed.rfind(kSeparator);
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// The folder part of a path: everything before its last separator.
std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind(kSeparator);
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The decimal number at the start of `text`, 0 when there is none; large values saturate.
int LeadingNumber(const std::string& text) {
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<long long>(value * 10 + (c - '0'), INT_MAX - 1);
  }
  return static_cast<int>(value);
}

}  // namespace

CFExeption CFExeption::FromCode(int code) {
  return CFExeption(platform::ErrorText(code), static_cast<std::uint32_t>(code));
}

CFExeption CFExeption::FromText(std::string text) { return CFExeption(std::move(text), 0); }

CFolderCopyEngine::PathKind CFolderCopyEngine::Classify(const std::string& path, int* error) const {
  platform::FileInfo info;
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

bool CFolderCopyEngine::Copy(const std::string& source, const std::string& destination) {
  int error = 0;
  // A folder that already lies directly in the destination is where it should be.
  if (Classify(source, &error) == PathKind::kFolder &&
      ParentOf(WithoutTrailingSeparators(source)) == WithoutTrailingSeparators(destination)) {
    return true;
  }
  budgetExhausted_ = false;
  bool copied = true;
  try {
    CopyProper(source, destination);
    if (budgetExhausted_) {
      throw CFExeption::FromText(Format("%s lies inside the folder it copies; its subfolders could not all be copied", destination));
    }
  } catch (const CFExeption& exception) {
    errorText_ = exception.Text();
    errorCode_ = exception.Code();
    copied = false;
  }
  subfolderBudget_ = -1;
  return copied;
}

void CFolderCopyEngine::CopyProper(const std::string& source, const std::string& destination) {
  // A destination inside the source would be copied into itself without end: the budget lets
  // the walk enter only as many subfolders as the destination lies deep below the source.
  const std::string sourceRoot = WithoutTrailingSeparators(source);
  const std::string destinationRoot = WithoutTrailingSeparators(destination);
  if (destinationRoot == sourceRoot || destinationRoot.rfind(sourceRoot + kSeparator, 0) == 0) {
    subfolderBudget_ = static_cast<int>(std::count(destinationRoot.begin(), destinationRoot.end(), kSeparator) -
                                        std::count(sourceRoot.begin(), sourceRoot.end(), kSeparator));
  }

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
    std::vector<platform::FolderEntry> entries;
    if (const int rc = platform::ReadFolder(source, true, &entries); rc != 0) {
      if (rc == ENOENT || rc == ENOTDIR) throw CFExeption::FromText(source + " not found");
      throw CFExeption::FromCode(rc);
    }
    std::string target = destinationRoot;
    bool created = false;
    if (const std::string name = LastComponent(source); !name.empty()) {
      target = Join(destinationRoot, name);
      const int rc = platform::CreateFolder(target);
      if (rc != 0 && rc != EEXIST) throw CFExeption::FromCode(rc);
      created = rc == 0;
    }
    CopyEntries(source, target, entries);
    if (created) platform::CopyAttributes(source, target);
    return;
  }
  if (destinationKind == PathKind::kFolder) {
    CopyOneFile(source, Join(destinationRoot, LastComponent(source)));
  } else {
    CopyOneFile(source, destination);
  }
}

void CFolderCopyEngine::CopyEntries(const std::string& sourceFolder,
                                    const std::string& destinationFolder,
                                    const std::vector<platform::FolderEntry>& entries) {
  for (const platform::FolderEntry& entry : entries) {
    const std::string sourcePath = Join(sourceFolder, entry.name);
    const std::string destinationPath = Join(destinationFolder, entry.name);
    if (entry.kind != platform::EntryKind::kFolder) {
      CopyOneFile(sourcePath, destinationPath);
      continue;
    }
    if (subfolderBudget_ == 0) {
      budgetExhausted_ = true;
      continue;
    }
    bool created = false;
    platform::FileInfo info;
    if (platform::GetFileInfo(destinationPath, false, &info) == ENOENT) {
      if (const int rc = platform::CreateFolder(destinationPath); rc != 0) throw CFExeption::FromCode(rc);
      created = true;
    }
    if (subfolderBudget_ > 0) --subfolderBudget_;
    // Below the top, links are never read through, so a link to a parent cannot make a loop.
    std::vector<platform::FolderEntry> children;
    if (const int rc = platform::ReadFolder(sourcePath, false, &children); rc != 0) {
      throw CFExeption::FromCode(rc);
    }
    CopyEntries(sourcePath, destinationPath, children);
    if (created) platform::CopyAttributes(sourcePath, destinationPath);
  }
}

void CFolderCopyEngine::CopyOneFile(const std::string& source, const std::string& destination) {
  // The exclusive create both tests for a taken name and copies, so a name taken between a
  // test and the copy can never be overwritten.
  std::string target = destination;
  for (;;) {
    const int rc = platform::CopyOneFile(source, target, true);
    if (rc == 0) return;
    if (rc != EEXIST) throw CFExeption::FromCode(rc);
    target = NextCopyName(target);
  }
}

std::string CFolderCopyEngine::NextCopyName(const std::string& path) {
  const std::size_t slash = path.rfind(kSeparator);
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = fileName.rfind('.');
  const std::string title = dot == std::string::npos ? fileName : fileName.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot);

  static const std::string kCopyOf = "Copy of ";
  std::string newName;
  const std::size_t open = title.find('(');
  const std::size_t close = title.find(')');
  if (title.find("Copy ") == std::string::npos) {
    newName = kCopyOf + title + extension;
  } else if (open == std::string::npos) {
    newName = "Copy (1) of " + title.substr(std::min(kCopyOf.size(), title.size())) + extension;
  } else if (close == std::string::npos) {
    newName = kCopyOf + title + extension;
  } else {
    const int number = close > open ? LeadingNumber(title.substr(open + 1, close - open - 1)) : 0;
    const std::string rest = title.substr(std::min(close + 5, title.size()));
    newName = Format("%s%d%s%s%s", "Copy (", number + 1, ") of ", rest, extension);
  }
  return folder + newName;
}

bool CFolderCopyEngine::Delete(const std::string& path) {
  try {
    DeleteProper(path);
  } catch (const CFExeption& exception) {
    errorText_ = exception.Text();
    errorCode_ = exception.Code();
    return exception.Code() == 0;
  }
  return true;
}

void CFolderCopyEngine::DeleteProper(const std::string& path) {
  platform::FileInfo info;
  const int infoError = platform::GetFileInfo(path, false, &info);
  if (infoError == 0 && info.kind != platform::EntryKind::kFolder) {
    if (info.kind == platform::EntryKind::kFile && (info.mode & kOwnerWrite) == 0 &&
        platform::AddOwnerWrite(path) != 0) {
      undeletable_ = true;
      return;
    }
    if (const int rc = platform::RemoveFile(path); rc != 0) throw CFExeption::FromCode(rc);
    return;
  }
  std::vector<platform::FolderEntry> entries;
  if (platform::ReadFolder(path, false, &entries) == 0) {
    for (const platform::FolderEntry& entry : entries) DeleteProper(Join(path, entry.name));
  }
  if (const int rc = platform::RemoveFolder(path); rc != 0 && !undeletable_) {
    throw CFExeption::FromCode(rc);
  }
}

}  // namespace brimora
