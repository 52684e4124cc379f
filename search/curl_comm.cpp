#include "search/curl_comm.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

#include "common/strings.h"
#include "common/trace_log.h"

namespace brimora {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The loopback names: a proxy from http_proxy or all_proxy would otherwise receive the requests
// meant for the local search server, and the server would never be seen to answer.
constexpr const char kNoProxyHosts[] = "localhost,127.0.0.1,::1";

std::mutex g_libraryMutex;
bool g_libraryInitialized = false;

void InitializeLibraryOnce() {
  std::lock_guard<std::mutex> guard(g_libraryMutex);
  if (g_libraryInitialized) return;
  const CURLcode rc = curl_global_init(CURL_GLOBAL_ALL);
  if (rc != CURLE_OK) {
    WriteLog(0, kCurlInitFailed, static_cast<int>(rc));
    return;
  }
  WriteLog(1, kCurlInitialized);
  g_libraryInitialized = true;
}

}  // namespace

std::string DecodeResponseBody(std::string_view body) {
  // The mark alone is a one-character text, not a mark in front of nothing.
  if (body.size() > kByteOrderMark.size() && body.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    body.remove_prefix(kByteOrderMark.size());
  }
  std::string text;
  FromUtf8(body, text);
  return text;
}

CURLComm::CURLComm() { InitializeLibraryOnce(); }

CURLComm::~CURLComm() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
  ReleaseGetHeaders();
  status_ = 0;
}

void CURLComm::ReleaseGetHeaders() {
  if (getHeaders_ != nullptr) curl_slist_free_all(getHeaders_);
  getHeaders_ = nullptr;
}

int CURLComm::Init() {
  status_ = 0;
  if (handle_ != nullptr) return 0;
  handle_ = curl_easy_init();
  if (handle_ == nullptr) return -1;
  curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 50L);
  curl_easy_setopt(handle_, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(handle_, CURLOPT_NOPROXY, kNoProxyHosts);
  SetTimeLimit(kRequestLimitMs);
  return 0;
}

void CURLComm::SetTimeLimit(std::uint32_t milliseconds) {
  if (handle_ == nullptr) return;
  // Zero would mean no limit at all to the library.
  const long total = std::max<long>(milliseconds, 1);
  curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, total);
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(total, kConnectLimitMs));
}

void CURLComm::ReportTooLarge(const std::string& url) {
  if (!tooLarge_) return;
  tooLarge_ = false;
  WriteLog(0, kCurlReplyTooLarge, url, static_cast<int>(kMaxReplyBytes >> 20));
}

std::size_t CURLComm::Collect(char* data, std::size_t size, std::size_t count, void* self) {
  const std::size_t bytes = size * count;
  CURLComm& comm = *static_cast<CURLComm*>(self);
  // Taking fewer bytes than delivered ends the transfer: a reply of any size cannot fill memory.
  if (bytes > kMaxReplyBytes - comm.body_.size()) {
    comm.tooLarge_ = true;
    std::string().swap(comm.body_);
    return 0;
  }
  comm.body_.append(data, bytes);
  return bytes;
}

int CURLComm::Get(const std::string& url, std::string& response) {
  const std::string address = ToAnsi(url);
  if (handle_ == nullptr) return -1;
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CURLComm::Collect);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(handle_, CURLOPT_URL, address.c_str());
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, 0L);
  // A Post before on this handle left its method in place; a GET must not be sent as a POST.
  curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
  curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);

  if (!extraHeader1.empty() || !extraHeader2.empty()) {
    curl_slist* headers = nullptr;
    if (!extraHeader1.empty()) headers = curl_slist_append(headers, extraHeader1.c_str());
    if (!extraHeader2.empty()) headers = curl_slist_append(headers, extraHeader2.c_str());
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers);
    // The handle now uses the new list; the one it used before can go.
    ReleaseGetHeaders();
    getHeaders_ = headers;
  }

  body_.clear();
  const CURLcode rc = curl_easy_perform(handle_);
  if (rc != CURLE_OK) {
    ReportTooLarge(address);
    WriteLog(8, kCurlGetFailed, static_cast<int>(rc));
    status_ = 0;
    return static_cast<int>(rc);
  }
  long status = 0;
  curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
  status_ = status;
  ResponseText(response);
  return 0;
}

int CURLComm::Post(const std::string& url, const char* body, std::size_t length,
                   const std::string& contentType) {
  if (handle_ == nullptr) return -1;
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CURLComm::Collect);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());

  std::string credentials;
  if (!userName.empty() || !password.empty()) {
    credentials = ToUtf8(userName) + ":" + ToUtf8(password);
    curl_easy_setopt(handle_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(handle_, CURLOPT_USERPWD, credentials.c_str());
  }

  curl_slist* headers = curl_slist_append(nullptr, contentType.c_str());
  if (!extraHeader2.empty()) headers = curl_slist_append(headers, extraHeader2.c_str());
  curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, "POST");
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body);
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(length));

  body_.clear();
  const CURLcode rc = curl_easy_perform(handle_);
  // The list is freed here, so the handle must not keep pointing at it for a later request.
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
  curl_slist_free_all(headers);
  ReleaseGetHeaders();
  if (rc != CURLE_OK) {
    ReportTooLarge(url);
    status_ = 0;
    return -2;
  }
  long status = 0;
  curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
  status_ = status;
  return 0;
}

int CURLComm::PostText(const std::string& url, const std::string& body,
                       const std::string& contentType, std::string& response) {
  response.clear();
  if (url.empty()) return -1;
  const std::string bytes = ToUtf8(body);
  const int rc = Post(url, bytes.data(), bytes.size(), contentType);
  if (rc == 0) ResponseText(response);
  return rc;
}

void CURLComm::ResponseText(std::string& response) const { response = DecodeResponseBody(body_); }

}  // namespace brimora
