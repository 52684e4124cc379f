// Extraction through a fake runner: the command line, its options, the destination and the
// answer. The check-in tests run the real archiver on module archives.

#include "common/archive.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/fake_command_runner.h"
#include "support/test_support.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

TEST(ArchiveExtractionTest, RunsTheArchiverInThePreparedDestination) {
  test::TempFolder tmp;
  test::CFakeCommandRunner fake;
  CScopedCommandRunner use(fake);
  const std::string archive = tmp / "a.zip";
  test::WriteFile(archive, "PK");  // nothing reads it
  test::WriteFile(tmp / "out/stale", "x");
  test::WriteFile(tmp / "file", "not a folder");
  EXPECT_FALSE(ExtractArchive(tmp / "missing.zip", tmp / "new", true));
  EXPECT_FALSE(ExtractArchive(archive, tmp / "file/out", false));
  EXPECT_TRUE(fake.Commands().empty() && !fs::exists(tmp / "new")) << "nothing runs, nothing is prepared";

  ASSERT_TRUE(ExtractArchive(archive, tmp / "out", false, "x -aoa"));
  EXPECT_TRUE(fs::exists(tmp / "out/stale")) << "kept without empty-first";
  ASSERT_TRUE(ExtractArchive(archive, tmp / "out", true));
  EXPECT_TRUE(fs::is_directory(tmp / "out") && fs::is_empty(tmp / "out"));
  const fs::path previous = fs::current_path();
  fs::current_path(tmp.Path());
  const bool relative = ExtractArchive("a.zip", tmp / "new/deep", true);  // the file beside the caller
  fs::current_path(previous);
  ASSERT_TRUE(relative);
  ASSERT_TRUE(ExtractArchive(archive, "", false));
  const std::string archiver = QuoteArgument(SevenZipPath());
  EXPECT_EQ(fake.CommandLines(), (Strings{archiver + " x -aoa -y " + archive, archiver + " e -y " + archive,
                                          archiver + " e -y " + archive, archiver + " e -y " + archive}));
  const Strings folders = {tmp / "out", tmp / "out", tmp / "new/deep", tmp.Path() /* the archive's */};
  for (std::size_t i = 0; i < fake.Commands().size(); ++i) {
    const CommandOptions& options = fake.Commands()[i].options;
    EXPECT_EQ(options.workingFolder, folders[i]);
    EXPECT_TRUE(options.timeoutSeconds == 600 && options.stderrToo && options.captureOutput && !options.utf8);
  }

  // Only an archiver that ran to its end and exited 0 succeeded.
  for (const CommandResult& answer : {CommandResult{true, 1, ""}, CommandResult{false, std::nullopt, ""},
                                      CommandResult{false, 0, "output not all read"}}) {
    fake.Answer(answer);
    EXPECT_FALSE(ExtractArchive(archive, tmp / "out", false)) << answer.exitCode.value_or(-1) << answer.output;
  }
}

}  // namespace
}  // namespace brimora
