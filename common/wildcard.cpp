#include "common/wildcard.h"

#include <cstddef>
#include <vector>

#include "common/strings.h"

namespace brimora {
namespace {

// Bytes outside well-formed UTF-8 are kept apart from every code point.
constexpr char32_t kStrayByteBase = 0x110000;

char32_t FoldCase(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;           // Latin-1
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;         // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                       // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;                       // Cyrillic Ѐ..Џ
  if (c == 0x178) return 0xFF;                                         // Ÿ
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F && c != 0x178) {
    // Latin Extended-A pairs upper/lower case as even/odd, shifted by one in two ranges.
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddUpper ? (c % 2 == 1) : (c % 2 == 0)) return c + 1;
  }
  return c;
}

std::vector<char32_t> Decode(std::string_view text) {
  std::vector<char32_t> result;
  result.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t length = Utf8SequenceLength(text, position);
    const auto lead = static_cast<unsigned char>(text[position]);
    if (length == 0) {
      result.push_back(kStrayByteBase + lead);
      ++position;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
      c = (c << 6) | (static_cast<unsigned char>(text[position + i]) & 0x3F);
    }
    result.push_back(FoldCase(c));
    position += length;
  }
  return result;
}

// Classic two-pointer match: remember the last "*" and retry from one character further each
// time the rest fails, which is linear in practice and never recursive.
bool Match(const std::vector<char32_t>& pattern, std::size_t patternEnd,
           const std::vector<char32_t>& name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < patternEnd && pattern[p] == U'*') {
      starP = p++;
      starN = n;
    } else if (p < patternEnd && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < patternEnd && pattern[p] == U'*') ++p;
  return p == patternEnd;
}

}  // namespace

bool HasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  const std::vector<char32_t> folded = Decode(pattern);
  const std::vector<char32_t> target = Decode(name);
  if (Match(folded, folded.size(), target)) return true;
  const std::size_t size = folded.size();
  return size >= 2 && folded[size - 2] == U'.' && folded[size - 1] == U'*' &&
         Match(folded, size - 2, target);
}

}  // namespace brimora
