#include "common/name_escape.h"

#include "common/strings.h"

namespace brimora {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string EscapeName(std::string_view name) {
  std::string escaped;
  escaped.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const std::size_t length = Utf8SequenceLength(name, i);
    if (byte == '\\') {
      escaped += "\\\\";
    } else if (length == 0 || byte < 0x20 || byte == 0x7F) {
      escaped += "\\x";
      escaped += kHexDigits[byte >> 4];
      escaped += kHexDigits[byte & 0xF];
    } else {
      escaped.append(name.substr(i, length));
      i += length;
      continue;
    }
    ++i;
  }
  return escaped;
}

bool UnescapeName(std::string_view text, std::string& name) {
  name.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      name += '\\';
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
      name += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

std::string Sha256SumLine(std::string_view hex, std::string_view name) {
  std::string escaped;
  bool anyEscape = false;
  for (const char c : name) {
    const char* replacement = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
    anyEscape = anyEscape || replacement != nullptr;
    if (replacement != nullptr) {
      escaped += replacement;
    } else {
      escaped += c;
    }
  }
  return (anyEscape ? "\\" : "") + std::string(hex) + "  " + escaped + "\n";
}

}  // namespace brimora
