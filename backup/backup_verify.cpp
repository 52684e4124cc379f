#include "backup/backup_verify.h"

#include <cerrno>
#include <cstdio>

#include "backup/backup_manifest.h"
#include "backup/backup_record.h"
#include "backup/record_messages.h"
#include "common/command_runner.h"
#include "common/name_escape.h"
#include "common/progress.h"
#include "common/run_process.h"
#include "common/trace_log.h"
#include "platform/clock.h"

namespace brimora {
namespace {

// A repository of many gigabytes takes a while to verify; a hung one must still end.
constexpr std::uint32_t kRepositoryVerifySeconds = 4 * 3600;

// Whether SHA256SUMS holds exactly the lines the entries list gives its files; answers the first
// line that differs (0 when none does), or -1 when one of them cannot be read.
long long FirstChecksumDifference(const platform::Folder& backupFolder) {
  CEntryListReader list;
  std::FILE* sums = nullptr;
  if (list.Open(backupFolder) != 0 || backupFolder.OpenChildStream(layout::kChecksums, &sums) != 0) return -1;
  long long line = 0;
  BackupEntry entry;
  std::string problem;
  bool differs = false;
  char buffer[8192];
  while (!differs && list.Next(&entry, &problem)) {
    if (entry.kind != platform::EntryKind::kFile) continue;
    ++line;
    const std::string expected = Sha256SumLine(entry.content, entry.path);
    std::string actual;
    while (std::fgets(buffer, sizeof buffer, sums) != nullptr) {
      actual += buffer;
      if (actual.back() == '\n') break;
    }
    differs = actual != expected;
  }
  if (!differs && std::fgets(buffer, sizeof buffer, sums) != nullptr) {
    differs = true;
    ++line;
  }
  std::fclose(sums);
  if (!problem.empty()) return -1;
  return differs ? line : 0;
}

// A line that is no problem: in the trace log, and on standard output for whoever runs the check.
void Report(const std::string& line) {
  WriteLogText(1, line);
  WriteReportOutput(line);
}

// svnadmin verify on the backed-up repository; false after its line when it fails.
bool VerifyRepository(const std::string& repository) {
  const std::uint64_t start = platform::MonotonicMilliseconds();
  CommandOptions options;
  options.timeoutSeconds = kRepositoryVerifySeconds;
  options.stderrToo = true;
  const CommandResult result =
      CurrentCommandRunner().Run("svnadmin verify --quiet " + QuoteArgumentAlways(repository), options);
  const double seconds = static_cast<double>(platform::MonotonicMilliseconds() - start) / 1000.0;
  if (result.Succeeded()) {
    Report(Format(messages::kVerifyRepositoryPassed, repository, seconds));
    return true;
  }
  std::string last = result.output;
  while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.pop_back();
  last = last.substr(last.find_last_of('\n') + 1);
  WriteLog(0, messages::kVerifyRepositoryFailed, repository, seconds,
           result.completed ? last : std::string("it did not end in time or could not be started"));
  return false;
}

}  // namespace

bool VerifyBackup(const std::string& backupFolder, VerifyCounts* counts) {
  unsigned long long problems = 0;
  unsigned long long checked = 0;
  const auto problem = [&](const char* format, const auto&... args) {
    ++problems;
    WriteLog(0, format, args...);
  };

  platform::Folder folder;
  if (const int opened = folder.Open(backupFolder, true); opened != 0) {
    problem(messages::kVerifyNoFolder, backupFolder, platform::ErrorText(opened));
  } else {
    BackupRecord record;
    std::string why;
    const int error = ReadRecord(folder, &record, &why);
    if (error == ENOENT) {
      problem(messages::kVerifyNoRecord, backupFolder);
    } else if (error != 0) {
      problem(messages::kVerifyRecordUnreadable, backupFolder, error == EINVAL ? why : "cannot be read: " + platform::ErrorText(error));
    } else if (!record.finished) {
      problem(messages::kVerifyUnfinished, backupFolder, record.stopReason.empty() ? "" : " (" + record.stopReason + ")");
    } else if (!record.complete) {
      problem(messages::kVerifyNotComplete, backupFolder);
      for (const AreaRecord& area : record.areas) {
        if (area.answer == AreaRecord::Answer::kFalse) problem(messages::kVerifyAreaFailed, area.name);
      }
    }

    CheckAgainstManifest(folder, "", folder, [&](const ManifestProblem& found) {
      if (found.fails) {
        problem(messages::kVerifyProblem, found.path, found.what);
      } else {
        Report(Format(messages::kVerifyExtra, found.path, found.what));
      }
    }, &checked);
    if (const long long line = FirstChecksumDifference(folder); line > 0) {
      problem(messages::kVerifyChecksumsDiffer, static_cast<std::size_t>(line));
    } else if (line < 0) {
      problem(messages::kVerifyProblem, layout::kChecksums, "cannot be read");
    }
    if (error == 0 && !record.repositoryEntry.empty() && !VerifyRepository(backupFolder + "/" + record.repositoryEntry)) {
      ++problems;
    }
  }

  const std::string summary = problems == 0 ? Format(messages::kVerifyIntact, backupFolder, checked)
                                            : Format(messages::kVerifyNotIntact, backupFolder, problems, checked);
  if (problems == 0) {
    Report(summary);
  } else {
    WriteLogText(0, summary);
  }
  if (counts != nullptr) *counts = {checked, problems};
  return problems == 0;
}

}  // namespace brimora
