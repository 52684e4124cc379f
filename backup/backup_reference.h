#pragma once
// What a backup run's copies wrote, and the earlier backup they may take unchanged files from.
//
// Installed for the run's copies (platform::ScopedCopyReuse), the object answers, for every
// regular file the copies are about to write, whether the reference backup recorded an equal
// file at the same place: same size, modification and change times (the source's, to the
// nanosecond), permission bits, owner and group. Such a file is cloned or linked from the
// reference (platform::CopyReuse says when). It also keeps, for every file the copies wrote, the
// source's change time and, for a file taken from the reference, its SHA-256 there, which the
// manifest then takes instead of reading the file again.
//
// Used by the thread that runs the copies and then the manifest, one after the other.

#include <array>
#include <thread>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "backup/backup_manifest.h"
#include "platform/files.h"

namespace brimora {

class CBackupReference : public platform::CopyReuse {
 public:
  // `backupFolder`: the folder the run writes, as the copies' destination paths begin.
  explicit CBackupReference(std::string backupFolder);

  // Reads the entries list of the backup folder `referenceFolder` (never through a link at the
  // path itself). Answers 0, or the error code with *problem naming what could not be read;
  // then no file is taken from it.
  int Open(const std::string& referenceFolder, std::string* problem);

  platform::EarlierCopy Find(const platform::Folder& to, const std::string& name,
                             const platform::FileInfo& source) override;
  void Written(const platform::FileId& written, const platform::FileInfo& source, platform::WrittenBy how) override;

  // What the copies know of the file `id` of the backup folder; null for a file they did not write.
  const KnownFile* Known(const platform::FileId& id) const;

  // Examines every entry of the reference's areas (in the order the run copies them) on one
  // thread, and every entry of the installation's folders `sources` on another, so that reading
  // their descriptions from disk overlaps with the copies, which then find them in memory. Both
  // stop when the object goes.
  void Prefetch(const std::string& referenceFolder, const std::vector<std::string>& sources);

  // Files and bytes written each way.
  EntryCount copied;
  EntryCount cloned;
  EntryCount linked;

 private:
  struct Recorded {
    std::uint64_t size = 0;
    platform::FileTime modified;
    platform::FileTime changed;
    std::uint32_t mode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::array<char, 64> sha256{};
  };
  struct IdHash {
    std::size_t operator()(const platform::FileId& id) const { return id.inode * 31 + id.device; }
  };
  // The path of `name` in `folder` relative to the backup folder; false when it lies elsewhere.
  bool RelativePath(const platform::Folder& folder, const std::string& name, std::string* relative) const;

  std::string backupFolder_;
  platform::Folder reference_;
  std::unordered_map<std::string, Recorded> recorded_;
  // The reference's folder the last Find used, by its path relative to the reference.
  std::string openedPath_;
  platform::Folder opened_;
  const platform::Folder* openedAt_ = nullptr;  // opened_ or reference_; null before the first
  const Recorded* found_ = nullptr;
  std::unordered_map<platform::FileId, KnownFile, IdHash> known_;
  std::jthread prefetchReference_;  // last: they stop and end before the members above go
  std::jthread prefetchSources_;
};

}  // namespace brimora
