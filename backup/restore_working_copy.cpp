#include "backup/restore_working_copy.h"

#include "backup/restore_messages.h"
#include "backup/restore_support.h"
#include "common/trace_log.h"
#include "platform/files.h"
#include "sourcecontrol/svn_client.h"

namespace brimora {

namespace {

// "svn status" of one path, its status columns (the first seven characters) and then the path:
// an entry the client knows that is missing ("!") is one the restore may make again.
bool OnlyMissing(const std::string& change) {
  return change.size() > 8 && change[0] == '!' && change.compare(1, 7, "       ") == 0 &&
         change.find('\n') >= change.size() - 1;
}

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

void CRestoreWorkingCopy::Start(const std::string& root, const std::string& workingCopy,
                                const std::string& repositoryUrl) {
  root_ = root;
  workingCopy_ = workingCopy;
  repositoryUrl_ = repositoryUrl;
  trust_ = Trust::kUnchecked;
  changed_.clear();
}

bool CRestoreWorkingCopy::Check(const std::string& workingCopy, const std::string& shownAs) {
  trust_ = Trust::kRefused;
  int error = LinkOnTheWay(root_, workingCopy, true);
  if (error == 0) error = LinkOnTheWay(root_, workingCopy + "/.svn", true);
  if (error != 0) WriteLog(0, messages::kRestoreClientRefused, shownAs, platform::ErrorText(error));
  if (error != 0 || !UpgradeWorkingCopy(workingCopy)) {
    WriteLog(0, messages::kRestoreUpgradeFailed, shownAs);
    return false;
  }
  std::string root;
  std::string uuid;
  if (!GetRepositoryIdentity(workingCopy, root, uuid)) {
    WriteLog(0, messages::kRestoreRepositoryNotRead, shownAs, shownAs);
    return false;
  }
  std::string ownRoot;
  std::string ownUuid;
  if (!GetRepositoryIdentity(repositoryUrl_, ownRoot, ownUuid)) {
    WriteLog(0, messages::kRestoreRepositoryNotRead, repositoryUrl_, shownAs);
    return false;
  }
  if (root != ownRoot || uuid != ownUuid) {
    WriteLog(0, messages::kRestoreForeignRepository, shownAs, root, uuid, ownRoot, ownUuid);
    return false;
  }
  trust_ = Trust::kTrusted;
  return true;
}

bool CRestoreWorkingCopy::ClientMayWorkOn(const std::string& path) {
  if (trust_ == Trust::kUnchecked) Check(workingCopy_, workingCopy_);
  return trust_ == Trust::kTrusted && brimora::ClientMayWorkOn(root_, workingCopy_, path);
}

bool CRestoreWorkingCopy::MayChange(const std::string& path) {
  if (!ClientMayWorkOn(path)) return false;
  if (changed_.contains(path)) return true;
  std::string change;
  if (!GetLocalChange(path, change)) {
    WriteLog(0, messages::kRestoreStatusFailed, path);
    return false;
  }
  if (change.empty() || OnlyMissing(change)) return true;
  WriteLog(0, messages::kRestoreForeignChange, path, WithoutLineEnd(change));
  return false;
}

}  // namespace brimora
