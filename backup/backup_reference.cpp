#include "backup/backup_reference.h"

#include <algorithm>
#include <cerrno>

#include "backup/backup_layout.h"
#include "common/format.h"

namespace brimora {

CBackupReference::CBackupReference(std::string backupFolder) : backupFolder_(std::move(backupFolder)) {
  while (backupFolder_.size() > 1 && backupFolder_.back() == '/') backupFolder_.pop_back();
}

int CBackupReference::Open(const std::string& referenceFolder, std::string* problem) {
  recorded_.clear();
  openedAt_ = nullptr;
  if (const int rc = reference_.Open(referenceFolder, false); rc != 0) {
    *problem = platform::ErrorText(rc);
    return rc;
  }
  CEntryListReader list;
  if (const int rc = list.Open(reference_); rc != 0) {
    *problem = Format("%s: %s", layout::kEntries, platform::ErrorText(rc));
    return rc;
  }
  BackupEntry entry;
  while (list.Next(&entry, problem)) {
    // A file whose source's change time was not recorded cannot be shown unchanged.
    if (entry.kind != platform::EntryKind::kFile || !entry.knownChange || entry.content.size() != 64) continue;
    Recorded& recorded = recorded_[entry.path];
    recorded = {entry.size, entry.modified, entry.changed, entry.mode, entry.owner, entry.group, {}};
    entry.content.copy(recorded.sha256.data(), recorded.sha256.size());
  }
  if (problem->empty()) return 0;
  recorded_.clear();
  return EINVAL;
}

bool CBackupReference::RelativePath(const platform::Folder& folder, const std::string& name,
                                    std::string* relative) const {
  const std::string& path = folder.Path();
  if (path.compare(0, backupFolder_.size(), backupFolder_) != 0) return false;
  if (path.size() > backupFolder_.size() && path[backupFolder_.size()] != '/' && backupFolder_ != "/") return false;
  relative->clear();
  std::size_t start = backupFolder_.size();
  const std::string rest = path.substr(start) + "/" + name;
  for (std::size_t at = 0; at <= rest.size();) {
    const std::size_t slash = std::min(rest.find('/', at), rest.size());
    const std::string part = rest.substr(at, slash - at);
    at = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    if (!relative->empty()) *relative += '/';
    *relative += part;
  }
  return !relative->empty();
}

platform::EarlierCopy CBackupReference::Find(const platform::Folder& to, const std::string& name,
                                             const platform::FileInfo& source) {
  found_ = nullptr;
  std::string relative;
  if (recorded_.empty() || !RelativePath(to, name, &relative)) return {};
  const auto it = recorded_.find(relative);
  if (it == recorded_.end()) return {};
  const Recorded& recorded = it->second;
  if (recorded.size != source.size || !(recorded.modified == source.modified) ||
      !(recorded.changed == source.changed) || recorded.mode != source.mode || recorded.owner != source.owner ||
      recorded.group != source.group) {
    return {};
  }
  // The reference's folders are opened one name at a time, never through a link.
  const std::size_t slash = relative.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash);
  if (openedAt_ == nullptr || folder != openedPath_) {
    openedAt_ = nullptr;
    platform::Folder walk;
    const platform::Folder* at = &reference_;
    for (std::size_t start = 0; start < folder.size();) {
      const std::size_t end = std::min(folder.find('/', start), folder.size());
      platform::Folder child;
      if (at->OpenChild(folder.substr(start, end - start), &child) != 0) return {};
      walk = std::move(child);
      at = &walk;
      start = end + 1;
    }
    if (at != &reference_) {
      opened_ = std::move(walk);
      at = &opened_;
    }
    openedAt_ = at;
    openedPath_ = folder;
  }
  found_ = &recorded;
  return {openedAt_, slash == std::string::npos ? relative : relative.substr(slash + 1)};
}

namespace {

// Describes every entry below `folder`, never through a link, until asked to stop.
void Examine(const platform::Folder& folder, const std::stop_token& stop) {
  std::vector<platform::FolderEntry> entries;
  if (folder.List(&entries) != 0) return;
  for (const platform::FolderEntry& entry : entries) {
    if (stop.stop_requested()) return;
    platform::FileInfo info;
    if (entry.kind != platform::EntryKind::kFolder) {
      folder.DescribeChild(entry.name, &info);
      continue;
    }
    platform::Folder child;
    if (folder.OpenChild(entry.name, &child) == 0) Examine(child, stop);
  }
}

}  // namespace

void CBackupReference::Prefetch(const std::string& referenceFolder, const std::vector<std::string>& sources) {
  prefetchReference_ = std::jthread([referenceFolder](const std::stop_token& stop) {
    platform::Folder root;
    if (root.Open(referenceFolder, false) != 0) return;
    for (const BackupArea& area : kBackupAreas) {
      platform::Folder folder;
      if (root.OpenChild(area.folder, &folder) == 0) Examine(folder, stop);
    }
  });
  prefetchSources_ = std::jthread([sources](const std::stop_token& stop) {
    for (const std::string& source : sources) {
      platform::Folder folder;
      if (folder.Open(source, false) == 0) Examine(folder, stop);
    }
  });
}

void CBackupReference::Written(const platform::FileId& written, const platform::FileInfo& source,
                               platform::WrittenBy how) {
  KnownFile& known = known_[written];
  known.changed = source.changed;
  known.sha256.clear();
  EntryCount* count = &copied;
  if (how != platform::WrittenBy::kCopy && found_ != nullptr) {
    known.sha256.assign(found_->sha256.data(), found_->sha256.size());
    count = how == platform::WrittenBy::kClone ? &cloned : &linked;
  }
  ++count->files;
  count->bytes += source.size;
}

const KnownFile* CBackupReference::Known(const platform::FileId& id) const {
  const auto it = known_.find(id);
  return it == known_.end() ? nullptr : &it->second;
}

}  // namespace brimora
