// Versioned and revision properties of docflow files and module archives.

#include "sourcecontrol/properties.h"

#include <cstdint>
#include <exception>

#include "common/archive.h"
#include "common/failsafe_lock.h"
#include "common/file_utils.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/strings.h"
#include "common/temp_file.h"
#include "common/trace_log.h"
#include "common/wildcard.h"
#include "common/xml.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "sourcecontrol/docflow.h"
#include "sourcecontrol/svn_client.h"
#include "sourcecontrol/svn_messages.h"

namespace brimora {

namespace {

bool IsDocflow(CheckinFileKind kind) {
  return kind == CheckinFileKind::kDocflowInstance || kind == CheckinFileKind::kDocflowTemplate;
}

// The archive's module values, read from the "module.xml" it holds.
void ReadModuleXml(const std::string& folder, RevisionPropertyMap& properties) {
  // Only a regular file the archiver wrote: a link from the archive is never read through.
  const std::string file = folder + "/module.xml";
  platform::FileInfo info;
  if (platform::GetFileInfo(file, false, &info) != 0 || info.kind != platform::EntryKind::kFile) {
    return;
  }
  XmlDocument document;
  if (!LoadXmlFile(file, document)) return;
  static const char* const kValues[][2] = {{"module_class", "/doc/module/class"},
                                           {"module_prefix", "/doc/module/prefix"},
                                           {"module_version", "/doc/module/version"},
                                           {"module_glevel", "/doc/module/glevel"}};
  for (const auto& value : kValues) {
    std::string text;
    ReadXmlText(document, value[1], text);
    properties[value[0]] = text;
  }
}

void WriteDocflowValues(const std::string& path, CheckinFileKind kind) {
  XmlDocument document = LoadXmlDocument(path);
  if (!document) return;
  const XmlNode root = SelectSingleNode(document, "/Root");
  std::string output;
  if (kind == CheckinFileKind::kDocflowInstance) {
    ExecuteCommand(Format("%s propset %s -- %d %s", SvnCommand(), "docflow_progress",
                          ReadXmlInt(root, "Progress", 0), SvnPathArgument(path)),
                   output);
    SetProperty(path, "docflow_status", ReadXmlString(root, "Status", ""));
    SetProperty(path, "docflow_data_checked_tgs", ReadXmlString(root, "data_checked_tgs", ""));
    SetProperty(path, "docflow_regulation_overridden_tgs",
                ReadXmlString(root, "regulation_overridden_tgs", ""));
  } else {
    SetProperty(path, "docflow_description", ReadXmlString(root, "Description", ""));
    SetProperty(path, "docflow_data_administrator", ReadXmlString(root, "DataAdministrator", ""));
    SetProperty(path, "docflow_regulation_checker", ReadXmlString(root, "RegulationChecker", ""));
    SetProperty(path, "docflow_category", ReadXmlString(root, "Category", ""));
    SetProperty(path, "docflow_testdata", ReadXmlString(root, "TestData", ""));
  }
  CDocFlow docflow;
  if (docflow.Load(document)) {
    std::string users;
    docflow.GetCurrentStageUsers(users);
    SetProperty(path, "docflow_current_stage_users", users);
  }
}

}  // namespace

CheckinFileKind KindOfCheckinFile(const std::string& path) {
  const std::string full = NormalizePath(platform::AbsolutePath(NormalizePath(path)));
  if (IsFolder(full)) return CheckinFileKind::kOther;
  const std::string folders = AsciiLower(full);
  const std::string name = AsciiLower(NameAfterLastSeparator(full));
  if (MatchWildcard("*.xml", name)) {
    if (folders.find("/docflows/instances/") != std::string::npos) {
      return CheckinFileKind::kDocflowInstance;
    }
    if (folders.find("/docflows/templates/") != std::string::npos) {
      return CheckinFileKind::kDocflowTemplate;
    }
  }
  if (MatchWildcard("*.zip", name) && (folders.find("/modules/") != std::string::npos ||
                                       folders.find("/modules_development/") != std::string::npos)) {
    return CheckinFileKind::kModuleArchive;
  }
  return CheckinFileKind::kOther;
}

bool IncrementVersion(const std::string& path) {
  try {
    FailsafeLockGuard hold(RepositoryLock());
    std::int64_t version = 0;
    if (!GetProperty(path, "version", version)) return false;
    const std::int64_t next = version > 0 && version < INT64_MAX ? version + 1 : 1;
    std::string output;
    return ExecuteCommand(
        Format("%s propset version -- %d %s", SvnCommand(), next, SvnPathArgument(path)), output);
  } catch (const FailsafeDeadlock&) {
    return false;
  }
}

std::string GetSaveAction(const std::string& path, const std::string& message) {
  if (KindOfCheckinFile(path) != CheckinFileKind::kDocflowInstance) return std::string();
  std::string action;
  try {
    FailsafeLockGuard hold(RepositoryLock());
    // A file that cannot be read has no save action; the commit goes on without one.
    XmlDocument document = LoadXmlDocument(path);
    if (document) action = ReadXmlString(SelectSingleNode(document, "/Root"), "save_action", "");
  } catch (const std::exception&) {
    return std::string();
  }
  if ((action.empty() || action == "undefined") && message == "Created") return "create";
  return action;
}

void ReadModuleProperties(const std::string& path, RevisionPropertyMap& properties) {
  if (KindOfCheckinFile(path) != CheckinFileKind::kModuleArchive) return;
  // A fresh folder that only this process can use: the unique name of a temporary file, made a
  // folder in its place. A folder of that name made by anyone else in between is not used.
  Common::CTempFile reserved("", "qxr", true);
  const std::string folder = reserved.Path();
  if (folder.empty()) return;
  platform::RemoveFile(folder);
  if (platform::CreateFolder(folder) != 0) {
    WriteLog(0, messages::kModuleFolderNotCreated, folder);
    return;
  }
  if (platform::SetMode(folder, platform::kOwnerAllRights) == 0) {
    std::string archive = path;
    if (archive.rfind("..", 0) == 0) {
      archive = ParentFolder(platform::ExecutablePath()) + "/" + archive;
    }
    // The folder is new and empty, so it is used as it is rather than emptied and made again.
    if (ExtractArchive(archive, folder, false)) ReadModuleXml(folder, properties);
  }
  DeleteFolder(folder);
}

bool SetDocflowProperties(const std::string& path, const RevisionPropertyMap& properties) {
  const CheckinFileKind kind = KindOfCheckinFile(path);
  try {
    FailsafeLockGuard hold(RepositoryLock());
    try {
      if (IsDocflow(kind)) WriteDocflowValues(path, kind);
      for (const auto& [name, value] : properties) SetProperty(path, name, value);
    } catch (const std::exception& error) {
      WriteLog(1, messages::kDocflowPropertiesIncomplete, path, error.what());
    }
  } catch (const FailsafeDeadlock&) {
  }
  return true;
}

}  // namespace brimora
