#pragma once
// The fixture of the search tests: a temporary folder with "Execute" as the working folder and
// the trace log started into its "Logs", and the search server marked available.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/trace_log.h"
#include "search/solr_instance.h"
#include "support/test_support.h"

namespace brimora::test {

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "Execute");
    std::filesystem::create_directories(dir_ / "Logs");
    std::filesystem::current_path(dir_ / "Execute");
    InitTraceLog("SearchTest", false);
    SetSearchServerAvailable(true);
  }
  void TearDown() override {
    ShutdownTraceLog();
    std::filesystem::current_path(saved_);
    SetSearchServerAvailable(true);
  }

  // Everything the trace log received; stops the log so that every line is on disk.
  std::string TraceLog() {
    ShutdownTraceLog();
    return ReadFile(dir_ / "Logs/SearchTestLog.txt");
  }

  const std::filesystem::path saved_ = std::filesystem::current_path();
  TempFolder dir_;
};

}  // namespace brimora::test
