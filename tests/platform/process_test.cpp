#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace brimora::platform {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kTool = std::string(BRIMORA_TEST_TOOLS_DIR) + "/child_behaviour";

TEST(RunChildTest, AChildThatWritesWithoutPauseStillMeetsItsDeadline) {
  ChildOptions options;
  options.deadline = Clock::now() + std::chrono::milliseconds(500);
  options.outputLimit = 1024 * 1024;
  const auto start = Clock::now();
  const ChildResult result = RunChild({kTool, "flood"}, options);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.ended);
  // Kept up to the limit, the rest read and dropped (memory stays bounded).
  EXPECT_TRUE(result.outputTruncated);
  EXPECT_EQ(result.output, std::string(options.outputLimit, 'f'));
}

}  // namespace
}  // namespace brimora::platform
