// The client runner against a recording runner: command lines, path encoding, property reads
// and the clean-up-and-retry rule.

#include "sourcecontrol/svn_client.h"

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/command_runner.h"
#include "common/run_process.h"
#include "common/trace_log.h"
#include "tests/support/fake_command_runner.h"
#include "tests/support/test_support.h"
#include "tests/support/working_copy.h"

namespace brimora {
namespace {

using Lines = std::vector<std::string>;

constexpr const char kLocked[] =
    "svn: E155004: Run 'svn cleanup' to remove locks (type 'svn help cleanup' for details)\n"
    "svn: E155004: Working copy '/srv/wc' locked.\n";

class SvnClientTest : public test::SourceControlTest {
 protected:
  test::CFakeCommandRunner fake_;
  CScopedCommandRunner use_{fake_};
};

TEST(EncodeSvnPath, EscapesOnlyWhenTheEscapedNameExists) {
  test::TempFolder temp;
  const std::string& t = temp.Path();
  test::WriteFile(t + "/plain.txt", "");
  std::filesystem::create_directories(t + "/50%25");
  test::WriteFile(t + "/50%25/file.txt", "");
  test::WriteFile(t + "/a%25b", "");
  test::WriteFile(t + "/%E9t%E9", "");
  test::WriteFile(t + "/%C5%82%F3d%C5%BA", "");
  struct Case {
    std::string path;
    std::string encoded;
  } const cases[] = {
      {t + "/50%/file.txt", t + "/50%25/file.txt"},
      {t + "/a%b", t + "/a%25b"},
      {t + "/\xC3\xA9t\xC3\xA9", t + "/%E9t%E9"},  // é (below 256) as one escape
      {t + "/\xC5\x82\xC3\xB3\x64\xC5\xBA", t + "/%C5%82%F3d%C5%BA"},  // ł and ź as UTF-8
      // Doubled and trailing separators go; the leading one stays, so the path stays absolute.
      {t + "//plain.txt/", t + "/plain.txt"},
      // Without a file of the escaped name the path is handed over as it is.
      {t + "/missing%", t + "/missing%"},
      {t + "/a%b/", t + "/a%25b"},
      {"//host/share/x%", "//host/share/x%"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeSvnPath(c.path), c.encoded) << c.path;
}

TEST(EncodeSvnPath, RelativePathsStayRelative) {
  test::TempFolder temp;
  test::WriteFile(temp / "a%25b", "");
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(temp.Path());
  EXPECT_EQ(EncodeSvnPath("./a%b"), "./a%25b");
  EXPECT_EQ(EncodeSvnPath("a%b"), "a%25b");
  std::filesystem::current_path(saved);
}

TEST(SvnPathArgument, QuotesAndProtectsAtSigns) {
  EXPECT_EQ(SvnPathArgument("/wc/plain.txt"), "\"/wc/plain.txt\"");
  EXPECT_EQ(SvnPathArgument("/wc/icon@2x.png"), "\"/wc/icon@2x.png@\"");
  EXPECT_EQ(SvnPathArgument("/srv/site@prod/wc/a"), "\"/srv/site@prod/wc/a@\"");
  EXPECT_EQ(SvnPathArgument("/wc/say \"hi\"\\"), "\"/wc/say \\\"hi\\\"\\\\\"");
  // What the client receives is the path itself.
  EXPECT_EQ(SplitCommandLine("svn add -- " + SvnPathArgument("/wc/say \"hi\"\\")).back(),
            "/wc/say \"hi\"\\");
}

TEST_F(SvnClientTest, CommandLinesOfTheSingleOperations) {
  bool versioned = false;
  std::int64_t value = 0;
  fake_.AnswerExit(0, "<?xml version=\"1.0\"?><info><entry path=\"a\"/></info>");
  EXPECT_TRUE(GetFileInfo("/wc/a", versioned));
  EXPECT_TRUE(versioned);
  EXPECT_TRUE(UpdateFile("/wc/a"));
  EXPECT_TRUE(CleanupWorkingCopy());
  EXPECT_TRUE(UpgradeWorkingCopy("/wc"));
  EXPECT_TRUE(SetProperty("/wc/a", "docflow_status", "-In review"));
  EXPECT_TRUE(SetProperty("/wc/a", "docflow_testdata", ""));
  fake_.AnswerExit(0, "<properties/>");
  EXPECT_TRUE(GetProperty("/wc/a", "version", value));
  EXPECT_EQ(fake_.CommandLines(),
            (Lines{"svn info --xml -- \"/wc/a\"",
                   "svn update --non-interactive -- \"/wc/a\"",
                   "svn cleanup -- \"../Repository/FileStorage\"",
                   "svn upgrade -- \"/wc\"",
                   "svn propset docflow_status -- \"-In review\" \"/wc/a\"",
                   "svn propset docflow_testdata -- \"\" \"/wc/a\"",
                   "svn propget --xml version -- \"/wc/a\""}));
  for (const test::RecordedCommand& command : fake_.Commands()) {
    EXPECT_EQ(command.options.timeoutSeconds, 600u);
    EXPECT_TRUE(command.options.captureOutput);
    EXPECT_TRUE(command.options.stderrToo);
    EXPECT_TRUE(command.options.workingFolder.empty());
  }
}

TEST_F(SvnClientTest, ReplacedCommandStartsEveryLine) {
  SetSvnCommand("\"/opt/my svn/bin/svn\"");
  bool versioned = true;
  std::int64_t value = 0;
  GetFileInfo("/wc/a", versioned);
  UpdateFile("/wc/a");
  SetProperty("/wc/a", "n", "v");
  GetProperty("/wc/a", "n", value);
  SetSvnCommand("svn");
  for (const std::string& line : fake_.CommandLines()) {
    EXPECT_THAT(line, testing::StartsWith("\"/opt/my svn/bin/svn\" ")) << line;
    EXPECT_EQ(SplitCommandLine(line).front(), "/opt/my svn/bin/svn");
  }
  EXPECT_EQ(fake_.CommandLines().size(), 4u);
}

TEST_F(SvnClientTest, FileInfoOfUnversionedAndUnreadableAnswers) {
  bool versioned = true;
  fake_.AnswerExit(0, "<?xml version=\"1.0\"?><info></info>");
  EXPECT_TRUE(GetFileInfo("/wc/new", versioned));
  EXPECT_FALSE(versioned);

  versioned = true;
  fake_.AnswerExit(1, "svn: warning: W155010: The node '/wc/new' was not found.\n");
  EXPECT_FALSE(GetFileInfo("/wc/new", versioned));
  fake_.AnswerExit(0, "not xml");
  EXPECT_FALSE(GetFileInfo("/wc/new", versioned));
  EXPECT_TRUE(versioned);  // untouched by the failures
}

TEST_F(SvnClientTest, GetPropertyReadsValuesAndMissingProperties) {
  auto xml = [](const std::string& value) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<properties>\n<target path=\"/wc/a\">\n"
           "<property name=\"version\">" + value + "</property>\n</target>\n</properties>\n";
  };
  struct Case {
    const char* name;
    int exitCode;
    std::string output;
    bool answer;
    std::int64_t value;  // 42 means "left as it was"
  } const cases[] = {
      {"7", 0, xml("7"), true, 7},
      {"0", 0, xml("0"), true, 0},
      {"-3", 0, xml("-3"), true, -3},
      {"abc", 0, xml("abc"), true, 0},
      {"blanks before digits", 0, xml("  12x"), true, 12},
      {"beyond the range", 0, xml("99999999999999999999999"), true, INT64_MAX},
      {"no such property in the answer", 0, "<properties><target path=\"a\"/></properties>", true, 0},
      {"other property", 0, "<properties><target><property name=\"versions\">5</property></target></properties>",
       true, 0},
      {"warning after the XML header, exit 1", 1,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<properties>\n"
       "svn: warning: W200017: Property 'version' not found on '/wc/a'\n",
       true, 0},
      {"warning at the start", 1, "svn: warning: W200017: Property 'version' not found\n", true, 0},
      {"warning in capitals", 1, "SVN: WARNING: w200017: property not found\n", true, 0},
      {"other failure", 1, "svn: E155007: '/wc/a' is not a working copy\n", false, 42},
      {"answer is not XML", 0, "version = 3", false, 42},
  };
  for (const Case& c : cases) {
    fake_.AnswerExit(c.exitCode, c.output);
    std::int64_t value = 42;
    EXPECT_EQ(GetProperty("/wc/a", "version", value), c.answer) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
  fake_.AnswerTimeOut();
  std::int64_t value = 42;
  EXPECT_FALSE(GetProperty("/wc/a", "version", value));
  EXPECT_EQ(value, 42);
}

TEST_F(SvnClientTest, UpdateIsCleanedUpAndRetriedOnceWhenTheWorkingCopyIsLocked) {
  const std::string update = "svn update --non-interactive -- \"/wc/a\"";
  const std::string cleanup = "svn cleanup -- \"../Repository/FileStorage\"";
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> answers;
    bool answer;
    Lines lines;
  } const cases[] = {
      {"locked, then success", {{1, kLocked}}, true, {update, cleanup, update}},
      {"only the word locks", {{1, "svn: E155037: Previous operation has not finished; locks remain\n"}},
       true, {update, cleanup, update}},
      {"Locked with a capital is no clean-up case", {{1, "svn: E000001: Locked by another process\n"}},
       false, {update}},
      {"other failure", {{1, "svn: E170013: Unable to connect\n"}}, false, {update}},
      {"second failure: no second clean-up", {{1, kLocked}, {0, ""}, {1, kLocked}}, false,
       {update, cleanup, update}},
      {"clean-up fails: no retry", {{1, kLocked}, {1, "svn: E155009: Failed to run the WC DB work queue\n"}},
       false, {update, cleanup}},
  };
  for (const Case& c : cases) {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    for (const auto& [code, text] : c.answers) fake.AnswerExit(code, text);
    EXPECT_EQ(UpdateFile("/wc/a"), c.answer) << c.name;
    EXPECT_EQ(fake.CommandLines(), c.lines) << c.name;
  }
}

TEST_F(SvnClientTest, ExecuteCommandJudgesByTheExitCodeAndKeepsTheOutput) {
  SetLogLevel(2);
  std::string output = "old";
  fake_.AnswerExit(0, "fine\n");
  EXPECT_TRUE(ExecuteCommand("svn status", output));
  EXPECT_EQ(output, "fine\n");
  fake_.AnswerExit(3, "bad\n");
  EXPECT_FALSE(ExecuteCommand("svn status", output));
  EXPECT_EQ(output, "bad\n");
  CommandResult timedOut;
  timedOut.output = "partial";
  fake_.Answer(timedOut);
  EXPECT_FALSE(ExecuteCommand("svn status", output));
  EXPECT_EQ(output, "partial");
  EXPECT_THAT(TraceLog(), testing::HasSubstr("ExecuteCommand() - Running command strCommand: \"svn status\""));
}

}  // namespace
}  // namespace brimora
