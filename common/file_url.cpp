#include "common/file_url.h"

#include <utility>

#include "common/strings.h"

namespace brimora {
namespace {

constexpr std::string_view kScheme = "file://";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes %XX escapes into bytes. A NUL byte would silently cut the path short wherever it is
// handed to the system, so it makes the whole URL unusable.
bool AppendDecoded(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      const char byte = static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      if (byte == '\0') return false;
      out += byte;
      i += 2;
    } else {
      out += text[i];
    }
  }
  return true;
}

}  // namespace

bool FileUrlToPath(std::string_view url, std::string& path) {
  // A NUL byte would cut the path short wherever it reaches the system, written as it is or
  // escaped: such a URL names no folder.
  if (url.find('\0') != std::string_view::npos) return false;
  if (url.size() < kScheme.size() || !EqualsIgnoringAsciiCase(url.substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  const std::string_view rest = url.substr(kScheme.size());
  const std::size_t slash = rest.find('/');
  const std::string_view host = rest.substr(0, slash);
  const std::string_view localPath =
      slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

  std::string result;
  if (host.empty() || EqualsIgnoringAsciiCase(host, "localhost")) {
    if (localPath.empty()) return false;
  } else {
    // A network path needs at least a share after the host.
    if (localPath.size() < 2) return false;
    result = "//";
    if (!AppendDecoded(host, result)) return false;
  }
  if (!AppendDecoded(localPath, result)) return false;
  path = std::move(result);
  return true;
}

std::string PathToFileUrl(std::string_view path) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string url(kScheme);
  for (const unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

}  // namespace brimora
