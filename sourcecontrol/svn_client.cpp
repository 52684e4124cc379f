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
#include "platform/files.h"
#include "platform/signals.h"

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

}  // namespace

CFailsafeLock& RepositoryLock() {
  static CFailsafeLock lock("csRepository");
  return lock;
}

bool ExecuteCommand(const std::string& commandLine, std::string& output) {
  WriteLog(2, "ExecuteCommand() - Running command strCommand: \"%s\"\n", commandLine);
  // A run asked to stop lets a running command finish but starts no new one.
  if (const int signal = platform::StopSignal(); signal != 0) {
    WriteLog(0, "ERROR: ExecuteCommand - not run, the run was stopped by %s: \"%s\"\n", platform::SignalName(signal), commandLine);
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
  return result.Succeeded();
}

void SetSvnCommand(const std::string& command) {
  std::lock_guard<std::mutex> hold(SvnCommandMutex());
  SvnCommandText() = command;
}

std::string SvnCommand() {
  std::lock_guard<std::mutex> hold(SvnCommandMutex());
  return SvnCommandText();
}

std::string EncodeSvnPath(const std::string& path) {
  const bool network = path.size() >= 2 && path[0] == '/' && path[1] == '/';
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> pieces;
  SplitText(path, pieces, "/");
  std::string result;
  bool started = false;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    if (!started) {
      // The root of an absolute path stands where a drive would: it is kept, not escaped.
      result = network ? "//" : (absolute ? "/" : "");
      started = true;
    } else {
      result += '/';
    }
    result += UrlEncode(piece);
  }
  platform::FileInfo info;
  if (started && platform::GetFileInfo(result, false, &info) == 0) return result;
  return path;
}

std::string SvnPathArgument(const std::string& path) {
  std::string encoded = EncodeSvnPath(path);
  if (encoded.find('@') != std::string::npos) encoded += '@';
  return QuoteArgumentAlways(encoded);
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
      Format("%s update --non-interactive -- %s", SvnCommand(), SvnPathArgument(path));
  std::string output;
  if (ExecuteCommand(command, output)) return true;
  if (!NeedsCleanup(output)) return false;
  if (!CleanupWorkingCopy()) return false;
  return ExecuteCommand(command, output);
}

bool CleanupWorkingCopy() {
  std::string output;
  return ExecuteCommand(Format("%s cleanup -- %s", SvnCommand(), SvnPathArgument(kCleanupTarget)),
                        output);
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
