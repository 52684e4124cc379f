#include "support/search_standin.h"

#include <signal.h>

#include <filesystem>

#include "common/format.h"
#include "common/run_process.h"
#include "search/curl_comm.h"
#include "support/test_support.h"

namespace brimora::test {
namespace {

namespace fs = std::filesystem;

const std::string kScripts = std::string(BRIMORA_SOURCE_DIR) + "/scripts/search_standin";

}  // namespace

CSearchStandIn::CSearchStandIn(std::string folder, int port, bool installScripts)
    : folder_(std::move(folder)), port_(port) {
  fs::create_directories(folder_ + "/server/solr");
  if (!installScripts) return;
  fs::create_directories(folder_ + "/bin");
  for (const char* name : {"solr", "solr_standin.py"}) {
    fs::copy_file(kScripts + "/" + name, folder_ + "/bin/" + name, fs::copy_options::overwrite_existing);
    fs::permissions(folder_ + "/bin/" + name, fs::perms(0755));
  }
}

CSearchStandIn::~CSearchStandIn() {
  Stop();
  // A server the script could not stop must not outlive the test either.
  const std::string pidFile = folder_ + "/bin/solr-" + std::to_string(port_) + ".pid";
  if (fs::exists(pidFile)) {
    const int pid = std::atoi(ReadFile(pidFile).c_str());
    if (pid > 1) kill(pid, SIGKILL);
  }
}

void CSearchStandIn::AddCore(const std::string& core) {
  WriteFile(CoreFolder(core) + "/core.properties", "name=" + core + "\n");
}

bool CSearchStandIn::Start() {
  std::string output;
  int exitCode = -1;
  return RunProcess(QuoteArgument(folder_ + "/bin/solr") + " start -p " + std::to_string(port_), output,
                    &exitCode, {}, 60, false, true) &&
         exitCode == 0;
}

bool CSearchStandIn::Stop() {
  std::string output;
  int exitCode = -1;
  return RunProcess(QuoteArgument(folder_ + "/bin/solr") + " stop -p " + std::to_string(port_), output,
                    &exitCode, {}, 60, false, true) &&
         exitCode == 0;
}

bool CSearchStandIn::Answers() const {
  CURLComm comm;
  std::string response;
  return comm.Init() == 0 && comm.Get(Format("http://localhost:%d/solr", port_), response) == 0;
}

bool CSearchStandIn::AddDocuments(const std::string& core, const std::string& json) const {
  CURLComm comm;
  std::string response;
  return comm.Init() == 0 &&
         comm.PostText(Format("http://localhost:%d/solr/%s/update?commit=true", port_, core), json,
                       "Content-type: application/json", response) == 0 &&
         IsSuccessStatus(comm.Status());
}

long CSearchStandIn::DocumentCount(const std::string& core) const {
  CURLComm comm;
  std::string response;
  if (comm.Init() != 0 ||
      comm.Get(Format("http://localhost:%d/solr/%s/select?q=*&start=0&rows=0&wt=json", port_, core), response) != 0 ||
      !IsSuccessStatus(comm.Status())) {
    return -1;
  }
  const std::string key = "\"numFound\":";
  const std::size_t at = response.find(key);
  return at == std::string::npos ? -1 : std::atol(response.c_str() + at + key.size());
}

std::string SampleDocuments(const std::string& prefix, int count) {
  std::string json = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) json += ",";
    json += Format("{\"id\":\"%s-%04d\",\"title\":\"Prüfbericht %d – 試験 \xF0\x9F\x98\x80\"}", prefix, i, i);
  }
  return json + "]";
}

}  // namespace brimora::test
