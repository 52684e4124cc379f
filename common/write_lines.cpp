#include "common/write_lines.h"

#include <cerrno>
#include <cstdio>

#include "common/strings.h"

namespace brimora {
namespace {

bool WriteText(std::FILE* file, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

bool WriteLinesToFile(const std::string& path, const std::vector<std::string>& lines,
                      bool endWithNewline, bool rawMode, int* error) {
  int firstError = 0;
  const auto fail = [&] {
    if (firstError == 0) firstError = errno != 0 ? errno : EIO;
  };
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), rawMode ? "wb" : "w");
  if (file == nullptr) {
    fail();
    if (error != nullptr) *error = firstError;
    return false;
  }
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
