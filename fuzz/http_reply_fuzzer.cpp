// The reading of search server replies: the decoding of any response body, and the version read
// from the decoded system information.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/strings.h"
#include "fuzz/fuzz_check.h"
#include "search/curl_comm.h"
#include "search/solr_instance.h"

using brimora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::string text = brimora::DecodeResponseBody(body);
  Check(text.find('\0') == std::string::npos, "a decoded body holds no NUL byte");
  std::string again;
  Check(text.empty() || (brimora::FromUtf8(text, again) && again == text), "a decoded body is UTF-8");
  if (body.size() > 3 && body.substr(0, 3) == "\xEF\xBB\xBF") {
    std::string rest;
    brimora::FromUtf8(body.substr(3), rest);
    Check(text == rest, "one leading byte-order mark is skipped");
  } else if (!text.empty()) {
    Check(body.substr(0, text.size()) == text, "without a mark the text is the body's beginning");
  }

  std::string version = "unset";
  const brimora::SolrVersionReply reply = brimora::ReadSolrVersion(text, version);
  if (reply != brimora::SolrVersionReply::kVersion) Check(version == "unset", "no version leaves it alone");
  return 0;
}
