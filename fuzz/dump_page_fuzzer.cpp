// The dump pages: the document list taken from any query reply, and the UTF-16LE encoding of the
// page files in both directions.

#include "fuzz/fuzz_target.h"
#include "search/dump_page.h"

using brimora::fuzz::IsUtf8;

BRIMORA_FUZZ_TARGET {
  std::string page = "unset";
  if (brimora::ExtractDumpPage(input, page) == brimora::DumpPage::kDocuments) {
    Check(page.size() >= 2 && page.front() == '[' && page.back() == ']', "a page is an array");
    Check(page.size() == input.rfind(']') - input.find('[') + 1, "a page keeps the array's length");
    Check(page.find("\"_version_\":") == std::string::npos, "no version field is left");
  } else {
    Check(page == "unset", "no page leaves the text alone");
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
}
