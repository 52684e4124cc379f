#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace brimora::platform {
namespace {

using Clock = std::chrono::steady_clock;

std::string Tool() { return std::string(BRIMORA_TEST_TOOLS_DIR) + "/child_behaviour"; }

TEST(RunChildTest, AChildThatWritesWithoutPauseStillMeetsItsDeadline) {
  ChildOptions options;
  options.deadline = Clock::now() + std::chrono::milliseconds(500);
  options.outputLimit = 1024 * 1024;
  auto start = Clock::now();
  ChildResult result = RunChild({Tool(), "flood"}, options);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.ended);
  // Kept up to the limit, the rest read and dropped (memory stays bounded).
  EXPECT_TRUE(result.outputTruncated);
  EXPECT_EQ(result.output, std::string(options.outputLimit, 'f'));
}

TEST(RunChildTest, ReportsHowAChildEnded) {
  ChildResult exited = RunChild({Tool(), "exit", "7"}, ChildOptions{});
  EXPECT_TRUE(exited.ended);
  EXPECT_EQ(exited.exitCode, 7);
  EXPECT_EQ(exited.termSignal, 0);
  EXPECT_FALSE(exited.outputTruncated);

  ChildResult killed = RunChild({Tool(), "signal", "15"}, ChildOptions{});
  EXPECT_TRUE(killed.ended);
  EXPECT_EQ(killed.termSignal, 15);

  ChildResult missing = RunChild({"/nonexistent/program"}, ChildOptions{});
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.error, 0);
  EXPECT_FALSE(RunChild({}, ChildOptions{}).started);
}

}  // namespace
}  // namespace brimora::platform
