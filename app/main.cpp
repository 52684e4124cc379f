#include <exception>
#include <string>
#include <vector>

#include "app/app.h"
#include "common/trace_log.h"
#include "platform/signals.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  brimora::platform::InstallStopSignalHandlers();
  brimora::CBrimoraUpgradeApp app;
  app.InitInstance(arguments);
  // Joins the housekeeping thread, so every line of the run is on disk before the process ends.
  brimora::ShutdownTraceLog();
  return app.ExitInstance();
}
