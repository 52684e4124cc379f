#include "common/settings_folder.h"

#include "common/file_utils.h"
#include "common/strings.h"
#include "common/trace_log.h"
#include "platform/file_lock.h"
#include "platform/files.h"

namespace brimora {
namespace {

constexpr std::size_t kPieceBytes = 8191;
constexpr std::size_t kSettingsFolderBufferSize = 260;
constexpr std::string_view kVirtualIniPath = "/vantrel.app/config.ini";
constexpr std::string_view kVirtualIniReplacement = "../config.ini";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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
// piece, so a value is never split into broken characters. A byte-order mark that opens the
// file is dropped, so it cannot hide the first line's key; it does not count towards the piece.
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
      // The piece holds exactly the file's first three bytes when no line ended before them.
      if (++bytesRead_ == kByteOrderMark.size() && piece == kByteOrderMark) {
        piece.clear();
        continue;
      }
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
  std::size_t bytesRead_ = 0;
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

}  // namespace

bool FindProfileValue(std::FILE* file, std::string_view section, std::string_view key,
                      std::size_t size, std::string& value) {
  const std::string pattern = std::string(key) + "=";
  const std::size_t maxChars = size == 0 ? 0 : size - 1;
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

int ReadProfileString(std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::string& out, std::size_t size,
                      const std::string& iniPath) {
  const std::string path =
      EqualsIgnoringAsciiCase(iniPath, kVirtualIniPath) ? std::string(kVirtualIniReplacement) : iniPath;
  out.assign(LeftCodePoints(defaultValue, size == 0 ? 0 : size - 1));
  if (key.empty()) return kProfileRead;

  // The file is read through the descriptor that carries the lock, so what is read is the
  // file that was checked and locked, whatever happens to the path meanwhile.
  platform::LockedFile file;
  switch (file.Open(path, kProfileLockTimeoutMs)) {
    case platform::FileLockResult::kLocked:
      break;
    case platform::FileLockResult::kMissing:
      return kProfileUnavailable;
    case platform::FileLockResult::kNotRegularFile:
      WriteLog(0, kProfileNotRegularFile, path);
      return kProfileUnavailable;
    case platform::FileLockResult::kTimedOut:
      WriteLog(0, kProfileLockTimedOut, path, kProfileLockTimeoutMs);
      return kProfileUnavailable;
    case platform::FileLockResult::kFailed:
      WriteLog(0, kProfileOpenFailed, path, file.Error(), platform::ErrorText(file.Error()));
      return kProfileUnavailable;
  }

  std::string value;
  if (FindProfileValue(file.Stream(), section, key, size, value)) out = value;
  return kProfileRead;
}

std::string GetSettingsFolder(const std::string& installPath) {
  const std::string iniPath = installPath + kPathSeparator + "config.ini";
  std::string value;
  ReadProfileString("", kSettingsFolderKey, kDefaultSettingsFolder, value,
                    kSettingsFolderBufferSize, iniPath);
  // An empty folder would put the settings file at "/Brimora.xml" and the restore's settings
  // files into "/".
  if (value.empty()) {
    WriteLog(1, kSettingsFolderEmpty, iniPath);
    value = kDefaultSettingsFolder;
  }
  if (value.rfind("..", 0) == 0) return installPath + kPathSeparator + value;
  return value;
}

std::string GetSettingsFilePath(const std::string& installPath, bool checkExists) {
  const std::string inSettingsFolder =
      GetSettingsFolder(installPath) + kPathSeparator + kSettingsFileName;
  if (!checkExists) return inSettingsFolder;
  if (!PathIsMissing(inSettingsFolder)) return inSettingsFolder;
  return installPath + kPathSeparator + kSettingsFileName;
}

}  // namespace brimora
