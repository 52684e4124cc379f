#include "search/solr_core.h"

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/command_runner.h"
#include "common/file_utils.h"
#include "common/format.h"
#include "common/trace_log.h"
#include "platform/files.h"
#include "platform/open_file.h"
#include "search/curl_comm.h"
#include "search/dump_page.h"

namespace brimora {
namespace {

constexpr const char kCoreUrl[] = "http://localhost:%d/solr/%s/%s";
constexpr const char kUpdateUrl[] = "http://localhost:%d/solr/%s/update?commit=true";
constexpr const char kJsonContentType[] = "Content-type: application/json";
constexpr const char kDumpPattern[] = "solr*.idx";

// Writes the page as UTF-16LE; answers 0 or the system error code.
int WriteDumpFile(const std::string& path, const std::string& page) {
  std::FILE* stream = nullptr;
  if (int error = platform::OpenFileStream(path, platform::OpenMode::kTruncate, &stream); error != 0) {
    return error;
  }
  const std::string bytes = EncodeUtf16Le(page);
  int error = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) error = errno != 0 ? errno : EIO;
  if (std::fclose(stream) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

}  // namespace

CSolrCore::CSolrCore(CSolrInstance& server, std::string name, std::int32_t /*options*/)
    : name(std::move(name)), server(server) {}

CSolrCore::~CSolrCore() = default;

std::string CSolrCore::CoreFolder() const { return Format("%s/server/solr/%s", server.folder, name); }

bool CSolrCore::BackupDatabase(const std::string& backupFolder) {
  const std::string source = CoreFolder();
  if (PathIsMissing(source)) {
    WriteLog(1, kCoreNotThere);
    return true;
  }
  const std::string destination = Format("%s/%s", backupFolder, name);
  TreeFailure failure;
  if (CopyFolder(source, destination, &failure)) return true;
  if (!failure.path.empty()) WriteLog(0, kCoreCopyStoppedAt, failure.Description());
  WriteLog(0, kCoreNotCopied, source, destination);
  return false;
}

bool CSolrCore::RestoreCore(const std::string& sourceFolder) {
  const std::string coreFolder = CoreFolder();
  if (!PathIsMissing(coreFolder)) {
    WriteLog(1, kCoreExists);
    return true;
  }
  std::string output;
  int exitCode = -1;
  server.RunSolrCommand("stop", output, exitCode);

  // A saved core that is not there puts nothing back; the copy would only leave an empty
  // core folder behind and answer true.
  TreeFailure failure;
  const bool copied = !PathIsMissing(sourceFolder) && CopyFolder(sourceFolder, coreFolder, &failure);
  if (!copied) {
    if (!failure.path.empty()) WriteLog(0, kCoreCopyStoppedAt, failure.Description());
    WriteLog(0, kCoreNotCopied, sourceFolder, coreFolder);
  }

  output.clear();
  exitCode = -1;
  const bool restarted = server.RunSolrCommand("start", output, exitCode) && exitCode == 0;
  if (!restarted) WriteLog(0, kCoreRestartFailed, exitCode, output);
  // A good restart does not make up for a core that was not put back.
  return copied && restarted;
}

bool CSolrCore::HttpGet(const std::string& request, std::string& response, long* status) {
  if (status != nullptr) *status = 0;
  if (!IsSearchServerAvailable()) return false;
  FailsafeLockGuard guard(lock);
  CURLComm comm;
  if (comm.Init() != 0) return false;
  const std::string url = Format(kCoreUrl, server.port, name, request);
  const int rc = comm.Get(url, response);
  if (rc != 0) WriteLog(0, kCoreRequestFailed, url);
  if (status != nullptr) *status = comm.Status();
  return rc == 0;
}

bool CSolrCore::DumpIndex(const std::string& folder) {
  for (int start = 0, page = 1;; start += kDumpPageSize, ++page) {
    const std::string request = Format(kDumpQuery, start, kDumpPageSize);
    std::string reply;
    long status = 0;
    // Only an empty list ends the dump: a query that failed says nothing about the documents
    // after it, so the dump would be incomplete without anyone knowing.
    if (!HttpGet(request, reply, &status) || !IsSuccessStatus(status)) {
      WriteLog(0, kCoreQueryFailed, request, name, static_cast<int>(status));
      return false;
    }
    std::string text;
    switch (ExtractDumpPage(reply, text)) {
      case DumpPage::kEmpty:
        return true;
      case DumpPage::kNoArray:
        WriteLog(0, kCoreReplyNotAList, request, name, reply);
        return false;
      case DumpPage::kDocuments:
        break;
    }
    if (page == 1) CreateFolders(folder, false);
    const std::string path = DumpFileName(folder, page);
    if (const int error = WriteDumpFile(path, text); error != 0) {
      WriteLog(0, kCoreDumpNotWritten, path, error, platform::ErrorText(error));
      return false;
    }
  }
}

bool CSolrCore::RestoreDump(const std::string& folder) {
  if (PathIsMissing(folder)) return true;
  WriteLog(0, kCoreRestoring, name);

  std::vector<std::string> files;
  int listError = 0;
  ListFolder(folder + "/" + kDumpPattern, &files, nullptr, &listError);
  if (listError != 0) {
    WriteLog(0, kCoreDumpFolderNotListed, folder, listError, platform::ErrorText(listError));
    return false;
  }
  // The listing is sorted by name, which for these names is the page order.
  for (const std::string& file : files) {
    const std::string path = folder + "/" + file;
    std::string bytes;
    std::string text;
    const bool good = platform::ReadFileContents(path, &bytes) == 0 && DecodeUtf16Le(bytes, text) &&
                      !text.empty() && IsSearchServerAvailable() && UpdateJSON(text);
    if (!good) {
      // The page and the ones after it stay, so a later run can go on from here.
      WriteLog(0, kCoreRestoreFailed, path);
      return false;
    }
    if (const int error = platform::RemoveFile(path); error != 0) {
      WriteLog(0, kCoreDumpFileNotRemoved, path, error, platform::ErrorText(error));
    }
  }
  // Removes the folder only when nothing else is left in it.
  platform::RemoveFolder(folder);
  return true;
}

bool CSolrCore::UpdateJSON(const std::string& text) {
  CURLComm comm;
  if (const int rc = comm.Init(); rc != 0) {
    WriteLog(0, kCoreUpdateFailed, 0, "");
    return false;
  }
  std::string response;
  int rc = 0;
  {
    FailsafeLockGuard guard(server.lock);
    rc = comm.PostText(Format(kUpdateUrl, server.port, name), text, kJsonContentType, response);
  }
  // A page the server refused (400, 500) was not taken: it must not count as loaded.
  if (rc != 0 || !IsSuccessStatus(comm.Status())) {
    WriteLog(0, kCoreUpdateFailed, static_cast<int>(comm.Status()), response);
    return false;
  }
  return true;
}

}  // namespace brimora
