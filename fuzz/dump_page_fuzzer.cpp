// The dump pages: the document list taken from any query reply, and the UTF-16LE encoding of the
// page files in both directions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/strings.h"
#include "fuzz/fuzz_check.h"
#include "search/dump_page.h"

using brimora::fuzz::Check;

namespace {

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = brimora::Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::string page = "unset";
  switch (brimora::ExtractDumpPage(input, page)) {
    case brimora::DumpPage::kDocuments: {
      Check(page.size() >= 2 && page.front() == '[' && page.back() == ']', "a page is an array");
      const std::size_t first = input.find('[');
      Check(page.size() == input.rfind(']') - first + 1, "a page keeps the array's length");
      Check(page.find("\"_version_\":") == std::string::npos, "no version field is left");
      break;
    }
    case brimora::DumpPage::kEmpty:
    case brimora::DumpPage::kNoArray:
      Check(page == "unset", "no page leaves the text alone");
      break;
  }

  // Any bytes: what decodes encodes back to the same bytes.
  std::string text;
  if (brimora::DecodeUtf16Le(input, text)) {
    Check(IsUtf8(text), "decoded pages are UTF-8");
    Check(brimora::EncodeUtf16Le(text) == input, "decoding and encoding give the bytes back");
  } else {
    Check(text.empty(), "a failed decoding leaves no text");
  }
  // UTF-8 text: what encodes decodes back to the same text.
  if (IsUtf8(input)) {
    const std::string bytes = brimora::EncodeUtf16Le(input);
    std::string back;
    Check(bytes.size() % 2 == 0, "pages have whole code units");
    Check(brimora::DecodeUtf16Le(bytes, back) && back == input, "encoding and decoding give the text back");
  }
  return 0;
}
