#include "backup/backup_log.h"

#include <filesystem>
#include <system_error>

#include "common/strings.h"
#include "common/time_text.h"
#include "common/trace_log.h"
#include "platform/clock.h"
#include "platform/open_file.h"

namespace brimora {
namespace {

constexpr char kLockName[] = "CBackupLog::m_cs";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::uint64_t SizeOnDisk(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

std::string PreviousGenerationPath(const std::string& path) {
  const Common::CFilePathString parts(path);
  return parts.Folder(std::string_view(&kPathSeparator, 1)) + parts.Title() + "_prev." +
         parts.Extension();
}

// Moves the log aside as its previous generation, replacing an older one. Failures are
// ignored: the next line then simply goes to whatever file stands at the path.
void Rotate(const std::string& path) {
  const std::filesystem::path previous(PreviousGenerationPath(path));
  std::error_code error;
  std::filesystem::remove(previous, error);
  std::filesystem::rename(std::filesystem::path(path), previous, error);
}

}  // namespace

CBackupLog::CBackupLog() : lock_(kLockName) {}

CBackupLog::~CBackupLog() { Close(); }

void CBackupLog::Close() {
  FailsafeLockGuard guard(lock_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

// Opens path_ for appending. A file that is new or still empty gets the byte-order mark first,
// so the mark stands only at the very start of each generation. Only a regular file is opened:
// a link or FIFO planted at the path counts as a file that cannot be opened.
bool CBackupLog::OpenForAppend() {
  if (platform::OpenFileStream(path_, platform::OpenMode::kAppend, &file_) != 0) return false;
  if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) == 0) {
    std::fputs(kByteOrderMark, file_);
    std::fflush(file_);
  }
  return true;
}

bool CBackupLog::Open(const std::string& path) {
  FailsafeLockGuard guard(lock_);
  Close();
  path_ = path;
  return OpenForAppend();
}

std::string CBackupLog::Path() {
  FailsafeLockGuard guard(lock_);
  return path_;
}

bool CBackupLog::WriteText(unsigned level, std::string_view message) {
  FailsafeLockGuard guard(lock_);
  const std::string time = CtimeText(platform::LocalTimeNow());
  if (file_ == nullptr) {
    WriteLogText(level, message);  // the trace log makes it one line in the same way
    return true;
  }

  if (level == 0) CountErrorLine(message);
  const std::string line = time + '\t' + OneLogLine(message, kMaxMessageLength);

  // Closing first puts everything written so far on disk, so the size below is complete.
  Close();
  if (SizeOnDisk(path_) + CountCodePoints(line) > kRotationLimit) Rotate(path_);

  if (!OpenForAppend()) return false;
  const bool written = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
  return std::fflush(file_) == 0 && written;
}

}  // namespace brimora
