#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>

#include "common/strings.h"

namespace brimora {
namespace {

bool IsOwnSwitchName(std::string_view name) {
  static constexpr std::array<std::string_view, 8> kNames = {
      "restore", "includedb", "backuppath", "installpath", "getsettingsfilepath", "check", "h", "?"};
  const std::string lower = AsciiLower(name);
  return std::find(kNames.begin(), kNames.end(), lower) != kNames.end();
}

}  // namespace

void CBrimoraCommandLineInfo::ParseArguments(const std::vector<std::string>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool isLast = i + 1 == arguments.size();
    if (argument.rfind("--", 0) == 0) {
      const std::string name = argument.substr(2);
      ParseParam(AsciiLower(name) == "help" ? "h" : name, true, isLast);
    } else if (argument.rfind('-', 0) == 0) {
      ParseParam(argument.substr(1), true, isLast);
    } else if (argument.rfind('/', 0) == 0 && IsOwnSwitchName(std::string_view(argument).substr(1))) {
      ParseParam(argument.substr(1), true, isLast);
    } else {
      ParseParam(argument, false, isLast);
    }
  }
}

void CBrimoraCommandLineInfo::ParseParam(const std::string& param, bool isSwitch, bool /*isLast*/) {
  if (!isSwitch) {
    switch (pendingValueKind) {
      case kBackupPath: backupPath = param; break;
      case kInstallPath: installPath = param; break;
      case kSettingsFilePath: settingsFilePath = param; break;
      case kBackupRoot: backupRoot = param; break;
      case kLinkDest: linkDest = param; break;
      case kKeep: keep = param; break;
      default: break;
    }
    return;
  }
  const std::string name = AsciiLower(param);
  if (name == "restore") {
    restore = true;
  } else if (name == "includedb") {
    includedb = true;
  } else if (name == "backuppath") {
    pendingValueKind = kBackupPath;
  } else if (name == "installpath") {
    pendingValueKind = kInstallPath;
  } else if (name == "getsettingsfilepath") {
    getsettingsfilepath = true;
    pendingValueKind = kSettingsFilePath;
  } else if (name == "check") {
    check = true;
  } else if (name == "verify") {
    verify = true;
  } else if (name == "force") {
    force = true;
  } else if (name == "json") {
    json = true;
  } else if (name == "quiet") {
    quiet = true;
  } else if (name == "progress") {
    progress = true;
  } else if (name == "backuproot") {
    pendingValueKind = kBackupRoot;
  } else if (name == "linkdest") {
    pendingValueKind = kLinkDest;
  } else if (name == "keep") {
    keepGiven = true;
    pendingValueKind = kKeep;
  } else if (name == "full") {
    full = true;
  } else if (name == "h" || name == "?") {
    help = true;
  } else {
    // An unknown switch must not let the following value land in the previous switch's field.
    pendingValueKind = kNone;
  }
}

int CBrimoraCommandLineInfo::KeepCount() const {
  constexpr std::size_t kMaxDigits = 6;
  if (keep.empty() || keep.size() > kMaxDigits || keep.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoi(keep);
}

bool CBrimoraCommandLineInfo::Accepted() const {
  const bool backupOnly = !backupRoot.empty() || !linkDest.empty() || full || keepGiven;
  if (keepGiven && (backupRoot.empty() || KeepCount() < 1)) return false;
  if (full && !linkDest.empty()) return false;
  if (!backupRoot.empty() && !backupPath.empty()) return false;
  // A query without an answer file is refused even when a backup could run: the query mode
  // would win and write its answer nowhere.
  if (verify) return !backupPath.empty() && !restore && !getsettingsfilepath && !backupOnly;
  if (getsettingsfilepath) return !installPath.empty() && !settingsFilePath.empty();
  if (restore && backupOnly) return false;
  return (!backupPath.empty() || !backupRoot.empty()) && !installPath.empty();
}

}  // namespace brimora
