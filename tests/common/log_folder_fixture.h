#pragma once
// Tests that read the trace log back run in a temporary folder with "<temp>/<work>" as the
// working folder, so the log's files land in "<temp>/<work>/../Logs".

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "common/trace_log.h"
#include "support/test_support.h"

namespace brimora::test {

class LogFolderTest : public ::testing::Test {
 protected:
  // With `start`, SetUp starts the trace log of `app`; otherwise each test starts it.
  explicit LogFolderTest(std::string app, bool start = true, const std::string& work = "Execute")
      : app_(std::move(app)), work_(root_ / work), start_(start) {}
  void SetUp() override {
    std::filesystem::create_directories(work_);
    std::filesystem::current_path(work_);
    if (start_) InitTraceLog(app_, false);
  }
  void TearDown() override {
    ShutdownTraceLog();
    SetTraceLogClockForTesting({});
    std::filesystem::current_path(saved_);
  }
  std::string LogPath(const std::string& name) const { return work_ + "/../Logs/" + name; }
  // Stops the trace log, putting every line on disk, and answers one of its files.
  std::string TraceText(const std::string& kind = "Log") {
    ShutdownTraceLog();
    return ReadFile(LogPath(app_ + kind + ".txt"));
  }

  const std::filesystem::path saved_ = std::filesystem::current_path();
  TempFolder root_;
  const std::string app_, work_;
  const bool start_;
};

}  // namespace brimora::test
