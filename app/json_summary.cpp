#include "app/json_summary.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "backup/backup.h"
#include "backup/backup_manifest.h"
#include "backup/backup_record.h"
#include "backup/backup_verify.h"
#include "common/name_escape.h"
#include "common/progress.h"
#include "common/trace_log.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace brimora {
namespace {

using json = nlohmann::ordered_json;

constexpr int kFormat = 1;
constexpr std::size_t kMaxRecordBytes = 1u << 20;

json AnswerJson(AreaRecord::Answer answer) {
  if (answer == AreaRecord::Answer::kSkipped) return "skipped";
  return answer == AreaRecord::Answer::kTrue;
}

// The completion record of the backup folder as the run wrote it, or null.
json RecordOf(const std::string& backupFolder) {
  platform::Folder folder;
  if (folder.Open(backupFolder, true) != 0) return nullptr;
  std::string text;
  const int rc = folder.ReadChild(layout::kRecord, [&](std::string_view piece) {
    if (text.size() < kMaxRecordBytes) text.append(piece);
  }, nullptr);
  if (rc != 0) return nullptr;
  json record = json::parse(text, nullptr, false);
  return record.is_discarded() ? json(nullptr) : record;
}

// Never throws: text that is not UTF-8 cannot reach here (names are escaped), and would be
// replaced rather than end the run without its summary.
std::string Text(const json& value, int indent = -1) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

}  // namespace

void CRunSummary::Begin(const CBrimoraCommandLineInfo& commandLine) {
  started_ = platform::UtcNowText();
  if (commandLine.help || !commandLine.Accepted()) {
    mode_ = "usage";
  } else if (commandLine.verify) {
    mode_ = "verify";
  } else if (commandLine.getsettingsfilepath) {
    mode_ = "settingsFile";
  } else {
    mode_ = commandLine.restore ? "restore" : "backup";
  }
  CollectErrorLines();
  ReserveStandardOutput();
}

void CRunSummary::BeforeRun(const CBackup& backup) { heldRun_ = HoldsRecord(backup.backupPath); }

void CRunSummary::AfterRun(const CBackup& backup, bool restore) {
  if (!restore) {
    if (!heldRun_) record_ = Text(RecordOf(backup.backupPath));
    return;
  }
  json areas = json::array();
  for (const AreaRecord& area : backup.restoredAreas) {
    areas.push_back({{"name", area.name}, {"answer", AnswerJson(area.answer)}, {"files", area.files},
                     {"bytes", area.bytes}});
  }
  record_ = Text(json{{"installPath", EscapeName(backup.installPath)},
                 {"backupPath", EscapeName(backup.backupPath)},
                 {"areas", areas}});
}

void CRunSummary::SetVerifyCounts(const std::string& backupFolder, const VerifyCounts& counts) {
  record_ = Text(json{{"backupPath", EscapeName(backupFolder)},
                      {"entriesChecked", counts.checked},
                      {"problems", counts.problems}});
}

void CRunSummary::SetSettingsFileAnswer(const std::string& installPath, const std::string& settingsFile,
                                        const std::string& answerFile) {
  record_ = Text(json{{"installPath", EscapeName(installPath)},
                      {"settingsFile", EscapeName(settingsFile)},
                      {"answerFile", EscapeName(answerFile)}});
}

void CRunSummary::Print(int exitCode) const {
  json errors = json::array();
  for (const std::string& line : CollectedErrorLines()) errors.push_back(EscapeName(line));
  const json document = {
      {"format", kFormat},
      {"mode", mode_},
      {"exit_code", exitCode},
      {"answer", exitCode == 0},
      {"started", started_},
      {"ended", platform::UtcNowText()},
      {"errors", errors},
      {"record", json::parse(record_, nullptr, false)},
  };
  const std::string text = Text(document, 2) + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace brimora
