#pragma once
// Helpers shared by the POSIX implementations of the platform layer. Never included by
// portable code.

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/files.h"

namespace brimora::platform::posix {

// Repeats a call that a signal interrupted (a result below 0 with EINTR).
template <typename Call>
auto Retry(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

inline EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

inline FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = KindOf(st.st_mode);
  info.mode = st.st_mode & 07777;
  info.owner = st.st_uid;
  info.group = st.st_gid;
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  info.accessed = {st.st_atim.tv_sec, st.st_atim.tv_nsec};
  info.modified = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  info.changed = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  return info;
}

// Eight random lower-case hex digits, for names no other file has.
int RandomHex(std::string* text);

// The POSIX access lists of a file or folder, kept by the file system as these extended
// attributes (the same values libacl reads and writes).
inline constexpr const char kAccessList[] = "system.posix_acl_access";
inline constexpr const char kDefaultList[] = "system.posix_acl_default";

// Reads the list `which` of the object open as `fd` (also a descriptor opened only for reaching
// entries); empty when it has none or its file system keeps no lists.
int ReadAccessList(int fd, const char* which, std::string* value);
// Gives the object open as `fd` the list `value`, or removes its list when `value` is empty
// (nothing to remove is no failure, nor is it on a file system without lists).
int WriteAccessList(int fd, const char* which, const std::string& value);

}  // namespace brimora::platform::posix
