// The reading of search server replies: the decoding of any response body, and the version read
// from the decoded system information.

#include "fuzz/fuzz_target.h"
#include "search/curl_comm.h"
#include "search/solr_instance.h"

BRIMORA_FUZZ_TARGET {
  const std::string text = brimora::DecodeResponseBody(input);
  Check(text.find('\0') == std::string::npos, "a decoded body holds no NUL byte");
  Check(brimora::fuzz::IsUtf8(text), "a decoded body is UTF-8");
  if (input.substr(0, 3) == "\xEF\xBB\xBF" && input.size() > 3) {
    std::string rest;
    brimora::FromUtf8(input.substr(3), rest);
    Check(text == rest, "one leading byte-order mark is skipped");
  } else if (!text.empty()) {
    Check(input.substr(0, text.size()) == text, "without a mark the text is the body's beginning");
  }

  std::string version = "unset";
  if (brimora::ReadSolrVersion(text, version) != brimora::SolrVersionReply::kVersion) {
    Check(version == "unset", "no version leaves it alone");
  }
}
