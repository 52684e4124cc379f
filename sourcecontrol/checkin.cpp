// Check-in of files and folders.

#include "sourcecontrol/checkin.h"

#include "common/format.h"
#include "common/strings.h"
#include "common/trace_log.h"
#include "platform/files.h"
#include "sourcecontrol/properties.h"
#include "sourcecontrol/svn_client.h"
#include "sourcecontrol/svn_messages.h"

namespace brimora {

namespace {

// The client is never handed a path it could not use: the length of the absolute path plus 31
// must stay below the limit. A folder is added alone: what lies in it is added by its own
// check-in, so nothing the restore did not put there is added with it.
bool AddFile(const std::string& path, std::size_t maximumPath) {
  const std::size_t length = platform::AbsolutePath(path).size() + 31;
  if (length >= maximumPath) {
    WriteLog(0, messages::kAddPathTooLong, length, path);
    return false;
  }
  std::string output;
  return ExecuteCommand(Format("%s add --depth empty -- %s", SvnCommand(), SvnPathArgument(path)), output);
}

}  // namespace

std::string DisplayUser(const std::string& user) {
  return EqualsIgnoringAsciiCase(user, "svcagent4") ? "N/A (External Client/User)" : user;
}

std::string PrepareCommitMessage(const std::string& comment) {
  std::string message;
  message.reserve(comment.size());
  for (char c : comment) {
    if (c != '\r' && c != '\n') message += c;
  }
  return message;
}

bool CommitFile(const std::string& path, const std::string& comment, const std::string& user) {
  RevisionPropertyMap revisionProperties;
  const std::string message = PrepareCommitMessage(comment);

  // Every property step runs; the commit goes ahead whatever they answer.
  const bool versionSet = IncrementVersion(path);
  std::string output;
  const bool userSet = ExecuteCommand(Format("%s propset username -- %s %s", SvnCommand(),
                                             QuotedValue(DisplayUser(user)), SvnPathArgument(path)),
                                      output);
  ReadModuleProperties(path, revisionProperties);
  SetDocflowProperties(path, revisionProperties);
  bool propertiesSet = versionSet && userSet;

  std::string resolve;
  std::string commit;
  if (path.empty()) {
    resolve = Format("%s resolve --accept=working", SvnCommand());
    commit = Format("%s commit --force-log --message %s", SvnCommand(), QuotedValue(message));
  } else {
    if (!UpdateFile(path)) propertiesSet = false;
    const std::string target = SvnPathArgument(path);
    resolve = Format("%s resolve --accept=working -- %s", SvnCommand(), target);
    // Only the path itself: a change below it that the check-in did not make never goes along.
    commit = Format("%s commit --depth empty --force-log --message %s --with-revprop %s", SvnCommand(),
                    QuotedValue(message), QuotedValue("username=" + user));
    const std::string saveAction = GetSaveAction(path, message);
    if (!saveAction.empty()) {
      commit += " --with-revprop " + QuotedValue("docflow_save_action=" + saveAction);
    }
    for (const auto& [name, value] : revisionProperties) {
      commit += " --with-revprop " + QuotedValue(name + "=" + value);
    }
    commit += " -- " + target;
  }

  const bool resolved = ExecuteCommand(resolve, output);
  bool committed = ExecuteCommand(commit, output);
  if (!committed && NeedsCleanup(output)) {
    committed = CleanupWorkingCopy() && ExecuteCommand(commit, output);
  }
  return committed && resolved && propertiesSet;
}

bool CheckinFile(const std::string& path, const std::string& comment, const std::string& user,
                 std::size_t maximumPath) {
  bool versioned = false;
  if (!GetFileInfo(path, versioned) || !versioned) {
    if (!AddFile(path, maximumPath)) {
      WriteLog(0, messages::kCheckinAddFailed, path);
      return false;
    }
    if (!CommitFile(path, comment, user)) {
      WriteLog(0, messages::kCheckinNewCommitFailed, path);
      return false;
    }
  } else {
    if (!UpdateFile(path)) {
      WriteLog(0, messages::kCheckinUpdateFailed, path);
      return false;
    }
    if (!CommitFile(path, comment, user)) {
      WriteLog(0, messages::kCheckinCommitFailed, path);
      return false;
    }
  }
  if (!UpdateFile(path)) {
    WriteLog(0, messages::kCheckinUpdateFailed, path);
    return false;
  }
  return true;
}

}  // namespace brimora
