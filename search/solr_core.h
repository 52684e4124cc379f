#pragma once
// CSolrCore: one index core of the search server, the folder "<server>/server/solr/<name>".
// It saves the core's folder into a backup (server stopped), puts a saved core back when the
// core is missing, dumps all documents of a running core into page files (search/dump_page.h)
// and loads such files back into a running core.
//
// A core is made for one operation and destroyed after it; the server must outlive it. Every
// failure writes one level-0 trace-log line where it happens.
//
// Thread safety: the requests of one core are serialised by its own lock, the update posts of
// all cores of a server by the server's lock; otherwise one object is used by one thread.

#include <cstdint>
#include <string>

#include "common/failsafe_lock.h"
#include "search/solr_instance.h"

namespace brimora {

// Trace-log lines of the core operations.
inline constexpr const char kCoreNotThere[] = "INFO: BackupDatabase() - No Solr core to backup";
inline constexpr const char kCoreNotCopied[] =
    "ERROR: BackupDatabase() - Unable to copy Solr core from '%s' to '%s'.";
inline constexpr const char kCoreCopyStoppedAt[] = "ERROR: BackupDatabase() - %s.";
inline constexpr const char kCoreExists[] = "INFO: BackupDatabase() - Solr core exists";
inline constexpr const char kCoreRestartFailed[] =
    "ERROR: BackupDatabase() - Failed to restart Solr after core backup. Return Code=%d, Output: %s";
inline constexpr const char kCoreRequestFailed[] =
    "ERROR: CSolrCore::HttpGet() - Failed to get response to request '%s'";
inline constexpr const char kCoreQueryFailed[] =
    "ERROR: CSolrCore::DumpIndex() - The query '%s' of core '%s' failed (HTTP status %d); the dump is incomplete.";
inline constexpr const char kCoreReplyNotAList[] =
    "ERROR: CSolrCore::DumpIndex() - The reply to '%s' of core '%s' holds no document list: %s";
inline constexpr const char kCoreDumpNotWritten[] =
    "ERROR: CSolrCore::DumpIndex() - Unable to write the dump file '%s'. Error Code %d - %s";
inline constexpr const char kCoreRestoring[] =
    "INFO: CSolrCore::RestoreDump() - Restoring index for core '%s'";
inline constexpr const char kCoreDumpFolderNotListed[] =
    "ERROR: CSolrCore::RestoreDump() - Unable to list the dump folder '%s'. Error Code %d - %s";
inline constexpr const char kCoreRestoreFailed[] = "ERROR: CSolrCore_RestoreDump() failed for '%s'";
inline constexpr const char kCoreDumpFileNotRemoved[] =
    "ERROR: CSolrCore::RestoreDump() - The loaded dump file '%s' could not be removed. Error Code %d - %s";
inline constexpr const char kCoreUpdateFailed[] = "CSolrCore::UpdateJSON failed: Response code=%d, %s";

class CSolrCore {
 public:
  // `options` is kept for callers that pass one; no operation reads it.
  CSolrCore(CSolrInstance& server, std::string name, std::int32_t options);
  virtual ~CSolrCore();
  CSolrCore(const CSolrCore&) = delete;
  CSolrCore& operator=(const CSolrCore&) = delete;

  // "<server folder>/server/solr/<name>".
  std::string CoreFolder() const;

  // Copies the core folder to "<backupFolder>/<name>" as it lies (the server should be
  // stopped). True when copied, and when there is no core folder (a level-1 notice).
  bool BackupDatabase(const std::string& backupFolder);

  // When nothing is at the core folder: stops the server, copies `sourceFolder` there and
  // starts the server again. True when the core exists already, or when both the copy and
  // the restart succeeded.
  bool RestoreCore(const std::string& sourceFolder);

  // Writes every document of the running core into page files in `folder` (made when missing
  // and there is a page to write), 100 a page, until
  // a query answers an empty list. False when a query fails (no answer, a status other than
  // 2xx, a reply without a document list) or a page file cannot be written; the pages written
  // until then stay.
  bool DumpIndex(const std::string& folder);

  // Posts every page file of `folder` to the running core in page order, deleting each one
  // once the server has taken it, and then the folder. Stops at the first page that cannot be
  // read, is empty or is not taken, keeping it and the rest, and answers false. True also when
  // the folder does not exist.
  bool RestoreDump(const std::string& folder);

  // GET of "http://localhost:<port>/solr/<name>/<request>". True when the server answered
  // (whatever the status, which goes to *status when given); false at once, without a
  // request, while the search server is not available.
  bool HttpGet(const std::string& request, std::string& response, long* status = nullptr);

  // Posts a JSON array of documents to the core's update handler with a commit. True only
  // when the server answered with a 2xx status.
  bool UpdateJSON(const std::string& text);

  std::string name;
  CSolrInstance& server;
  CFailsafeLock lock{"CSolrCore::m_csComm"};
};

}  // namespace brimora
