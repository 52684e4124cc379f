#include "common/write_lines.h"

#include <cerrno>
#include <cstdio>

#include "common/strings.h"
#include "platform/open_file.h"

namespace brimora {
namespace {

bool WriteText(std::FILE* file, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

bool WriteLinesToFile(const std::string& path, const std::vector<std::string>& lines,
                      bool endWithNewline, [[maybe_unused]] bool rawMode, int* error) {
  int firstError = 0;
  const auto fail = [&] {
    if (firstError == 0) firstError = errno != 0 ? errno : EIO;
  };
  // Binary and text mode are the same here, so rawMode changes nothing.
  std::FILE* file = nullptr;
  if (const int openError = platform::OpenFileStream(path, platform::OpenMode::kTruncate, &file);
      openError != 0) {
    if (error != nullptr) *error = openError;
    return false;
  }
  errno = 0;
  bool ok = true;
  for (std::size_t i = 0; ok && i < lines.size(); ++i) {
    ok = WriteText(file, ToAnsi(lines[i]));
    if (ok && i + 1 < lines.size()) ok = std::fputc('\n', file) != EOF;
  }
  const bool lastEndsLine = !lines.empty() && !lines.back().empty() && lines.back().back() == '\n';
  if (ok && endWithNewline && !lastEndsLine) {
    ok = std::fputc('\n', file) != EOF;
  }
  if (!ok) fail();
  // Buffered bytes reach the disk only here, so a full disk is often reported by the close.
  if (std::fclose(file) != 0) {
    fail();
    ok = false;
  }
  if (error != nullptr) *error = firstError;
  return ok;
}

}  // namespace brimora
