// The Subversion client runner and its single-command operations.

#include "sourcecontrol/svn_client.h"

#include <mutex>
#include <vector>

#include "common/command_runner.h"
#include "common/failsafe_lock.h"
#include "common/format.h"
#include "common/run_process.h"
#include "common/strings.h"
#include "common/trace_log.h"
#include "common/xml.h"
#include "platform/signals.h"
#include "sourcecontrol/svn_messages.h"

namespace brimora {

namespace {

std::mutex& SvnCommandMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& SvnCommandText() {
  static std::string command = "svn";
  return command;
}

std::string& CleanupTargetText() {
  static std::string target;
  return target;
}

// The last line of the client's answer that carries an error code ("svn: E155010: ..."); the
// client prints the most specific reason last.
std::string LastErrorLine(const std::string& output) {
  std::string last;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string_view line(output.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with("svn: E")) last = line;
    start = end + 1;
  }
  return last;
}

std::string FirstLine(const std::string& output) {
  std::string line = output.substr(0, output.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

CFailsafeLock& RepositoryLock() {
  static CFailsafeLock lock("csRepository");
  return lock;
}

bool ExecuteCommand(const std::string& commandLine, std::string& output) {
  WriteLog(2, messages::kSvnCommandRunning, commandLine);
  // A run asked to stop lets a running command finish but starts no new one.
  if (const int signal = platform::StopSignal(); signal != 0) {
    WriteLog(0, messages::kSvnCommandNotRun, platform::SignalName(signal), commandLine);
    output.clear();
    return false;
  }
  CommandOptions options;
  options.timeoutSeconds = kSvnTimeoutSeconds;
  options.captureOutput = true;
  options.stderrToo = true;
  options.utf8 = true;
  CommandResult result;
  try {
    FailsafeLockGuard hold(RepositoryLock());
    result = CurrentCommandRunner().Run(commandLine, options);
  } catch (const FailsafeDeadlock&) {
    // The lock's watchdog has already written its error line; the command did not run.
    output.clear();
    return false;
  }
  output = std::move(result.output);
  if (result.Succeeded()) return true;
  if (const std::string reason = LastErrorLine(output); !reason.empty()) WriteLog(1, messages::kClientAnswered, reason);
  return false;
}

void SetCleanupTarget(const std::string& workingCopy) {
  std::lock_guard<std::mutex> hold(SvnCommandMutex());
  CleanupTargetText() = workingCopy;
}

void SetSvnCommand(const std::string& command) {
  std::lock_guard<std::mutex> hold(SvnCommandMutex());
  SvnCommandText() = command;
}

std::string SvnCommand() {
  std::lock_guard<std::mutex> hold(SvnCommandMutex());
  return SvnCommandText();
}

std::string SvnPathArgument(const std::string& path) {
  // The client reads paths literally: a path is never handed over in another spelling.
  return QuoteArgumentAlways(path.find('@') == std::string::npos ? path : path + '@');
}

std::string QuotedValue(std::string_view value) { return QuoteArgumentAlways(value); }

bool GetFileInfo(const std::string& path, bool& versioned) {
  std::string output;
  if (!ExecuteCommand(Format("%s info --xml -- %s", SvnCommand(), SvnPathArgument(path)), output)) {
    return false;
  }
  XmlDocument document;
  if (!ParseXmlText(output, document)) return false;
  try {
    versioned = static_cast<bool>(SelectSingleNode(document, "//info/entry"));
  } catch (const XmlError&) {
    return false;
  }
  return true;
}

bool NeedsCleanup(std::string_view output) {
  for (const char* word : {"cleanup", "locked", "locks"}) {
    if (output.find(word) != std::string_view::npos) return true;
  }
  return false;
}

bool UpdateFile(const std::string& path) {
  const std::string command =
      Format("%s update --non-interactive --ignore-externals -- %s", SvnCommand(), SvnPathArgument(path));
  std::string output;
  if (ExecuteCommand(command, output)) return true;
  if (!NeedsCleanup(output)) return false;
  if (!CleanupWorkingCopy()) return false;
  return ExecuteCommand(command, output);
}

bool CleanupWorkingCopy() {
  std::string target;
  {
    std::lock_guard<std::mutex> hold(SvnCommandMutex());
    target = CleanupTargetText();
  }
  if (target.empty()) return false;
  std::string output;
  return ExecuteCommand(Format("%s cleanup -- %s", SvnCommand(), SvnPathArgument(target)), output);
}

bool GetLocalChange(const std::string& path, std::string& change) {
  std::string output;
  const std::string command = "%s status --depth empty --ignore-externals -- %s";
  if (!ExecuteCommand(Format(command.c_str(), SvnCommand(), SvnPathArgument(path)), output)) return false;
  change = output;
  return true;
}

bool GetRepositoryIdentity(const std::string& target, std::string& rootUrl, std::string& uuid) {
  std::string root;
  std::string id;
  const std::string argument = SvnPathArgument(target);
  const char* const info = "%s info --non-interactive --show-item %s -- %s";
  if (!ExecuteCommand(Format(info, SvnCommand(), "repos-root-url", argument), root) ||
      !ExecuteCommand(Format(info, SvnCommand(), "repos-uuid", argument), id)) {
    return false;
  }
  rootUrl = FirstLine(root);
  uuid = FirstLine(id);
  return true;
}

bool UpgradeWorkingCopy(const std::string& path) {
  std::string output;
  return ExecuteCommand(Format("%s upgrade -- %s", SvnCommand(), SvnPathArgument(path)), output);
}

bool SetProperty(const std::string& path, const std::string& name, const std::string& value) {
  std::string output;
  return ExecuteCommand(Format("%s propset %s -- %s %s", SvnCommand(), name, QuotedValue(value),
                               SvnPathArgument(path)),
                        output);
}

bool GetProperty(const std::string& path, const std::string& name, std::int64_t& value) {
  std::string output;
  if (!ExecuteCommand(Format("%s propget --xml %s -- %s", SvnCommand(), name, SvnPathArgument(path)),
                      output)) {
    // The client reports a property that does not exist with warning W200017; depending on the
    // client it comes after the XML header, and with an exit code of 1.
    if (AsciiLower(output).find("w200017") == std::string::npos) return false;
    value = 0;
    return true;
  }
  XmlDocument document;
  if (!ParseXmlText(output, document)) return false;
  try {
    std::int64_t read = 0;
    XmlNode property =
        SelectSingleNode(document, Format("/properties/target/property[@name='%s']", name));
    if (property) read = LeadingInteger(NodeText(property));
    value = read;
  } catch (const XmlError&) {
    return false;
  }
  return true;
}

}  // namespace brimora
