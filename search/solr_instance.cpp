#include "search/solr_instance.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/command_runner.h"
#include "common/format.h"
#include "common/run_process.h"
#include "common/trace_log.h"
#include "common/xml.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "search/curl_comm.h"

namespace brimora {
namespace {

constexpr std::uint32_t kScriptLimitSeconds = 600;
constexpr std::uint32_t kPollPauseMs = 1000;
constexpr std::uint32_t kStopPollPauseMs = 250;
constexpr const char kPingUrl[] = "http://localhost:%d/solr";
constexpr const char kSystemInfoUrl[] = "http://localhost:%d/solr/admin/info/system?wt=xml";
constexpr const char kVersionPath[] = "//str[@name='solr-spec-version']";

std::atomic<bool> g_searchServerAvailable{true};

}  // namespace

bool IsSearchServerAvailable() { return g_searchServerAvailable.load(); }
void SetSearchServerAvailable(bool available) { g_searchServerAvailable.store(available); }

std::string SolrCommandLine(const std::string& folder, const std::string& command, int port) {
  return QuoteArgument(folder + "/bin/solr") + " " + QuoteArgument(command) + " -p " +
         std::to_string(port);
}

SolrVersionReply ReadSolrVersion(std::string_view reply, std::string& version) {
  const XmlDocument document = LoadXmlText(reply);
  if (!document) return SolrVersionReply::kNotXml;
  const XmlNode node = SelectSingleNode(document, kVersionPath);
  if (!node) return SolrVersionReply::kNoVersion;
  version = NodeText(node);
  return SolrVersionReply::kVersion;
}

SolrStartTiming SolrStartTiming::System() {
  SolrStartTiming timing;
  timing.nowMilliseconds = [] { return static_cast<std::int64_t>(platform::MonotonicMilliseconds()); };
  timing.sleep = [](std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  };
  return timing;
}

CSolrInstance::CSolrInstance() = default;
CSolrInstance::~CSolrInstance() = default;

void CSolrInstance::SetLocation(const std::string& newFolder, int newPort) {
  folder = platform::AbsolutePath(newFolder);
  port = newPort;
}

bool CSolrInstance::RunSolrCommand(const std::string& command, std::string& output, int& exitCode) {
  CommandOptions options;
  options.timeoutSeconds = kScriptLimitSeconds;
  options.stderrToo = true;
  CommandResult result = CurrentCommandRunner().Run(SolrCommandLine(folder, command, port), options);
  output = std::move(result.output);
  if (result.exitCode) exitCode = *result.exitCode;
  return result.completed;
}

bool CSolrInstance::Stop(int timeoutSeconds) {
  std::string output;
  int exitCode = -1;
  RunSolrCommand("stop", output, exitCode);
  WriteLog(1, kSolrStopExitCode, exitCode, output);

  // The script's answer proves nothing: only a port that refuses connections shows that no
  // server is left to write into the cores. A process that takes the connection and never
  // answers counts as running.
  CURLComm comm;
  if (const int rc = comm.Init(); rc != 0) {
    WriteLog(0, kSolrInitFailed, rc);
    return false;
  }
  const std::int64_t deadline = timing.nowMilliseconds() + std::int64_t{timeoutSeconds} * 1000;
  const std::string pingUrl = Format(kPingUrl, port);
  for (;;) {
    const std::int64_t left = deadline - timing.nowMilliseconds();
    comm.SetTimeLimit(static_cast<std::uint32_t>(std::clamp<std::int64_t>(left, 1, kRequestLimitMs)));
    std::string response;
    if (comm.Get(pingUrl, response) == CURLE_COULDNT_CONNECT) return true;
    if (deadline < timing.nowMilliseconds()) break;
    timing.sleep(kStopPollPauseMs);
  }
  WriteLog(0, kSolrStillRunning, port, timeoutSeconds);
  return false;
}

bool CSolrInstance::Start(const std::string& newFolder, int newPort, std::string& version,
                          int timeoutSeconds) {
  SetLocation(newFolder, newPort);

  std::string stopOutput;
  int exitCode = -1;
  RunSolrCommand("stop", stopOutput, exitCode);

  // The script returns once the server listens; the server itself runs on without us. A
  // script that never returns is ended at the limit rather than holding the run for ever.
  CommandOptions options;
  options.timeoutSeconds = timing.startLimitSeconds;
  options.captureOutput = false;
  const CommandResult started = CurrentCommandRunner().Run(SolrCommandLine(folder, "start", port), options);
  if (!started.Succeeded()) {
    // A script that could not be started or was ended at the limit has no exit code: -1.
    exitCode = started.exitCode.value_or(-1);
    WriteLog(0, kSolrStartFailed, port, stopOutput, exitCode);
    port = -1;
    return false;
  }

  CURLComm comm;
  if (const int rc = comm.Init(); rc != 0) {
    WriteLog(0, kSolrInitFailed, rc);
    return false;
  }

  WriteLog(0, kSolrWaiting, timeoutSeconds);
  const std::int64_t deadline = timing.nowMilliseconds() + std::int64_t{timeoutSeconds} * 1000;
  // No request outlasts the wait: a process that takes the connection and never answers
  // must not hold the run for longer than the time-out.
  const auto limitTo = [&](std::int64_t shortest) {
    const std::int64_t left = deadline - timing.nowMilliseconds();
    comm.SetTimeLimit(static_cast<std::uint32_t>(std::clamp<std::int64_t>(left, shortest, kRequestLimitMs)));
  };
  const std::string pingUrl = Format(kPingUrl, port);
  std::string response;
  // Any HTTP answer, a 404 included, shows that the server is up.
  limitTo(1);
  int rc = comm.Get(pingUrl, response);
  while (rc != 0) {
    if (timing.nowMilliseconds() > deadline) break;
    timing.sleep(kPollPauseMs);
    limitTo(1);
    rc = comm.Get(pingUrl, response);
  }
  if (rc != 0) {
    WriteLog(0, kSolrTimedOut, timeoutSeconds);
    return false;
  }
  WriteLog(0, kSolrResponded);

  const std::string infoUrl = Format(kSystemInfoUrl, port);
  std::string reply;
  limitTo(kPollPauseMs);
  if (comm.Get(infoUrl, reply) != 0) {
    WriteLog(0, kSolrRequestFailed, infoUrl, reply);
    return false;
  }
  switch (ReadSolrVersion(reply, version)) {
    case SolrVersionReply::kNotXml:
      WriteLog(0, kSolrReplyNotXml, infoUrl, reply);
      return false;
    case SolrVersionReply::kNoVersion:
      // The server is up; only its version is unknown.
      WriteLog(0, kSolrNoVersion, reply);
      return true;
    case SolrVersionReply::kVersion:
      return true;
  }
  return true;
}

}  // namespace brimora
