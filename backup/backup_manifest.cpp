#include "backup/backup_manifest.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <vector>

#include "common/format.h"
#include "common/name_escape.h"
#include "common/sha256.h"

namespace brimora {
namespace {

using platform::EntryKind;

constexpr char kListHeader[] =
    "# BrimoraUpgrade backup entries, format 2: kind, mode, owner, group, size, modified, changed, content, "
    "path\n";

constexpr char KindLetter(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile: return 'F';
    case EntryKind::kFolder: return 'D';
    case EntryKind::kLink: return 'L';
    case EntryKind::kOther: break;
  }
  return 'O';
}

const char* KindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile: return "a file";
    case EntryKind::kFolder: return "a folder";
    case EntryKind::kLink: return "a link";
    case EntryKind::kOther: break;
  }
  return "a socket, FIFO or device";
}

bool IsOwnFile(const std::string& name) {
  return name == layout::kRecord || name == layout::kChecksums || name == layout::kEntries ||
         name.rfind(".brimora-", 0) == 0;
}

std::string Join(const std::string& prefix, const std::string& name) {
  return prefix.empty() ? name : prefix + "/" + name;
}

// Describes the entry `name` of `folder`: a regular file is read back whole for its SHA-256
// (the kind and sizes come from the open file, so they match what was hashed), a link read for
// its target.
int DescribeEntry(const platform::Folder& folder, const platform::FolderEntry& listed, bool hash, BackupEntry* entry,
                  const KnownFiles& known = {}) {
  platform::FileInfo info;
  int rc = 0;
  const KnownFile* file = nullptr;
  if (listed.kind == EntryKind::kFile && known) {
    rc = folder.DescribeChild(listed.name, &info);
    if (rc != 0) return rc;
    file = info.kind == EntryKind::kFile ? known(info.id) : nullptr;
    if (file != nullptr) {
      entry->changed = file->changed;
      entry->knownChange = true;
      if (!file->sha256.empty()) {
        entry->content = file->sha256;
        hash = false;
      }
    }
  }
  if (listed.kind == EntryKind::kFile && hash) {
    CSha256 hash;
    rc = folder.ReadChild(listed.name, [&](std::string_view piece) { hash.Update(piece); }, &info);
    if (rc == 0) entry->content = hash.HexDigest();
  } else if (file == nullptr || hash) {
    rc = folder.DescribeChild(listed.name, &info);
    if (rc == 0 && info.kind == EntryKind::kLink) rc = folder.ReadChildLink(listed.name, &entry->content);
  }
  entry->kind = info.kind;
  entry->mode = info.mode;
  entry->owner = info.owner;
  entry->group = info.group;
  entry->size = info.size;
  entry->modified = info.modified;
  return rc;
}

// Visits every entry below `folder` in walk order; `visit` answers whether to go into a folder.
using Visit = std::function<bool(const BackupEntry&)>;
int Walk(const platform::Folder& folder, const std::string& prefix, bool top, const Visit& visit, std::string* where,
         bool hash = true, const KnownFiles& known = {}) {
  std::vector<platform::FolderEntry> entries;
  if (const int rc = folder.List(&entries); rc != 0) {
    *where = prefix.empty() ? "." : prefix;
    return rc;
  }
  for (const platform::FolderEntry& listed : entries) {
    if (top && IsOwnFile(listed.name)) continue;
    BackupEntry entry;
    entry.path = Join(prefix, listed.name);
    if (const int rc = DescribeEntry(folder, listed, hash, &entry, known); rc != 0) {
      *where = entry.path;
      return rc;
    }
    if (!visit(entry) || entry.kind != EntryKind::kFolder) continue;
    platform::Folder child;
    if (const int rc = folder.OpenChild(listed.name, &child); rc != 0) {
      *where = entry.path;
      return rc;
    }
    if (const int rc = Walk(child, entry.path, false, visit, where, hash, known); rc != 0) return rc;
  }
  return 0;
}

// A whole field as a number in `base` (digits only, "-" too for the signed ones).
template <typename Integer>
bool Number(std::string_view field, Integer* value, int base = 10) {
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, *value, base);
  return !field.empty() && error == std::errc() && stop == end;
}

// "<seconds>.<nanoseconds>".
bool Time(std::string_view field, platform::FileTime* time) {
  const std::size_t dot = field.find('.');
  return dot != std::string_view::npos && Number(field.substr(0, dot), &time->seconds) &&
         Number(field.substr(dot + 1), &time->nanoseconds);
}

bool InScope(const std::string& path, const std::string& prefix) {
  return prefix.empty() || path == prefix || (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
                                              path[prefix.size()] == '/');
}

// What differs between the listed entry and the one found; empty when they agree.
std::string Difference(const BackupEntry& listed, const BackupEntry& found) {
  if (listed.kind != found.kind) return Format("is %s, not %s", KindName(found.kind), KindName(listed.kind));
  if (listed.kind == EntryKind::kFile && (listed.size != found.size || listed.content != found.content)) {
    return "has other contents";
  }
  if (listed.kind == EntryKind::kLink && listed.content != found.content) return "points elsewhere";
  return {};
}

}  // namespace

std::string EntryLine(const BackupEntry& entry) {
  const std::string content = entry.kind == EntryKind::kLink ? EscapeName(entry.content)
                              : entry.content.empty()         ? "-"
                                                              : entry.content;
  const std::string changed =
      entry.knownChange ? Format("%" PRId64 ".%09" PRId64, entry.changed.seconds, entry.changed.nanoseconds) : "-";
  return Format("%c\t%04o\t%u\t%u\t%" PRIu64 "\t%" PRId64 ".%09" PRId64 "\t%s\t%s\t%s\n", KindLetter(entry.kind),
                entry.mode, entry.owner, entry.group, entry.size, entry.modified.seconds,
                entry.modified.nanoseconds, changed, content, EscapeName(entry.path));
}

bool ParseEntryLine(std::string_view line, BackupEntry* entry) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  // The first format has no change time.
  if (fields.size() == 8) fields.insert(fields.begin() + 6, std::string_view("-"));
  if (fields.size() != 9 || fields[0].size() != 1) return false;
  std::uint32_t mode = 0, owner = 0, group = 0;
  std::uint64_t size = 0;
  platform::FileTime modified;
  if (!Number(fields[1], &mode, 8) || !Number(fields[2], &owner) || !Number(fields[3], &group) ||
      !Number(fields[4], &size) || !Time(fields[5], &modified)) {
    return false;
  }
  entry->knownChange = fields[6] != "-";
  entry->changed = {};
  if (entry->knownChange && !Time(fields[6], &entry->changed)) return false;
  const std::string kinds = "FDLO";
  const std::size_t kind = kinds.find(fields[0][0]);
  if (kind == std::string::npos || !UnescapeName(fields[8], entry->path) || entry->path.empty()) return false;
  entry->kind = static_cast<EntryKind>(kind);
  entry->mode = mode;
  entry->owner = owner;
  entry->group = group;
  entry->size = size;
  entry->modified = modified;
  if (entry->kind == EntryKind::kLink) return UnescapeName(fields[7], entry->content);
  entry->content = fields[7] == "-" ? "" : std::string(fields[7]);
  return true;
}

bool WalkOrderLess(std::string_view a, std::string_view b) {
  // Names are compared byte by byte, and a folder comes before what it holds: "/" counts as the
  // lowest byte, below every byte a name can hold.
  const auto rank = [](char c) { return c == '/' ? 0u : static_cast<unsigned char>(c) + 1u; };
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return rank(a[i]) < rank(b[i]);
  }
  return a.size() < b.size();
}

int WriteManifest(const platform::Folder& backupFolder, TopLevelCounts* counts, std::string* where,
                  const KnownFiles& known) {
  platform::AtomicFile sums;
  platform::AtomicFile list;
  *where = layout::kChecksums;
  if (const int rc = sums.Create(backupFolder, layout::kChecksums); rc != 0) return rc;
  *where = layout::kEntries;
  if (const int rc = list.Create(backupFolder, layout::kEntries); rc != 0) return rc;
  int writeError = list.Write(kListHeader);
  const int rc = Walk(backupFolder, "", true, [&](const BackupEntry& entry) {
    if (writeError == 0) writeError = list.Write(EntryLine(entry));
    if (entry.kind == EntryKind::kFile) {
      if (writeError == 0) writeError = sums.Write(Sha256SumLine(entry.content, entry.path));
      EntryCount& count = (*counts)[entry.path.substr(0, entry.path.find('/'))];
      ++count.files;
      count.bytes += entry.size;
    }
    return true;
  }, where, true, known);
  if (rc != 0) return rc;
  *where = layout::kEntries;
  if (writeError != 0) return writeError;
  if (const int commit = list.Commit(); commit != 0) return commit;
  *where = layout::kChecksums;
  return sums.Commit();
}

CEntryListReader::~CEntryListReader() {
  if (stream_ != nullptr) std::fclose(stream_);
}

int CEntryListReader::Open(const platform::Folder& backupFolder) {
  return backupFolder.OpenChildStream(layout::kEntries, &stream_);
}

bool CEntryListReader::Next(BackupEntry* entry, std::string* problem) {
  problem->clear();
  if (stream_ == nullptr) return false;
  for (std::string line;; line.clear()) {
    char piece[4096];
    while (std::fgets(piece, sizeof piece, stream_) != nullptr) {
      line += piece;
      if (line.back() == '\n') break;
    }
    if (line.empty()) {
      if (std::ferror(stream_)) *problem = Format("%s cannot be read", layout::kEntries);
      return false;
    }
    ++lineNumber_;
    if (line.back() != '\n') {
      *problem = Format("%s ends inside line %zu", layout::kEntries, lineNumber_);
      return false;
    }
    line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (ParseEntryLine(line, entry)) return true;
    *problem = Format("%s has a line that cannot be read (line %zu)", layout::kEntries, lineNumber_);
    return false;
  }
}

bool CheckAgainstManifest(const platform::Folder& folder, const std::string& prefix,
                          const platform::Folder& backupFolder, const ProblemSink& sink,
                          unsigned long long* checked) {
  bool ok = true;
  const auto report = [&](const std::string& path, const std::string& what, bool fails = true) {
    ok = ok && !fails;
    sink({path, what, fails});
  };
  CEntryListReader list;
  if (const int rc = list.Open(backupFolder); rc != 0) {
    report(layout::kEntries, "cannot be read: " + platform::ErrorText(rc));
    return false;
  }
  BackupEntry listed;
  bool have = false;
  std::string problem;
  const auto advance = [&] {
    have = list.Next(&listed, &problem);
    if (!have && !problem.empty()) report(layout::kEntries, problem);
  };
  const auto skipBelow = [&](const std::string& path) {
    while (have && listed.path != path && InScope(listed.path, path)) advance();
  };
  for (advance(); have && !InScope(listed.path, prefix) && WalkOrderLess(listed.path, prefix);) advance();
  if (!prefix.empty()) {
    if (!have || listed.path != prefix) {
      report(prefix, "is not in the backup's entries list");
      return false;
    }
    if (listed.kind != EntryKind::kFolder) report(prefix, Format("is a folder, not %s", KindName(listed.kind)));
    advance();
  }

  std::string where;
  const int rc = Walk(folder, prefix, prefix.empty(), [&](const BackupEntry& found) {
    while (have && InScope(listed.path, prefix) && WalkOrderLess(listed.path, found.path)) {
      report(listed.path, "is missing");
      advance();
    }
    if (!have || listed.path != found.path) {
      // Beside the backup's areas an addition is only reported; inside them it fails the check.
      report(found.path, "was added", !(prefix.empty() && found.path.find('/') == std::string::npos));
      return false;
    }
    const BackupEntry expected = listed;
    advance();
    if (const std::string difference = Difference(expected, found); !difference.empty()) {
      report(found.path, difference);
      skipBelow(expected.path);
      return false;
    }
    if (checked != nullptr) ++*checked;
    return found.kind == EntryKind::kFolder;
  }, &where);
  if (rc != 0) report(where, "cannot be read: " + platform::ErrorText(rc));
  for (; have && InScope(listed.path, prefix); advance()) report(listed.path, "is missing");
  return ok;
}

bool ScanManifest(const platform::Folder& backupFolder, const std::string& prefix, EntryCount* count, bool* listed) {
  CEntryListReader list;
  if (list.Open(backupFolder) != 0) return false;
  *count = {};
  *listed = false;
  BackupEntry entry;
  std::string problem;
  while (list.Next(&entry, &problem)) {
    if (!InScope(entry.path, prefix)) continue;
    *listed = true;
    if (entry.kind != EntryKind::kFile) continue;
    ++count->files;
    count->bytes += entry.size;
  }
  return problem.empty();
}

int TreeBytes(const platform::Folder& folder, std::uint64_t* bytes) {
  *bytes = 0;
  std::string where;
  return Walk(folder, "", false, [&](const BackupEntry& entry) {
    if (entry.kind == EntryKind::kFile) *bytes += entry.size;
    return true;
  }, &where, false);
}

}  // namespace brimora
