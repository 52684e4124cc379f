#include "search/dump_page.h"

#include <cstdint>

#include "common/format.h"
#include "common/strings.h"

namespace brimora {
namespace {

constexpr std::string_view kVersionField = "\"_version_\":";
constexpr std::string_view kRenamedVersionField = "\"xqxrver_l\":";
static_assert(kVersionField.size() == kRenamedVersionField.size());

constexpr char32_t kReplacement = 0xFFFD;

void AppendUnit(std::string& out, std::uint16_t unit) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The code point of the well-formed sequence of `length` bytes at `position`.
char32_t DecodeSequence(std::string_view text, std::size_t position, std::size_t length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[position + i]); };
  switch (length) {
    case 1: return byte(0);
    case 2: return (char32_t{byte(0)} & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3: return (char32_t{byte(0)} & 0x0F) << 12 | (char32_t{byte(1)} & 0x3F) << 6 | (byte(2) & 0x3F);
    default:
      return (char32_t{byte(0)} & 0x07) << 18 | (char32_t{byte(1)} & 0x3F) << 12 |
             (char32_t{byte(2)} & 0x3F) << 6 | (byte(3) & 0x3F);
  }
}

bool IsOnlyWhiteSpace(std::string_view text) { return Trim(text).empty(); }

}  // namespace

std::string DumpFileName(const std::string& folder, int page) {
  return Format("%s/solr%.07d.idx", folder, page);
}

DumpPage ExtractDumpPage(std::string_view reply, std::string& page) {
  const std::size_t first = reply.find('[');
  const std::size_t last = reply.rfind(']');
  if (first == std::string_view::npos || last == std::string_view::npos || last < first) {
    return DumpPage::kNoArray;
  }
  const std::string_view array = reply.substr(first, last - first + 1);
  // A pretty-printed empty array ("[\n  ]") is as empty as "[]": writing it as a page would
  // make the dump ask for the same empty page again and again.
  if (IsOnlyWhiteSpace(array.substr(1, array.size() - 2))) return DumpPage::kEmpty;

  std::string text(array);
  for (std::size_t at = text.find(kVersionField); at != std::string::npos;
       at = text.find(kVersionField, at + kRenamedVersionField.size())) {
    text.replace(at, kVersionField.size(), kRenamedVersionField);
  }
  page = std::move(text);
  return DumpPage::kDocuments;
}

std::string EncodeUtf16Le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    char32_t c = kReplacement;
    if (length == 0) {
      ++i;
    } else {
      c = DecodeSequence(text, i, length);
      i += length;
    }
    if (c < 0x10000) {
      AppendUnit(out, static_cast<std::uint16_t>(c));
    } else {
      const char32_t v = c - 0x10000;
      AppendUnit(out, static_cast<std::uint16_t>(0xD800 | (v >> 10)));
      AppendUnit(out, static_cast<std::uint16_t>(0xDC00 | (v & 0x3FF)));
    }
  }
  return out;
}

bool DecodeUtf16Le(std::string_view bytes, std::string& text) {
  text.clear();
  if (bytes.size() % 2 != 0) return false;
  std::string out;
  out.reserve(bytes.size());
  const auto unit = [&](std::size_t i) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  };
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t u = unit(i);
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 == units) return false;
      const std::uint16_t low = unit(i + 1);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00));
      ++i;
      continue;
    }
    AppendUtf8(out, u);
  }
  text = std::move(out);
  return true;
}

}  // namespace brimora
