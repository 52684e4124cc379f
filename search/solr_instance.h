#pragma once
// CSolrInstance: the installation's search server, a program in its own folder with the control
// script "<folder>/bin/solr", listening on a local port. It stops and starts the server through
// that script and, after a start, waits until the server answers over HTTP and reads its
// version. The cores of the server are CSolrCore objects (search/solr_core.h).
//
// The script runs through the command runner (common/command_runner.h) as
// "<folder>/bin/solr <command> -p <port>", never through a shell. The start command returns
// once the server listens and leaves it running on its own: nothing in this program ends the
// server when the script or the program ends.
//
// Thread safety: one object is used by one thread; `lock` serialises the update posts of all
// cores of the server. The available flag may be read and set from any thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/failsafe_lock.h"

namespace brimora {

// Trace-log lines of the server control (all level 0).
inline constexpr const char kSolrStartFailed[] =
    "ERROR: Solr failed to start solr on port %d.  %s.  exit code = %d";
inline constexpr const char kSolrInitFailed[] =
    "ERROR: CSolrInstance::Start() - Init failed with code %d";
inline constexpr const char kSolrWaiting[] =
    "INFO: CSolrInstance::Start() - Waiting up to %d seconds for Solr to become responsive..";
inline constexpr const char kSolrTimedOut[] =
    "ERROR: CSolrInstance::Start() - Solr timed out after %d seconds";
inline constexpr const char kSolrResponded[] =
    "INFO: CSolrInstance::Start() - Received response from Solr.";
inline constexpr const char kSolrRequestFailed[] =
    "ERROR: CSolrInstance::Start() - Request %s failed with response %s.";
inline constexpr const char kSolrReplyNotXml[] =
    "ERROR: CSolrInstance::Start() - The reply to %s is not an XML document: %s.";
inline constexpr const char kSolrNoVersion[] =
    "ERROR: CSolrInstance::Start() - Failed to parse solr version from response %s.";
// Level 1: "nothing to stop" is normal for a server that was down; the port decides.
inline constexpr const char kSolrStopExitCode[] =
    "INFO: CSolrInstance::Stop() - The stop command ended with exit code %d: %s";
inline constexpr const char kSolrStillRunning[] =
    "ERROR: CSolrInstance::Stop() - Port %d still takes connections %d seconds after the stop command.";

// The process-wide "search server available" flag, true at start. The database backup clears
// it while it has the server stopped; the core requests refuse at once while it is clear.
bool IsSearchServerAvailable();
void SetSearchServerAvailable(bool available);

// The control script's command line for `command` ("start", "stop") on `port`.
std::string SolrCommandLine(const std::string& folder, const std::string& command, int port);

// What the system-information reply of the server holds.
enum class SolrVersionReply {
  kNotXml,     // not an XML document
  kNoVersion,  // XML without a "str" element named "solr-spec-version"
  kVersion,    // the version was found
};

// Reads the server's version from its system-information reply into `version` (left alone
// unless the answer is kVersion).
SolrVersionReply ReadSolrVersion(std::string_view reply, std::string& version);

// How Start and Stop wait: their clock, their pause between polls and the limit for the start
// command. Tests put quick ones in place.
struct SolrStartTiming {
  // Milliseconds of a clock that never goes backwards.
  std::function<std::int64_t()> nowMilliseconds;
  std::function<void(std::uint32_t milliseconds)> sleep;
  // A start command still running after this many seconds is ended, and the start fails.
  std::uint32_t startLimitSeconds = 600;

  static SolrStartTiming System();
};

class CSolrInstance {
 public:
  CSolrInstance();
  virtual ~CSolrInstance();
  CSolrInstance(const CSolrInstance&) = delete;
  CSolrInstance& operator=(const CSolrInstance&) = delete;

  // Stores the folder, made absolute against the working folder, and the port.
  void SetLocation(const std::string& folder, int port);

  // Runs the control script with `command` and waits at most 600 seconds, capturing its
  // standard output and error into `output`. `exitCode` receives the script's exit code when
  // it ended by itself and is left alone otherwise. True when the script ran to its end.
  bool RunSolrCommand(const std::string& command, std::string& output, int& exitCode);

  // Runs the stop command (its exit code and output go to the trace log at level 1), then
  // polls the port every 250 ms until it refuses connections or `timeoutSeconds` have passed.
  // True once it refuses; false, with a level-0 line, while anything still answers or accepts
  // connections there.
  bool Stop(int timeoutSeconds);

  // Stores folder and port, stops the server, runs the start command (ended, and the start
  // failed, after timing.startLimitSeconds), then polls "http://localhost:<port>/solr" once a
  // second until any HTTP answer comes or `timeoutSeconds` have passed, and reads the
  // version from the system information into `version` (left alone when the reply names
  // none). No request runs past the end of the wait, except that the system information
  // always gets at least a second. True when the server came up and its system information
  // could be read. A failed start command leaves the port at -1. Every failure writes one
  // level-0 trace-log line.
  bool Start(const std::string& folder, int port, std::string& version, int timeoutSeconds);

  std::string folder;  // absolute
  int port = 0;        // -1 after a failed start
  CFailsafeLock lock{"CSolrInstance::m_cs"};
  SolrStartTiming timing = SolrStartTiming::System();
};

}  // namespace brimora
