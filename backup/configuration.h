#pragma once
// The CBackup object of a run, built from the command line's paths and the installation's
// settings file (found with GetSettingsFilePath, common/settings_folder.h).
//
// Thread safety: both functions may be called from any thread; LoadConfiguration opens the
// backup log relative to the working folder, which the caller has made "<install>/Execute".

#include <memory>
#include <string>

#include "backup/backup.h"

namespace brimora {

// Reads the settings file (found with the existence test) and builds the run's CBackup, which
// opens the backup log. Answers nullptr, after an error line in the trace log, when the settings
// file cannot be loaded. Missing or empty settings take their defaults.
std::unique_ptr<CBackup> LoadConfiguration(const std::string& installPath,
                                           const std::string& backupPath);

}  // namespace brimora
