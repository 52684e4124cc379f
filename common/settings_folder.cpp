#include "common/settings_folder.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/strings.h"
#include "platform/named_lock.h"

namespace brimora {
namespace {

constexpr std::uint32_t kLockTimeoutMs = 1000;
constexpr std::size_t kPieceBytes = 8191;
constexpr std::size_t kSettingsFolderBufferSize = 260;
constexpr std::string_view kVirtualIniPath = "/vantrel.app/config.ini";
constexpr std::string_view kVirtualIniReplacement = "../config.ini";

// Matches `pattern` against the start of `line`, skipping white space in both and ignoring
// letter case. Returns the position in `line` just after the last pattern character, or npos.
std::size_t MatchPattern(std::string_view pattern, std::string_view line) {
  std::size_t p = 0;
  std::size_t l = 0;
  for (;;) {
    while (p < pattern.size() && IsAsciiWhiteSpace(pattern[p])) ++p;
    if (p == pattern.size()) return l;
    while (l < line.size() && IsAsciiWhiteSpace(line[l])) ++l;
    if (l == line.size() || AsciiLower(pattern[p]) != AsciiLower(line[l])) return std::string_view::npos;
    ++p;
    ++l;
  }
}

// Reads a text file in pieces: a piece ends after "\n" or after kPieceBytes bytes, whichever
// comes first. A full piece does not end inside a UTF-8 sequence; the sequence starts the next
// piece, so a value is never split into broken characters.
class PieceReader {
 public:
  explicit PieceReader(std::FILE* file) : file_(file) {}

  bool Next(std::string& piece) {
    piece.swap(carry_);
    carry_.clear();
    while (piece.size() < kPieceBytes) {
      const int c = std::fgetc(file_);
      if (c == EOF) return !piece.empty();
      piece += static_cast<char>(c);
      if (c == '\n') return true;
    }
    MoveOpenSequenceToCarry(piece);
    return true;
  }

 private:
  void MoveOpenSequenceToCarry(std::string& piece) {
    // Look back over at most three continuation bytes for the lead byte of the last sequence.
    std::size_t start = piece.size();
    for (int back = 0; back < 4 && start > 0; ++back) {
      --start;
      const auto byte = static_cast<unsigned char>(piece[start]);
      if ((byte & 0xC0) != 0x80) break;
    }
    const auto lead = static_cast<unsigned char>(piece[start]);
    const std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (start > 0 && piece.size() - start < expected) {
      carry_ = piece.substr(start);
      piece.resize(start);
    }
  }

  std::FILE* file_;
  std::string carry_;
};

// The value of a matched line: leading white space skipped, at most `maxChars` characters,
// then trailing white space removed (the first character always stays).
std::string ExtractValue(std::string_view rest, std::size_t maxChars) {
  std::size_t start = 0;
  while (start < rest.size() && IsAsciiWhiteSpace(rest[start])) ++start;
  std::string_view value = LeftCodePoints(rest.substr(start), maxChars);
  while (value.size() > 1 && IsAsciiWhiteSpace(value.back())) value.remove_suffix(1);
  return std::string(value);
}

// Searches the open file; true with `value` set when the key is found.
bool FindValue(std::FILE* file, std::string_view section, std::string_view pattern,
               std::size_t maxChars, std::string& value) {
  PieceReader reader(file);
  std::string piece;
  if (!section.empty()) {
    bool found = false;
    while (!found && reader.Next(piece)) {
      found = !piece.empty() && piece[0] == '[' &&
              EqualsIgnoringAsciiCase(TrimRight(piece), section);
    }
    if (!found) return false;
  }
  while (reader.Next(piece)) {
    if (!section.empty() && !piece.empty() && piece[0] == '[') return false;
    const std::size_t end = MatchPattern(pattern, piece);
    if (end != std::string_view::npos) {
      value = ExtractValue(std::string_view(piece).substr(end), maxChars);
      return true;
    }
  }
  return false;
}

// The lock name: the file name of the path in upper case. Only ASCII letters change: the name
// only has to be the same for every reader of the file.
std::string LockNameFor(const std::string& path) {
  const std::size_t slash = path.rfind(kPathSeparator);
  return AsciiUpper(path.substr(slash == std::string::npos ? 0 : slash + 1));
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int ReadProfileString(std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::string& out, std::size_t size,
                      const std::string& iniPath) {
  const std::string path =
      EqualsIgnoringAsciiCase(iniPath, kVirtualIniPath) ? std::string(kVirtualIniReplacement) : iniPath;
  const std::size_t maxChars = size == 0 ? 0 : size - 1;
  out.assign(LeftCodePoints(defaultValue, maxChars));
  if (key.empty()) return kProfileRead;

  platform::CrossProcessLock lock;
  if (!lock.Acquire(LockNameFor(path), kLockTimeoutMs)) return kProfileUnavailable;

  // Only a regular file is opened: opening a FIFO would block the run, and a folder has no
  // lines to read.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return kProfileUnavailable;
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  if (!file) return kProfileUnavailable;

  std::string value;
  if (FindValue(file.get(), section, std::string(key) + "=", maxChars, value)) out = value;
  return kProfileRead;
}

std::string GetSettingsFolder(const std::string& installPath) {
  const std::string iniPath = installPath + kPathSeparator + "config.ini";
  std::string value;
  ReadProfileString("", kSettingsFolderKey, kDefaultSettingsFolder, value,
                    kSettingsFolderBufferSize, iniPath);
  if (value.rfind("..", 0) == 0) return installPath + kPathSeparator + value;
  return value;
}

std::string GetSettingsFilePath(const std::string& installPath, bool checkExists) {
  const std::string inSettingsFolder =
      GetSettingsFolder(installPath) + kPathSeparator + kSettingsFileName;
  if (!checkExists) return inSettingsFolder;
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::path(inSettingsFolder), error)) {
    return inSettingsFolder;
  }
  return installPath + kPathSeparator + kSettingsFileName;
}

}  // namespace brimora
