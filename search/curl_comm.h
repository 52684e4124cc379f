#pragma once
// CURLComm: the program's HTTP client, a thin layer over libcurl's easy interface. The search
// server control polls the local search server with it and reads its system information; the
// core operations send queries and post JSON updates with it.
//
// One object serves one sequence of requests on one thread; make one on the stack for each use.
// The library is initialised by the first construction in the process and never shut down.
// Requests to the loopback host never go through a proxy named in the environment.
//
// Thread safety: objects are independent of each other; one object is used by one thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct curl_slist;

namespace brimora {

// Trace-log lines of the client.
inline constexpr const char kCurlInitialized[] = "CURLComm::CURLComm() - curl initialized";
inline constexpr const char kCurlInitFailed[] =
    "CURLComm::CURLComm() - Failed to initialize curl, ret = %d";
// Level 8: dropped under the default level mask.
inline constexpr const char kCurlGetFailed[] =
    "ERROR: CURLComm::Get() - curl_easy_perform returned %d";
inline constexpr const char kCurlReplyTooLarge[] =
    "ERROR: CURLComm - The reply to '%s' is larger than %d MiB; the request failed.";

// The largest reply body a request takes; a longer one fails the request.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{64} << 20;
// How long a request may take to connect, and in all, unless SetTimeLimit says less.
inline constexpr std::uint32_t kConnectLimitMs = 10'000;
inline constexpr std::uint32_t kRequestLimitMs = 600'000;

// Decodes a response body: a UTF-8 byte-order mark is skipped when more bytes follow it, the
// rest is read as UTF-8 up to its first zero byte. A body that is not well-formed UTF-8, and an
// empty one, give an empty text.
std::string DecodeResponseBody(std::string_view body);

// True for a status of the 2xx class: the request was carried out.
inline bool IsSuccessStatus(long status) { return status >= 200 && status <= 299; }

class CURLComm {
 public:
  // Initialises the library when no earlier construction did (logged at level 1, or a failure
  // with the library's code at level 0, after which the next construction tries again).
  CURLComm();
  // Releases the transfer handle and everything it used.
  virtual ~CURLComm();
  CURLComm(const CURLComm&) = delete;
  CURLComm& operator=(const CURLComm&) = delete;

  // Makes the transfer handle with its standing options (redirects followed up to 50 times,
  // certificates not verified, TCP keep-alive, no proxy for the loopback host, the time limits
  // kConnectLimitMs and kRequestLimitMs). Resets the status. 0, also when a handle exists
  // already; -1 when none can be made.
  virtual int Init();

  // Limits every later request of this object to `milliseconds` in all (at least 1), and its
  // connect to the shorter of that and kConnectLimitMs. A request that runs out fails like one
  // that got no answer. Needs a handle; does nothing without one.
  void SetTimeLimit(std::uint32_t milliseconds);

  // GET of `url`. 0 when an HTTP response came, whatever its status (see Status()); the body
  // is then decoded into `response`. -1 without a handle; otherwise libcurl's result code of
  // the failed transfer (status 0, `response` untouched). A reply body beyond kMaxReplyBytes
  // fails the transfer (CURLE_WRITE_ERROR) with a level-0 line; so does it for Post.
  int Get(const std::string& url, std::string& response);

  // POST of `length` bytes at `body` with the header line `contentType` (for example
  // "Content-type: application/json"). 0 when an HTTP response came, -1 without a handle, -2
  // when the transfer failed (status 0). The body must stay valid during the call.
  int Post(const std::string& url, const char* body, std::size_t length,
           const std::string& contentType);

  // Post of a text. `response` is emptied first and receives the decoded body on 0. -1 for an
  // empty URL; otherwise Post's answer.
  int PostText(const std::string& url, const std::string& body, const std::string& contentType,
               std::string& response);

  // The body of the last response, decoded as DecodeResponseBody does.
  void ResponseText(std::string& response) const;

  // HTTP status of the last response; 0 after construction, Init and a failed transfer.
  long Status() const { return status_; }

  // Basic authentication for Post when either is not empty; extra header lines sent by Get
  // (both) and Post (the second). This program leaves them empty.
  std::string userName;
  std::string password;
  std::string extraHeader1;
  std::string extraHeader2;

 private:
  static std::size_t Collect(char* data, std::size_t size, std::size_t count, void* self);
  void ReleaseGetHeaders();

  // Writes the line of a reply that was too large and forgets the flag.
  void ReportTooLarge(const std::string& url);

  void* handle_ = nullptr;  // CURL*
  std::string body_;
  bool tooLarge_ = false;  // the last transfer was ended for a reply beyond kMaxReplyBytes
  long status_ = 0;
  // The header list that Get set on the handle; the handle uses it until it is replaced.
  curl_slist* getHeaders_ = nullptr;
};

}  // namespace brimora
