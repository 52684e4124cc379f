#pragma once
// The manifest of a backup folder: what it held when its run ended, so that anyone can check
// later that it still holds exactly that.
//
// Two files at the top of the backup folder, written together at the end of a backup run:
// - "SHA256SUMS": a line for every regular file, in the format of coreutils' sha256sum, so that
//   `cd <backup> && sha256sum --check --quiet SHA256SUMS` checks the contents with no tool of ours;
// - "BackupEntries.txt": a line for every entry (folders, files, links), with its kind, permission
//   bits, owner, group, size, modification time, the change time its source had when it was
//   copied ("-" where the run did not copy it) and its content (a file's SHA-256, a link's
//   target), names escaped by EscapeName; the source of truth for the checks below. Lists of the
//   first format, without the change time, are read as well.
// Both list the entries in walk order: a folder before what it holds, names in byte order.
// The backup's own files at its top (the completion record, these two, and hidden names that
// begin ".brimora-") are not listed.
//
// Every walk here works on open folders and never follows a link.
// Thread safety: functions may be called from any thread; calls are independent.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "platform/files.h"

namespace brimora {

namespace layout {
inline constexpr const char kRecord[] = "BackupInfo.json";
inline constexpr const char kChecksums[] = "SHA256SUMS";
inline constexpr const char kEntries[] = "BackupEntries.txt";
}  // namespace layout

// One entry of a backup folder.
struct BackupEntry {
  std::string path;  // relative to the backup folder, names joined by "/"
  platform::EntryKind kind = platform::EntryKind::kFile;
  std::uint32_t mode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint64_t size = 0;
  platform::FileTime modified;
  platform::FileTime changed;  // the source's change time when the run copied it
  bool knownChange = false;    // whether `changed` is known
  std::string content;  // a file's SHA-256 in hex, a link's target; empty for anything else
};

// What the run's copies know of a file they wrote: its source's change time and, for a file
// taken from an earlier backup, its SHA-256 there (empty when the file must be read for it).
struct KnownFile {
  platform::FileTime changed;
  std::string sha256;
};
using KnownFiles = std::function<const KnownFile*(const platform::FileId&)>;

// The entries list's line for an entry, and the reverse (false for a line it cannot have written).
std::string EntryLine(const BackupEntry& entry);
bool ParseEntryLine(std::string_view line, BackupEntry* entry);

// Whether relative path `a` comes before `b` in walk order.
bool WalkOrderLess(std::string_view a, std::string_view b);

// Files and bytes of the regular files below each name at the top of the backup folder.
struct EntryCount {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};
using TopLevelCounts = std::map<std::string, EntryCount>;

// Walks the backup folder, hashing every regular file as it reads it back (unless `known` gives
// its SHA-256), and writes both files (each under its name only once whole and on disk).
// Answers 0, or the error that stopped it with *where naming the entry.
int WriteManifest(const platform::Folder& backupFolder, TopLevelCounts* counts, std::string* where,
                  const KnownFiles& known = {});

// One difference between a folder and the entries list.
struct ManifestProblem {
  std::string path;     // as in the list (relative to the backup folder)
  std::string what;     // "is missing", "was added", "has other contents", "is a folder, not a file" ...
  bool fails = true;    // false for an addition beside the backup's areas, which only is reported
};
using ProblemSink = std::function<void(const ManifestProblem&)>;

// Reads the entries list of a backup folder line by line.
class CEntryListReader {
 public:
  ~CEntryListReader();
  // Opens the list in `backupFolder`; the error code (ENOENT when there is none).
  int Open(const platform::Folder& backupFolder);
  // The next entry; false at the end, or with *problem set when a line cannot be read.
  bool Next(BackupEntry* entry, std::string* problem);

 private:
  std::FILE* stream_ = nullptr;
  std::size_t lineNumber_ = 0;
};

// Compares `folder` with the list's entries at and below `prefix` ("" for the whole backup
// folder, whose own files are left out): every entry missing, added, of another kind or with
// other contents (size, SHA-256, link target) goes to `sink`. Modes, owners and times are not
// compared, nor are link counts: later backups that link a file change its change time and link
// count, never its contents. With prefix "", an entry added directly in the backup folder does not fail the check
// (fails = false); everywhere else an addition fails it. Answers false when a failing problem
// was found or the walk or the list could not be read (a problem says which).
// *checked (when given) counts the entries found as listed.
bool CheckAgainstManifest(const platform::Folder& folder, const std::string& prefix,
                          const platform::Folder& backupFolder, const ProblemSink& sink,
                          unsigned long long* checked = nullptr);

// The regular files the list holds at and below `prefix`, and whether it lists anything there;
// false when the list cannot be read.
bool ScanManifest(const platform::Folder& backupFolder, const std::string& prefix, EntryCount* count, bool* listed);

// The bytes of the regular files in a tree, never following links.
int TreeBytes(const platform::Folder& folder, std::uint64_t* bytes);

}  // namespace brimora
