// Extraction: the command line and its options through a fake runner, and once with the real
// archiver.

#include "common/archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/command_runner.h"
#include "common/run_process.h"
#include "support/fake_command_runner.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using test::WriteFile;

class ArchiveExtractionTest : public ::testing::Test {
 protected:
  // An archive file; its content does not matter, since nothing reads it.
  std::string MakeArchive(const std::string& relativePath) {
    WriteFile(tmp_ / relativePath, "PK");
    return tmp_ / relativePath;
  }
  static std::string Archiver() { return QuoteArgument(SevenZipPath()); }

  test::TempFolder tmp_;
  test::CFakeCommandRunner fake_;
  CScopedCommandRunner use_{fake_};
};

TEST_F(ArchiveExtractionTest, RunsTheArchiverInTheDestinationWithItsOptions) {
  const std::string archive = MakeArchive("plain.zip");
  ASSERT_TRUE(ExtractArchive(archive, tmp_ / "out", false));
  ASSERT_TRUE(ExtractArchive(archive, tmp_ / "out", false, "x -aoa"));
  ASSERT_TRUE(ExtractArchive(archive, "", false));
  EXPECT_EQ(fake_.CommandLines(), (Strings{
                                      Archiver() + " e -y " + archive,
                                      Archiver() + " x -aoa -y " + archive,
                                      Archiver() + " e -y " + archive,
                                  }));
  ASSERT_EQ(fake_.Commands().size(), 3u);
  EXPECT_EQ(fake_.Commands()[0].options.workingFolder, tmp_ / "out");
  EXPECT_EQ(fake_.Commands()[1].options.workingFolder, tmp_ / "out");
  EXPECT_EQ(fake_.Commands()[2].options.workingFolder, tmp_.Path()) << "the archive's folder";
  for (const test::RecordedCommand& command : fake_.Commands()) {
    EXPECT_EQ(command.options.timeoutSeconds, 600u);
    EXPECT_TRUE(command.options.stderrToo);
    EXPECT_FALSE(command.options.utf8);
    EXPECT_TRUE(command.options.captureOutput);
  }
}

TEST_F(ArchiveExtractionTest, AnswersTrueOnlyForExitCodeZeroWithinTheTimeOut) {
  struct Case {
    const char* name;
    bool completed;
    std::optional<int> exitCode;
    bool expected;
  };
  const Case cases[] = {
      {"exit 0", true, 0, true},
      {"exit 1 (warning)", true, 1, false},
      {"exit 2 (fatal error)", true, 2, false},
      {"stopped at the time-out", false, std::nullopt, false},
      {"ended by SIGKILL", false, 128 + 9, false},
      {"exit 0 but output not read", false, 0, false},
      {"not started", false, std::nullopt, false},
  };
  const std::string archive = MakeArchive("a.zip");
  for (const Case& c : cases) {
    CommandResult answer;
    answer.completed = c.completed;
    answer.exitCode = c.exitCode;
    fake_.Answer(answer);
    EXPECT_EQ(ExtractArchive(archive, tmp_ / "out", false), c.expected) << c.name;
  }
  EXPECT_EQ(fake_.AnswersLeft(), 0u);
}

TEST_F(ArchiveExtractionTest, NothingRunsWhenTheArchiveIsMissingOrTheFolderCannotBeMade) {
  const std::string archive = MakeArchive("a.zip");
  WriteFile(tmp_ / "file", "not a folder");
  EXPECT_FALSE(ExtractArchive(tmp_ / "missing.zip", tmp_ / "out", true));
  EXPECT_FALSE(ExtractArchive("", tmp_ / "out", true));
  EXPECT_FALSE(ExtractArchive(archive, tmp_ / "file/out", false));
  EXPECT_TRUE(fake_.Commands().empty());
  EXPECT_FALSE(fs::exists(tmp_ / "out")) << "a missing archive prepares no folder";
}

TEST_F(ArchiveExtractionTest, EmptiesOrCreatesTheDestination) {
  const std::string archive = MakeArchive("a.zip");
  WriteFile(tmp_ / "out/stale", "x");
  ASSERT_TRUE(ExtractArchive(archive, tmp_ / "out", false));
  EXPECT_TRUE(fs::exists(tmp_ / "out/stale")) << "kept without empty-first";
  ASSERT_TRUE(ExtractArchive(archive, tmp_ / "out", true));
  EXPECT_TRUE(fs::is_directory(tmp_ / "out"));
  EXPECT_FALSE(fs::exists(tmp_ / "out/stale"));
  ASSERT_TRUE(ExtractArchive(archive, tmp_ / "new/deep", true));
  EXPECT_TRUE(fs::is_directory(tmp_ / "new/deep"));
  EXPECT_EQ(fake_.Commands().size(), 3u);
}

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

  // A damaged archive makes the archiver exit non-zero.
  WriteFile(tmp_ / "broken.zip", "PK\x03\x04 not really");
  EXPECT_FALSE(ExtractArchive(tmp_ / "broken.zip", tmp_ / "out", true));
}

}  // namespace
}  // namespace brimora
