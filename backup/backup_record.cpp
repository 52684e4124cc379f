#include "backup/backup_record.h"

#include <cerrno>
#include <nlohmann/json.hpp>

#include "backup/backup_manifest.h"
#include "common/file_utils.h"
#include "common/name_escape.h"

namespace brimora {
namespace {

using json = nlohmann::ordered_json;

constexpr const char* kAnswers[] = {"true", "false", "skipped"};

json AnswerJson(AreaRecord::Answer answer) {
  if (answer == AreaRecord::Answer::kSkipped) return "skipped";
  return answer == AreaRecord::Answer::kTrue;
}

bool AnswerFrom(const json& value, AreaRecord::Answer* answer) {
  if (value.is_boolean()) {
    *answer = value.get<bool>() ? AreaRecord::Answer::kTrue : AreaRecord::Answer::kFalse;
    return true;
  }
  if (value == kAnswers[2]) *answer = AreaRecord::Answer::kSkipped;
  return value == kAnswers[2];
}

std::string Unescaped(const json& value) {
  std::string text;
  return UnescapeName(value.get<std::string>(), text) ? text : value.get<std::string>();
}

}  // namespace

const AreaRecord* BackupRecord::Area(const std::string& name) const {
  for (const AreaRecord& area : areas) {
    if (area.name == name) return &area;
  }
  return nullptr;
}

std::string RecordJson(const BackupRecord& record) {
  json areas = json::array();
  for (const AreaRecord& area : record.areas) {
    areas.push_back({{"name", area.name}, {"answer", AnswerJson(area.answer)}, {"files", area.files},
                     {"bytes", area.bytes}});
  }
  json document = {
      {"format", record.format},
      {"tool", "BrimoraUpgrade"},
      {"toolVersion", record.toolVersion},
      {"host", EscapeName(record.host)},
      {"installPath", EscapeName(record.installPath)},
      {"backupPath", EscapeName(record.backupPath)},
      {"started", record.started},
      {"ended", record.ended},
      {"includeDatabase", record.includeDatabase},
      {"repositoryEntry", EscapeName(record.repositoryEntry)},
      {"areas", areas},
      {"answer", record.answer},
      {"errorLines", record.errorLines},
      {"finished", record.finished},
      {"complete", record.complete},
  };
  if (!record.stopReason.empty()) document["stopReason"] = record.stopReason;
  const auto count = [](const EntryCount& count) { return json{{"files", count.files}, {"bytes", count.bytes}}; };
  document["reference"] = EscapeName(record.reference);
  document["copies"] = {{"copied", count(record.copied)}, {"cloned", count(record.cloned)},
                        {"linked", count(record.linked)}};
  return document.dump(2) + "\n";
}

bool ParseRecord(const std::string& text, BackupRecord* record, std::string* problem) {
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    *problem = "is not JSON";
    return false;
  }
  try {
    BackupRecord read;
    read.format = document.at("format").get<int>();
    if (read.format != BackupRecord::kFormat) {
      *problem = "has a format this tool does not know (" + std::to_string(read.format) + ")";
      return false;
    }
    read.toolVersion = document.at("toolVersion").get<std::string>();
    read.host = Unescaped(document.at("host"));
    read.installPath = Unescaped(document.at("installPath"));
    read.backupPath = Unescaped(document.at("backupPath"));
    read.started = document.at("started").get<std::string>();
    read.ended = document.at("ended").get<std::string>();
    read.includeDatabase = document.at("includeDatabase").get<bool>();
    read.repositoryEntry = Unescaped(document.at("repositoryEntry"));
    for (const json& area : document.at("areas")) {
      AreaRecord entry;
      entry.name = area.at("name").get<std::string>();
      if (!AnswerFrom(area.at("answer"), &entry.answer)) throw std::invalid_argument("answer");
      entry.files = area.at("files").get<std::uint64_t>();
      entry.bytes = area.at("bytes").get<std::uint64_t>();
      read.areas.push_back(entry);
    }
    read.answer = document.at("answer").get<bool>();
    read.errorLines = document.at("errorLines").get<std::uint64_t>();
    read.finished = document.at("finished").get<bool>();
    read.complete = document.at("complete").get<bool>();
    if (document.contains("stopReason")) read.stopReason = document.at("stopReason").get<std::string>();
    // Records of backups made before incremental copies have neither.
    if (document.contains("reference")) read.reference = Unescaped(document.at("reference"));
    if (document.contains("copies")) {
      const json& copies = document.at("copies");
      for (auto [name, count] : {std::pair{"copied", &read.copied}, {"cloned", &read.cloned}, {"linked", &read.linked}}) {
        count->files = copies.at(name).at("files").get<std::uint64_t>();
        count->bytes = copies.at(name).at("bytes").get<std::uint64_t>();
      }
    }
    *record = read;
    return true;
  } catch (const std::exception&) {
    *problem = "lacks a field or has one of the wrong type";
    return false;
  }
}

int WriteRecord(const platform::Folder& backupFolder, const BackupRecord& record) {
  platform::AtomicFile file;
  if (const int rc = file.Create(backupFolder, layout::kRecord); rc != 0) return rc;
  if (const int rc = file.Write(RecordJson(record)); rc != 0) return rc;
  return file.Commit();
}

bool HoldsRecord(const std::string& backupFolder) {
  return !PathIsMissing(backupFolder + "/" + layout::kRecord);
}

int ReadRecord(const platform::Folder& backupFolder, BackupRecord* record, std::string* problem) {
  std::string text;
  const int rc = backupFolder.ReadChild(layout::kRecord, [&](std::string_view piece) {
    if (text.size() < (1u << 20)) text.append(piece);
  }, nullptr);
  if (rc != 0) return rc;
  return ParseRecord(text, record, problem) ? 0 : EINVAL;
}

}  // namespace brimora
