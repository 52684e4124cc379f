#pragma once
// The verify mode: whether a backup folder is complete and still holds exactly what its run saved.

#include <cstdint>
#include <string>

namespace brimora {

// Checks the backup folder: its completion record (there, readable, finished and complete), every
// entry of its manifest (missing, added, another kind, other contents; SHA256SUMS agreeing with
// the entries list) and, when the backup holds the Subversion repository, `svnadmin verify` on it
// (timed, on a line of its own). Each problem is a level-0 line of the trace log; an addition
// beside the backup's areas is only reported (level 1). A summary line ends the check and is
// also printed on standard output. True only when the backup is complete and intact; `counts`,
// when given, gets the entries checked and the problems found.
struct VerifyCounts {
  std::uint64_t checked = 0;
  std::uint64_t problems = 0;
};
bool VerifyBackup(const std::string& backupFolder, VerifyCounts* counts = nullptr);

}  // namespace brimora
