// The client runner, check-in and its properties against a recording runner: how paths reach the
// client, the exact command lines of each kind of check-in, what the client's answers and each
// failed step mean, and the rules that decide the kind of a file.

#include <csignal>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/archive.h"
#include "common/command_runner.h"
#include "common/failsafe_lock.h"
#include "common/format.h"
#include "common/run_process.h"
#include "common/trace_log.h"
#include "sourcecontrol/checkin.h"
#include "sourcecontrol/properties.h"
#include "platform/signals.h"
#include "sourcecontrol/svn_client.h"
#include "sourcecontrol/svn_messages.h"
#include "tests/support/fake_command_runner.h"
#include "tests/support/working_copy.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using testing::HasSubstr;

constexpr const char kNotVersioned[] = "svn: warning: W155010: The node was not found.\n";
constexpr const char kNoVersion[] = "svn: warning: W200017: Property 'version' not found\n";

std::string Q(const std::string& text) { return "\"" + text + "\""; }

// Records and answers every command but the archiver's, which really runs in a folder it keeps.
class ClientRecorder : public test::CFakeCommandRunner {
 public:
  CommandResult Run(const std::string& line, const CommandOptions& options) override {
    if (SplitCommandLine(line).front() != SevenZipPath()) return CFakeCommandRunner::Run(line, options);
    extractedInto = options.workingFolder;
    return CProcessCommandRunner().Run(line, options);
  }
  std::string extractedInto;
};

class CheckinTest : public test::SourceControlTest {
 protected:
  ClientRecorder fake_;
  CScopedCommandRunner use_{fake_};
};
class SvnClientTest : public CheckinTest {};

// The client reads paths literally: it receives each path as it is, even where an escaped
// spelling of it exists, with one "@" appended when it holds one.
TEST_F(SvnClientTest, PathsReachTheClientAsTheyAre) {
  for (const char* name : {"50%25/file.txt", "Execute/a%25b"}) MakeFile(name, "");
  for (const std::string& path : {Root() + "/50%/file.txt", std::string("./a%b"), Root() + "//x/", std::string(),
                                  std::string("/srv/site@prod/wc/a"), std::string("/wc/say \"hi\"\\")}) {
    const std::string received = path.find('@') == std::string::npos ? path : path + "@";
    EXPECT_EQ(SplitCommandLine("svn " + SvnPathArgument(path)), (Lines{"svn", received})) << path;
  }
}

// A replaced client command starts the line as it is; every command is logged at level 2.
TEST_F(SvnClientTest, CommandsRunWithTheClientsOptions) {
  SetLogLevel(2);
  SetSvnCommand("\"/opt/my svn/svn\"");
  EXPECT_TRUE(UpgradeWorkingCopy("/wc"));
  SetSvnCommand("svn");
  ASSERT_EQ(fake_.CommandLines(), Lines{"\"/opt/my svn/svn\" upgrade -- \"/wc\""});
  const CommandOptions& options = fake_.Commands()[0].options;
  EXPECT_EQ(options.timeoutSeconds, 600u);
  EXPECT_TRUE(options.captureOutput && options.stderrToo && options.workingFolder.empty());
  // A run asked to stop starts no further command.
  platform::SetStopSignal(SIGTERM);
  EXPECT_FALSE(UpgradeWorkingCopy("/wc"));
  platform::SetStopSignal(0);
  EXPECT_EQ(fake_.CommandLines().size(), 1u);
  const std::string log = TraceLog();
  const std::string upgrade = "\"/opt/my svn/svn\" upgrade -- \"/wc\"";
  EXPECT_THAT(log, HasSubstr(Format(messages::kSvnCommandRunning, upgrade)));
  EXPECT_THAT(log, HasSubstr(Format(messages::kSvnCommandNotRun, "SIGTERM", "svn upgrade -- \"/wc\"")));
}

// A failed command leaves the client's last error line, its most specific reason, in the log.
TEST_F(SvnClientTest, FailedCommandsLogTheClientsReason) {
  fake_.AnswerExit(1, "svn: warning: W155010: The node '/wc/a' was not found.\r\n"
                      "svn: E000022: Can't convert string from native encoding to 'UTF-8':\nsvn: E000022: /wc/\\303\n");
  fake_.AnswerExit(1, "no code\n");
  std::string output;
  EXPECT_FALSE(ExecuteCommand("svn add -- \"/wc/a\"", output));
  EXPECT_FALSE(ExecuteCommand("svn add -- \"/wc/b\"", output));
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr("1 - " + Format(messages::kClientAnswered, "svn: E000022: /wc/\\303")));
  EXPECT_EQ(log.find("The client answered", log.find("The client answered") + 1), std::string::npos) << log;
}

// Answers marked "kept" leave the value (42) as it was.
TEST_F(SvnClientTest, AnswersOfInfoAndPropget) {
  const struct { int exitCode; std::string output; bool answer, versioned; } infos[] = {
      {0, "<?xml version=\"1.0\"?><info><entry path=\"a\"/></info>", true, true},
      {0, "<?xml version=\"1.0\"?><info></info>", true, false},
  };
  for (const auto& c : infos) {
    fake_.AnswerExit(c.exitCode, c.output);
    bool versioned = true;
    EXPECT_EQ(GetFileInfo("/wc/a", versioned), c.answer) << c.output;
    EXPECT_EQ(versioned, c.versioned) << c.output;
  }
  auto xml = [](const std::string& value) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<properties>\n<target path=\"/wc/a\">\n"
           "<property name=\"version\">" + value + "</property>\n</target>\n</properties>\n";
  };
  const struct { int exitCode; std::string output; bool answer; std::int64_t value; } properties[] = {
      {0, xml("7"), true, 7}, {0, xml("-3"), true, -3}, {0, xml("  12x"), true, 12},
      {0, xml("99999999999999999999999"), true, INT64_MAX},
      {0, "<properties><target><property name=\"versions\">5</property></target></properties>", true, 0},
      {1, "<?xml version=\"1.0\"?>\n<properties>\nsvn: warning: W200017: Property 'version' not found\n", true, 0},
      {1, "svn: E155007: '/wc/a' is not a working copy\n", false, 42},  // kept
      {0, "version = 3", false, 42},                                    // kept
  };
  for (const auto& c : properties) {
    fake_.AnswerExit(c.exitCode, c.output);
    std::int64_t value = 42;
    EXPECT_EQ(GetProperty("/wc/a", "version", value), c.answer) << c.output;
    EXPECT_EQ(value, c.value) << c.output;
  }
}

// A failed update or commit whose text holds "cleanup", "locked" or "locks" (in that case) is
// retried once after a clean-up of the working copy, named by its absolute path; without one
// there is no clean-up.
TEST_F(SvnClientTest, UpdateAndCommitOfALockedWorkingCopyAreCleanedUpAndRetriedOnce) {
  const char* const locked = "svn: E155004: Working copy '/wc' locked.\n";
  // The answers to the command, the clean-up and the retry, and how many of those three ran.
  const struct { std::vector<std::pair<int, std::string>> answers; bool answer; std::size_t commands; } cases[] = {
      {{{1, locked}, {0, ""}, {0, ""}}, true, 3},
      {{{1, "svn: E155037: Previous operation has not finished; locks remain\n"}}, true, 3},
      {{{1, "svn: E155004: Run 'svn cleanup' first\n"}}, true, 3},
      {{{1, "svn: E000001: Locked by another process\n"}}, false, 1},
      {{{1, locked}, {0, ""}, {1, locked}}, false, 3},
      {{{1, locked}, {1, "svn: E155009: Failed to run the WC DB work queue\n"}}, false, 2},
  };
  SetCleanupTarget(Root() + "/Repository/FileStorage");
  for (const auto& c : cases) {
    for (const bool commit : {false, true}) {
      test::CFakeCommandRunner fake;
      CScopedCommandRunner use(fake);
      // A commit first reads and writes its properties, updates and resolves.
      if (commit) fake.AnswerExit(0, "<properties/>");
      for (int i = 0; commit && i < 4; ++i) fake.AnswerExit(0);
      for (const auto& [code, text] : c.answers) fake.AnswerExit(code, text);
      EXPECT_EQ(commit ? CommitFile("/wc/a", "c", "u") : UpdateFile("/wc/a"), c.answer) << c.answers[0].second;
      const std::string command =
          commit ? "svn commit --depth empty --force-log --message \"c\" --with-revprop \"username=u\" -- \"/wc/a\""
                 : "svn update --non-interactive --ignore-externals -- \"/wc/a\"";
      Lines expected = {command, "svn cleanup -- " + Q(Root() + "/Repository/FileStorage"), command};
      expected.resize(c.commands);
      const Lines lines = fake.CommandLines();
      EXPECT_EQ(Lines(lines.begin() + (commit ? 5 : 0), lines.end()), expected) << c.answers[0].second;
    }
  }
  SetCleanupTarget("");
  EXPECT_FALSE(CleanupWorkingCopy());
  EXPECT_EQ(fake_.CommandLines(), Lines{});
}

// The command lines of alice's check-in of a path the client does not know yet: the propsets of
// its kind come after "username", the revision properties of its kind after the user's.
Lines NewPathCheckin(const std::string& path, const std::string& message, const Lines& propsets,
                     const std::string& revisionProperties) {
  const std::string p = Q(path);
  Lines lines = {"svn info --xml -- " + p, "svn add --depth empty -- " + p, "svn propget --xml version -- " + p,
                 "svn propset version -- 1 " + p, "svn propset username -- \"alice\" " + p};
  for (const std::string& propset : propsets) lines.push_back("svn propset " + propset + " " + p);
  const std::string update = "svn update --non-interactive --ignore-externals -- " + p;
  lines.insert(lines.end(), {update, "svn resolve --accept=working -- " + p,
                             "svn commit --depth empty --force-log --message " + Q(message) +
                                 " --with-revprop \"username=alice\"" + revisionProperties + " -- " + p,
                             update});
  return lines;
}

TEST_F(CheckinTest, NewPathsGetTheValuesOfTheirKind) {
  // An archive holds deep/module.xml, or module.xml as a link; its contents are module.xml's.
  enum Archive { kNone, kModule, kLinkedModule };
  const struct { const char* file; Archive archive; const char* contents; const char* message; Lines propsets;
                 const char* revisionProperties; } cases[] = {
      {"wc/notes.txt", kNone, "x", "Restored", {}, ""},
      {"wc/DocFlows/Instances/Run 1.XML", kNone,
       "<Root><Progress>40</Progress><Status>-In \"review\"</Status><data_checked_tgs>a,b</data_checked_tgs></Root>",
       "Created",
       {"docflow_progress -- 40", "docflow_status -- \"-In \\\"review\\\"\"", "docflow_data_checked_tgs -- \"a,b\"",
        "docflow_regulation_overridden_tgs -- \"\"", "docflow_current_stage_users -- \"\""},
       " --with-revprop \"docflow_save_action=create\""},
      {"wc/docflows/templates/T.xml", kNone,
       "<Root><Description>Weekly</Description><Category>QA</Category><save_action>create</save_action></Root>", "Created",
       {"docflow_description -- \"Weekly\"", "docflow_data_administrator -- \"\"", "docflow_regulation_checker -- \"\"",
        "docflow_category -- \"QA\"", "docflow_testdata -- \"\"", "docflow_current_stage_users -- \"\""}, ""},
      {"wc/docflows/templates/unreadable.xml", kNone, "<Root><Description>", "Saved", {}, ""},
      {"wc/Modules/lab.ZIP", kModule,
       "<doc><module><class>Lab</class><prefix>lb</prefix><version>2.1</version></module></doc>", "Restored",
       {"module_class -- \"Lab\"", "module_glevel -- \"\"", "module_prefix -- \"lb\"", "module_version -- \"2.1\""},
       " --with-revprop \"module_class=Lab\" --with-revprop \"module_glevel=\" --with-revprop \"module_prefix=lb\""
       " --with-revprop \"module_version=2.1\""},
      {"wc/modules_development/linked.zip", kLinkedModule, "<doc><module><class>Lab</class></module></doc>", "c", {}, ""},
      {"wc/modules/broken.zip", kNone, "not an archive", "c", {}, ""}, {"wc/other/lab.zip", kModule, "<doc/>", "c", {}, ""},
  };
  for (const auto& c : cases) {
    ClientRecorder fake;
    CScopedCommandRunner use(fake);
    const std::string path = Root() + "/" + c.file;
    if (c.archive == kNone) {
      MakeFile(c.file, c.contents);
    } else {
      fs::remove_all(Root() + "/src");
      MakeFile(c.archive == kModule ? "src/deep/module.xml" : "src/real.xml", c.contents);
      if (c.archive == kLinkedModule) fs::create_symlink("real.xml", Root() + "/src/module.xml");
      fs::create_directories(fs::path(path).parent_path());
      test::RunProgram({SevenZipPath(), "a", "-bd", "-snl", "-tzip", path, Root() + "/src/*"});
    }
    for (const auto& [code, text] : {std::pair{0, "<info/>"}, {0, ""}, {1, kNoVersion}}) fake.AnswerExit(code, text);
    EXPECT_TRUE(CheckinFile(path, c.message, "alice")) << c.file;
    EXPECT_EQ(fake.CommandLines(), NewPathCheckin(path, c.message, c.propsets, c.revisionProperties)) << c.file;
    EXPECT_TRUE(fake.extractedInto.empty() || !fs::exists(fake.extractedInto)) << "the extraction's folder is gone";
  }
}

TEST_F(CheckinTest, VersionedFileIsUpdatedFirstAndTheEmptyPathCommitsEverything) {
  fake_.AnswerExit(0, "<info><entry kind=\"file\"/></info>");
  fake_.AnswerExit(0);  // update
  fake_.AnswerExit(0, "<properties><target><property name=\"version\">7</property></target></properties>");
  EXPECT_TRUE(CheckinFile("/wc/a", "Restored", "svcAgent4"));
  const std::string p = Q("/wc/a");
  const std::string update = "svn update --non-interactive --ignore-externals -- ";
  EXPECT_EQ(fake_.CommandLines(),
            (Lines{"svn info --xml -- " + p, update + p, "svn propget --xml version -- " + p,
                   "svn propset version -- 8 " + p, "svn propset username -- \"N/A (External Client/User)\" " + p,
                   update + p, "svn resolve --accept=working -- " + p,
                   "svn commit --depth empty --force-log --message \"Restored\" --with-revprop "
                   "\"username=svcAgent4\" -- " + p,
                   update + p}));

  test::CFakeCommandRunner fake;
  CScopedCommandRunner use(fake);
  fake.AnswerExit(1, kNotVersioned);
  fake.AnswerExit(0);  // add
  fake.AnswerExit(0, "<properties><target><property name=\"version\">-3</property></target></properties>");
  EXPECT_TRUE(CheckinFile("", "All \"of\" it", "alice"));
  EXPECT_EQ(fake.CommandLines(),
            (Lines{"svn info --xml -- \"\"", "svn add --depth empty -- \"\"", "svn propget --xml version -- \"\"",
                   "svn propset version -- 1 \"\"", "svn propset username -- \"alice\" \"\"",
                   "svn resolve --accept=working", "svn commit --force-log --message \"All \\\"of\\\" it\"",
                   update + "\"\""}));
}

// A failed step writes its line and fails the check-in; the steps before the commit do not stop
// it, a failed version read writes no version, and nothing is undone.
TEST_F(CheckinTest, FailedStepsAreReportedAndTheCommitStillRuns) {
  using messages::kCheckinAddFailed, messages::kCheckinNewCommitFailed, messages::kCheckinCommitFailed,
      messages::kCheckinUpdateFailed;
  // Commands: info, add (or update when versioned), propget, propset version, propset username,
  // update, resolve, commit, update.
  const struct { bool versioned; std::size_t failing, commands; const char* line; } cases[] = {
      {false, 1, 2, kCheckinAddFailed},       {false, 2, 7, kCheckinNewCommitFailed},
      {false, 3, 8, kCheckinNewCommitFailed}, {false, 4, 8, kCheckinNewCommitFailed},
      {false, 5, 8, kCheckinNewCommitFailed}, {false, 6, 8, kCheckinNewCommitFailed},
      {false, 7, 8, kCheckinNewCommitFailed}, {true, 1, 2, kCheckinUpdateFailed},
      {true, 6, 8, kCheckinCommitFailed},     {true, 8, 9, kCheckinUpdateFailed}};
  std::vector<std::string> lines;
  for (const auto& c : cases) {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(c.versioned ? 0 : 1, c.versioned ? "<info><entry/></info>" : kNotVersioned);
    for (std::size_t i = 1; i < 9; ++i) {
      fake.AnswerExit(i == c.failing ? 1 : 0, i == c.failing ? "svn: E1: failed\n" : i == 2 ? "<properties/>" : "");
    }
    const std::string path = "/wc/" + std::to_string(lines.size());
    EXPECT_FALSE(CheckinFile(path, "c", "u")) << path;
    EXPECT_EQ(fake.CommandLines().size(), c.commands) << path;
    lines.push_back(Format(c.line, path));
  }
  const std::string log = TraceLog();
  for (const std::string& line : lines) EXPECT_THAT(log, HasSubstr(line));
}

// The limit holds the absolute path plus 31: a relative name makes it 228 bytes (added) or 229
// (refused) long.
TEST_F(CheckinTest, PathLimitCountsTheAbsolutePathPlus31) {
  std::string name;
  for (const std::size_t length : {228u, 229u}) {
    name = "%" + std::string(length - (Root() + "/Execute/%").size(), 'n');
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(1, kNotVersioned);
    EXPECT_FALSE(CheckinFile(name, "c", "u", 260)) << length;
    const Lines lines = fake.CommandLines();
    EXPECT_EQ(lines.size() > 1 ? lines[1] : "no add", length == 228 ? "svn add --depth empty -- " + Q(name) : "no add");
  }
  EXPECT_THAT(TraceLog(), HasSubstr(Format(messages::kAddPathTooLong, 260, name)));
}

TEST_F(CheckinTest, KindsOfFileAreDecidedOnTheNormalisedAbsolutePath) {
  fs::create_directories(Root() + "/wc/docflows/instances/folder.xml");
  using enum CheckinFileKind;
  const struct { std::string path; CheckinFileKind kind; } cases[] = {
      {"/wc/docflows/templates/t.xml", kDocflowTemplate},
      {"/wc/docflows/templates/docflows/instances/b.xml", kDocflowInstance},
      {"/wc//docflows/./instances/x.xml", kDocflowInstance}, {"  /wc/docflows/instances/x.xml  ", kDocflowInstance},
      {"DocFlows/Instances/r.xml", kDocflowInstance}, {"/wc/docflows/instances/x.xml.bak", kOther},
      {"/wc/docflows/instancesx/x.xml", kOther}, {"/wc/mydocflows/instances/x.xml", kOther},
      {Root() + "/wc/docflows/instances/folder.xml", kOther}, {"/wc/modules/m.xml", kOther},
      {"/wc/mymodules/m.zip", kOther}, {"/wc/modules_development/m.zip", kModuleArchive},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfCheckinFile(c.path), c.kind) << c.path;
}

TEST_F(CheckinTest, SaveActionOfDocflowInstances) {
  const struct { const char* root; const char* message; const char* action; } cases[] = {
      {"<Root/>", "Created", "create"}, {"<Root/>", "created", ""},
      {"<Root><save_action>undefined</save_action></Root>", "Created", "create"},
      {"<Root><save_action>approve</save_action></Root>", "Created", "approve"},
      // A file that cannot be read has no save action of its own.
      {"<Root><unclosed></Root>", "Created", "create"}, {"<Root><unclosed></Root>", "Saved", ""},
  };
  for (const auto& c : cases) {
    const std::string path = MakeFile("wc/docflows/instances/i.xml", c.root);
    EXPECT_EQ(GetSaveAction(path, c.message), c.action) << c.root << " / " << c.message;
  }
}

// Records how often the thread holds the repository lock inside each command.
class LockProbe : public test::CFakeCommandRunner {
 public:
  CommandResult Run(const std::string& line, const CommandOptions& options) override {
    int count = 0;
    while (RepositoryLock().Unlock()) ++count;
    for (int i = 0; i < count; ++i) RepositoryLock().Lock();
    holds.push_back(count);
    return CFakeCommandRunner::Run(line, options);
  }
  std::vector<int> holds;
};

// Inside an operation that holds the lock across its commands, each command holds it twice.
TEST_F(CheckinTest, VersionAndDocflowPropertiesHoldTheLockAcrossTheirCommands) {
  const std::string path = MakeFile("wc/docflows/instances/i.xml", "<Root><Status>s</Status></Root>");
  LockProbe probe;
  CScopedCommandRunner use(probe);
  probe.AnswerExit(0, "<properties/>");
  EXPECT_TRUE(IncrementVersion(path));
  EXPECT_TRUE(SetDocflowProperties(path, {{"module_class", "x"}}));
  std::string output;
  ExecuteCommand("svn status", output);
  EXPECT_EQ(probe.holds, (std::vector<int>{2, 2, 2, 2, 2, 2, 2, 2, 1}));
}

}  // namespace
}  // namespace brimora
