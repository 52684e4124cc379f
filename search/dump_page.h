#pragma once
// The page files of a core dump: each holds the JSON array of up to 100 documents of one query
// reply, as UTF-16 little-endian code units without byte-order mark or line end, named
// "solr" + the page number in 7 digits + ".idx" and numbered from 1 without gaps.
//
// Every function is pure and may be called from any thread.

#include <string>
#include <string_view>

namespace brimora {

// Documents per page, and the query that fetches one page.
inline constexpr int kDumpPageSize = 100;
inline constexpr const char kDumpQuery[] = "select?q=*&start=%d&rows=%d&wt=json";

// The page file's path: "%s/solr%.07d.idx" of the folder and the page number.
std::string DumpFileName(const std::string& folder, int page);

// What a query reply holds.
enum class DumpPage {
  kDocuments,  // an array with documents: `page` holds it
  kEmpty,      // an array without documents ("[]", or nothing but white space inside)
  kNoArray,    // no "[" followed somewhere by "]": not a document list
};

// Takes the array of a reply: from its first "[" to its last "]", both included, with every
// "\"_version_\":" renamed "\"xqxrver_l\":" (a name of the same length, which the server does
// not treat as its own version field when the page is loaded back). `page` is set only for
// kDocuments.
DumpPage ExtractDumpPage(std::string_view reply, std::string& page);

// UTF-8 text as UTF-16 little-endian code units (characters beyond U+FFFF as surrogate pairs).
// The text must be well-formed UTF-8 (every decoded reply is); any other byte becomes U+FFFD.
std::string EncodeUtf16Le(std::string_view text);

// UTF-16 little-endian bytes as UTF-8 text. False, with `text` empty, for an odd number of
// bytes or a surrogate without its partner.
bool DecodeUtf16Le(std::string_view bytes, std::string& text);

}  // namespace brimora
