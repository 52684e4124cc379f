#pragma once
// The installation's configuration: where its settings file lies and the CBackup object built
// from the command line's paths and that file.
//
// Thread safety: both functions may be called from any thread; LoadConfiguration opens the
// backup log relative to the working folder, which the caller has made "<install>/Execute".

#include <memory>
#include <string>

#include "backup/backup.h"

namespace brimora {

// The settings file's name, in the settings folder or directly in the install path.
inline constexpr const char* kSettingsFileName = "Brimora.xml";

// The settings folder of installPath (from its config.ini) followed by "/Brimora.xml". With
// checkExists, when nothing of that name exists there, installPath + "/Brimora.xml" instead.
std::string GetSettingsFilePath(const std::string& installPath, bool checkExists);

// Reads the settings file (found with the existence test) and builds the run's CBackup, which
// opens the backup log. Answers nullptr, after an error line in the trace log, when the settings
// file cannot be loaded. Missing or empty settings take their defaults.
std::unique_ptr<CBackup> LoadConfiguration(const std::string& installPath,
                                           const std::string& backupPath);

}  // namespace brimora
