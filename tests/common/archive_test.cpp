// Extraction with the real archiver.

#include "common/archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/run_process.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

TEST(ArchiveTest, ExtractArchiveWithTheArchiver) {
  test::TempFolder tmp_;
  const std::string archiver = SevenZipPath();
  if (access(archiver.c_str(), X_OK) != 0) GTEST_SKIP() << "no archiver: " << archiver;
  WriteFile(tmp_ / "stage/inner/module.xml", "<doc/>");
  WriteFile(tmp_ / "stage/top.txt", "top");
  std::string output;
  int exitCode = -1;
  ASSERT_TRUE(RunProcess(QuoteArgument(archiver) + " a -y " + QuoteArgument("../my\" archive.zip") +
                             " inner top.txt",
                         output, &exitCode, tmp_ / "stage", 600, false, true));
  ASSERT_EQ(exitCode, 0) << output;
  const std::string archive = tmp_ / "my\" archive.zip";

  WriteFile(tmp_ / "out/stale", "x");
  EXPECT_TRUE(ExtractArchive(archive, tmp_ / "out", false));
  EXPECT_TRUE(fs::exists(tmp_ / "out/stale")) << "kept without empty-first";
  EXPECT_TRUE(ExtractArchive(archive, tmp_ / "out", true));
  EXPECT_FALSE(fs::exists(tmp_ / "out/stale"));
  EXPECT_TRUE(fs::exists(tmp_ / "out/module.xml")) << "extracted without its folder";
  EXPECT_TRUE(fs::exists(tmp_ / "out/top.txt"));

  // A relative archive path names the file beside the caller, not beside the destination.
  const fs::path previous = fs::current_path();
  fs::current_path(tmp_.Path());
  EXPECT_TRUE(ExtractArchive("my\" archive.zip", tmp_ / "new/deep", true));
  fs::current_path(previous);
  EXPECT_TRUE(fs::exists(tmp_ / "new/deep/module.xml"));

  EXPECT_FALSE(ExtractArchive(tmp_ / "missing.zip", tmp_ / "out", true));
}

}  // namespace
}  // namespace brimora
