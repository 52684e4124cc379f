#include "common/strings.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <utility>

#include "common/format.h"

namespace brimora {
namespace {

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Decodes the well-formed sequence at `position`; `length` is what Utf8SequenceLength gave.
char32_t DecodeAt(std::string_view text, std::size_t position, std::size_t length) {
  const unsigned char lead = Byte(text, position);
  if (length == 1) return lead;
  char32_t code = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (Byte(text, position + i) & 0x3Fu);
  return code;
}

}  // namespace

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

std::string AsciiUpper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsAsciiWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsAsciiWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsAsciiWhiteSpace(text.front())) text.remove_prefix(1);
  return TrimRight(text);
}

std::string ToAnsi(std::string_view text) { return std::string(text); }

std::string ToUtf8(std::string_view text) { return std::string(text); }

std::size_t Utf8SequenceLength(std::string_view text, std::size_t position) {
  if (position >= text.size()) return 0;
  const unsigned char lead = Byte(text, position);
  if (lead < 0x80) return 1;
  std::size_t length;
  // The bounds of the second byte exclude overlong forms, surrogates and codes past U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - position < length) return 0;
  const unsigned char second = Byte(text, position + 1);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((Byte(text, position + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::size_t CountCodePoints(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    const std::size_t length = Utf8SequenceLength(text, i);
    i += length == 0 ? 1 : length;
  }
  return count;
}

std::string_view LeftCodePoints(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (; i < text.size() && count > 0; --count) {
    const std::size_t length = Utf8SequenceLength(text, i);
    i += length == 0 ? 1 : length;
  }
  return text.substr(0, i);
}

std::string EscapeControlCharacters(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      escaped.push_back(c);
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\t') {
      escaped += "\\t";
    } else {
      escaped += "\\x";
      escaped.push_back(kHexDigits[byte >> 4]);
      escaped.push_back(kHexDigits[byte & 0x0F]);
    }
  }
  return escaped;
}

std::string OneLogLine(std::string_view message, std::size_t maxCodePoints) {
  message = LeftCodePoints(message, maxCodePoints);
  if (message.ends_with('\n')) message.remove_suffix(1);
  return EscapeControlCharacters(message) + '\n';
}

bool FromUtf8(std::string_view utf8, std::string& text) {
  text.clear();
  const std::size_t end = utf8.find('\0');
  if (end != std::string_view::npos) utf8 = utf8.substr(0, end);
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = Utf8SequenceLength(utf8, i);
    if (length == 0) return false;
    i += length;
  }
  text.assign(utf8);
  return !text.empty();
}

std::size_t SplitText(std::string_view text, std::vector<std::string>& list,
                      std::string_view separator) {
  if (text.empty() || separator.empty()) return 0;
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t found = text.find(separator, start);
    list.emplace_back(text.substr(start, found == std::string_view::npos ? found : found - start));
    ++count;
    if (found == std::string_view::npos) return count;
    start = found + separator.size();
  }
}

bool IsNumber(const char* text) {
  return text != nullptr && IsNumber(std::string_view(text, std::strlen(text)));
}

bool IsNumber(std::string_view text) {
  enum class State { kStart, kInteger, kFraction, kExponentStart, kExponent, kExponentFraction };
  if (text.empty()) return false;
  State state = State::kStart;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool last = i + 1 == text.size();
    const bool digit = c >= '0' && c <= '9';
    const bool sign = c == '+' || c == '-';
    const bool point = c == '.';
    const bool exponent = c == 'e' || c == 'E';
    // A sign, point or exponent mark that ends the text leaves it without digits to close it.
    switch (state) {
      case State::kStart:
        if (digit) state = State::kInteger;
        else if (sign && !last) state = State::kInteger;
        else if (point && !last) state = State::kFraction;
        else return false;
        break;
      case State::kInteger:
        if (digit) break;
        if (point) state = State::kFraction;
        else if (exponent && !last) state = State::kExponentStart;
        else return false;
        break;
      case State::kFraction:
        if (digit) break;
        if (exponent && !last) state = State::kExponentStart;
        else return false;
        break;
      case State::kExponentStart:
        if (digit) state = State::kExponent;
        else if (sign && !last) state = State::kExponent;
        else if (point && !last) state = State::kExponentFraction;
        else return false;
        break;
      case State::kExponent:
        if (digit) break;
        if (point) state = State::kExponentFraction;
        else return false;
        break;
      case State::kExponentFraction:
        if (!digit) return false;
        break;
    }
  }
  return true;
}

std::string UrlEncode(std::string_view text) {
  std::string encoded;
  encoded.reserve(text.size());
  auto escape = [&encoded](unsigned code) { encoded += Format("%%%02X", code); };
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      // Not UTF-8: keep the byte recoverable rather than guessing a character for it.
      escape(Byte(text, i));
      ++i;
      continue;
    }
    const char32_t code = DecodeAt(text, i, length);
    if (code == '%' || code < 32 || (code >= 127 && code <= 255)) {
      escape(static_cast<unsigned>(code));
    } else if (code > 255) {
      for (std::size_t k = 0; k < length; ++k) escape(Byte(text, i + k));
    } else {
      encoded += static_cast<char>(code);
    }
    i += length;
  }
  return encoded;
}

namespace Common {

CFilePathString::CFilePathString(std::string path) : path_(std::move(path)) {}

CFilePathString::~CFilePathString() = default;

std::string CFilePathString::Extension() const {
  const std::size_t dot = path_.rfind('.');
  return dot == std::string::npos ? std::string() : path_.substr(dot + 1);
}

std::string CFilePathString::Title() const {
  const std::size_t slash = path_.rfind(kPathSeparator);
  const std::string_view name =
      std::string_view(path_).substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(0, dot));
}

std::string CFilePathString::Folder(std::string_view separator) const {
  std::vector<std::string> pieces;
  const std::size_t count = SplitText(path_, pieces, separator);
  std::string folder;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    folder += pieces[i];
    folder += separator;
  }
  return folder;
}

std::size_t CFilePathString::Split(std::vector<std::string>& list,
                                   std::string_view separator) const {
  return SplitText(path_, list, separator);
}

const std::string& CFilePathString::Path() const { return path_; }

CUrlString::CUrlString(std::string_view allowed) {
  std::string candidates = "%=\"<>\\^[]`+$,@:;/!#?&'";
  for (int code = 1; code <= 32; ++code) candidates += static_cast<char>(code);
  for (int code = 124; code <= 127; ++code) candidates += static_cast<char>(code);
  for (const char c : candidates) {
    if (allowed.find(c) == std::string_view::npos) reserved_ += c;
  }
}

CUrlString::~CUrlString() = default;

const std::string& CUrlString::Reserved() const { return reserved_; }

bool CUrlString::IsReserved(char c) const { return reserved_.find(c) != std::string::npos; }

}  // namespace Common
std::int64_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsAsciiWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}

int LeadingInt(std::string_view text) {
  return static_cast<int>(std::clamp<std::int64_t>(LeadingInteger(text), INT_MIN, INT_MAX));
}

}  // namespace brimora
