// The settings loader: the configuration values read from a settings document parsed from any
// bytes (a document that does not parse reads as an empty one, as a failed file load does).

#include "backup/configuration.h"
#include "common/xml.h"
#include "fuzz/fuzz_target.h"

BRIMORA_FUZZ_TARGET {
  brimora::XmlDocument document;
  brimora::ParseXmlText(input, document);
  Check(static_cast<bool>(document), "a parse always leaves a document");

  const std::string install = "/srv/brimora/Brimora";
  const brimora::ConfigurationValues values = brimora::ReadConfigurationValues(document, install);
  Check(values.settingsFolder == install + "/../LornithData/Settings",
        "the settings folder is always beside the installation");
  const std::string& parts = values.partsTrackerDatabasePath;
  Check(!parts.empty(), "the parts database path is never empty");
  Check(brimora::Trim(parts) == parts, "the parts database path is trimmed");
}
