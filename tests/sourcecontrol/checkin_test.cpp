// Check-in and its properties against a recording runner: the exact command lines, in order,
// of each kind of check-in, and the rules that decide what each line holds.

#include "sourcecontrol/checkin.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/archive.h"
#include "common/command_runner.h"
#include "common/failsafe_lock.h"
#include "common/run_process.h"
#include "sourcecontrol/properties.h"
#include "sourcecontrol/svn_client.h"
#include "tests/support/fake_command_runner.h"
#include "tests/support/test_support.h"
#include "tests/support/working_copy.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using testing::HasSubstr;

constexpr const char kNotVersioned[] = "svn: warning: W155010: The node was not found.\n";
constexpr const char kNoProperty[] = "svn: warning: W200017: Property 'version' not found\n";
constexpr const char kLocked[] = "svn: E155004: Working copy '/wc' locked.\n";

// Records and answers the client's commands; anything else (the archiver) really runs.
class ClientRecorder : public test::CFakeCommandRunner {
 public:
  CommandResult Run(const std::string& line, const CommandOptions& options) override {
    if (SplitCommandLine(line).front() != "svn") return CProcessCommandRunner().Run(line, options);
    return CFakeCommandRunner::Run(line, options);
  }
};

// Points $TMPDIR at a folder for the lifetime of the object.
class ScopedTemporaryFolder {
 public:
  explicit ScopedTemporaryFolder(const std::string& folder) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    setenv("TMPDIR", folder.c_str(), 1);
  }
  ~ScopedTemporaryFolder() {
    if (saved_) {
      setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> saved_;
};

class CheckinTest : public test::SourceControlTest {
 protected:
  // A file below the test's root, folders made as needed.
  std::string MakeFile(const std::string& relative, const std::string& contents) {
    const std::string path = Root() + "/" + relative;
    fs::create_directories(fs::path(path).parent_path());
    test::WriteFile(path, contents);
    return path;
  }
  static std::string Q(const std::string& text) { return "\"" + text + "\""; }
  // The client's answers for a file it does not know yet: info fails, add succeeds, and the
  // file has no "version" property.
  void AnswerNewFile() {
    fake_.AnswerExit(1, kNotVersioned);
    fake_.AnswerExit(0);
    fake_.AnswerExit(1, kNoProperty);
  }
  // The first commit command line the runner saw.
  static std::string CommitLine(const test::CFakeCommandRunner& fake) {
    for (const std::string& line : fake.CommandLines()) {
      if (line.rfind("svn commit ", 0) == 0) return line;
    }
    ADD_FAILURE() << "no commit";
    return "svn commit";
  }

  ClientRecorder fake_;
  CScopedCommandRunner use_{fake_};
};

TEST_F(CheckinTest, NewFileIsAddedVersionedCommittedAndUpdated) {
  const std::string path = MakeFile("wc/notes.txt", "x");
  AnswerNewFile();
  EXPECT_TRUE(CheckinFile(path, "Restored", "alice"));
  EXPECT_EQ(fake_.CommandLines(),
            (Lines{"svn info --xml -- " + Q(path),
                   "svn add -- " + Q(path),
                   "svn propget --xml version -- " + Q(path),
                   "svn propset version -- 1 " + Q(path),
                   "svn propset username -- \"alice\" " + Q(path),
                   "svn update --non-interactive -- " + Q(path),
                   "svn resolve --accept=working -- " + Q(path),
                   "svn commit --force-log --message \"Restored\" --with-revprop \"username=alice\" -- " + Q(path),
                   "svn update --non-interactive -- " + Q(path)}));
}

TEST_F(CheckinTest, VersionedFileIsUpdatedFirstAndItsVersionCounted) {
  const std::string path = MakeFile("wc/notes.txt", "x");
  fake_.AnswerExit(0, "<info><entry kind=\"file\"/></info>");
  fake_.AnswerExit(0);  // update
  fake_.AnswerExit(0, "<properties><target><property name=\"version\">7</property></target></properties>");
  EXPECT_TRUE(CheckinFile(path, "Restored", "svcAgent4"));
  EXPECT_EQ(fake_.CommandLines(),
            (Lines{"svn info --xml -- " + Q(path),
                   "svn update --non-interactive -- " + Q(path),
                   "svn propget --xml version -- " + Q(path),
                   "svn propset version -- 8 " + Q(path),
                   "svn propset username -- \"N/A (External Client/User)\" " + Q(path),
                   "svn update --non-interactive -- " + Q(path),
                   "svn resolve --accept=working -- " + Q(path),
                   "svn commit --force-log --message \"Restored\" --with-revprop \"username=svcAgent4\" -- " + Q(path),
                   "svn update --non-interactive -- " + Q(path)}));
}

TEST_F(CheckinTest, DocflowsGetTheValuesOfTheirKindAndInstancesTheirSaveAction) {
  struct Case {
    const char* file;
    const char* contents;
    Lines properties;  // "name -- value" of the propsets after "username"
    const char* revisionProperties;
  } const cases[] = {
      {"wc/DocFlows/Instances/Run 1.XML",
       "<Root><Progress>40</Progress><Status>-In \"review\"</Status><data_checked_tgs>a,b</data_checked_tgs></Root>",
       {"docflow_progress -- 40", "docflow_status -- \"-In \\\"review\\\"\"", "docflow_data_checked_tgs -- \"a,b\"",
        "docflow_regulation_overridden_tgs -- \"\"", "docflow_current_stage_users -- \"\""},
       " --with-revprop \"docflow_save_action=create\""},
      {"wc/docflows/templates/T.xml",
       "<Root><Description>Weekly</Description><Category>QA</Category><save_action>create</save_action></Root>",
       {"docflow_description -- \"Weekly\"", "docflow_data_administrator -- \"\"",
        "docflow_regulation_checker -- \"\"", "docflow_category -- \"QA\"", "docflow_testdata -- \"\"",
        "docflow_current_stage_users -- \"\""},
       ""},
  };
  for (const Case& c : cases) {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    const std::string path = MakeFile(c.file, c.contents);
    fake.AnswerExit(0, "<info/>");
    fake.AnswerExit(0);
    fake.AnswerExit(1, kNoProperty);
    EXPECT_TRUE(CheckinFile(path, "Created", "alice"));
    const Lines lines = fake.CommandLines();
    ASSERT_EQ(lines.size(), 9 + c.properties.size()) << c.file;
    EXPECT_EQ(lines[1], "svn add -- " + Q(path)) << "an answer without an entry is not versioned";
    for (std::size_t i = 0; i < c.properties.size(); ++i) {
      EXPECT_EQ(lines[5 + i], "svn propset " + c.properties[i] + " " + Q(path));
    }
    EXPECT_EQ(lines[lines.size() - 2], std::string("svn commit --force-log --message \"Created\" --with-revprop "
                                                   "\"username=alice\"") + c.revisionProperties + " -- " + Q(path));
  }
}

TEST_F(CheckinTest, ModuleArchiveValuesBecomeVersionedAndRevisionProperties) {
  const std::string source = MakeFile("src/deep/module.xml",
                                      "<doc><module><class>Lab</class><prefix>lb</prefix>"
                                      "<version>2.1</version></module></doc>");
  const std::string path = Root() + "/wc/Modules/lab.ZIP";
  fs::create_directories(Root() + "/wc/Modules");
  // A private temporary folder, to see that the extraction's folder is removed.
  const std::string temporary = Root() + "/tmp";
  fs::create_directories(temporary);
  ScopedTemporaryFolder useTemporary(temporary);
  test::RunProgram({SevenZipPath(), "a", "-bd", "-tzip", path, Root() + "/src/deep"});
  AnswerNewFile();
  EXPECT_TRUE(CheckinFile(path, "Restored", "alice"));
  const Lines lines = fake_.CommandLines();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(Lines(lines.begin() + 5, lines.begin() + 9),
            (Lines{"svn propset module_class -- \"Lab\" " + Q(path),
                   "svn propset module_glevel -- \"\" " + Q(path),
                   "svn propset module_prefix -- \"lb\" " + Q(path),
                   "svn propset module_version -- \"2.1\" " + Q(path)}));
  EXPECT_EQ(lines[11], "svn commit --force-log --message \"Restored\" --with-revprop \"username=alice\""
                       " --with-revprop \"module_class=Lab\" --with-revprop \"module_glevel=\""
                       " --with-revprop \"module_prefix=lb\" --with-revprop \"module_version=2.1\" -- " + Q(path));
  // The temporary folder of the extraction is gone.
  EXPECT_TRUE(fs::is_empty(temporary));
}

TEST_F(CheckinTest, ModuleArchiveWithoutAReadableModuleFileGetsNoModuleValues) {
  // "module.xml" stored as a link (to a file the archive also holds) is never read through, and
  // an archive that is not one at all gives nothing either.
  const std::string source = Root() + "/src";
  fs::create_directories(source);
  test::WriteFile(source + "/real.xml", "<doc><module><class>Lab</class></module></doc>");
  fs::create_symlink("real.xml", source + "/module.xml");
  fs::create_directories(Root() + "/wc/modules");
  const std::string linked = Root() + "/wc/modules/linked.zip";
  test::RunProgram({SevenZipPath(), "a", "-bd", "-snl", "-tzip", linked, source + "/real.xml", source + "/module.xml"});
  const std::string broken = MakeFile("wc/modules/broken.zip", "not an archive");
  for (const std::string& path : {linked, broken}) {
    test::CFakeCommandRunner* fake = &fake_;
    fake->AnswerExit(0, "<properties/>");
    EXPECT_TRUE(CommitFile(path, "c", "u")) << path;
  }
  for (const std::string& line : fake_.CommandLines()) {
    EXPECT_THAT(line, testing::Not(HasSubstr("module_"))) << line;
  }
}

TEST_F(CheckinTest, EmptyPathCommitsWithoutPathOrRevisionProperties) {
  fake_.AnswerExit(1, kNotVersioned);
  fake_.AnswerExit(0);
  fake_.AnswerExit(0, "<properties><target><property name=\"version\">-3</property></target></properties>");
  EXPECT_TRUE(CheckinFile("", "All \"of\" it", "alice"));
  EXPECT_EQ(fake_.CommandLines(),
            (Lines{"svn info --xml -- \"\"", "svn add -- \"\"", "svn propget --xml version -- \"\"",
                   "svn propset version -- 1 \"\"", "svn propset username -- \"alice\" \"\"",
                   "svn resolve --accept=working",
                   "svn commit --force-log --message \"All \\\"of\\\" it\"",
                   "svn update --non-interactive -- \"\""}));
}

TEST_F(CheckinTest, PathLengthLimitCountsTheAbsoluteEncodedPathPlus31) {
  // A relative name whose escaped form exists and makes the absolute encoded path exactly
  // `length` bytes long.
  auto pathOf = [&](std::size_t length) {
    const std::string name = std::string(length - (Root() + "/Execute/%25").size(), 'n');
    test::WriteFile(Root() + "/Execute/%25" + name, "");
    return "%" + name;
  };
  fake_.AnswerExit(1, kNotVersioned);
  const std::string fits = pathOf(228);
  CheckinFile(fits, "c", "u", 260);
  ASSERT_GE(fake_.CommandLines().size(), 2u);
  EXPECT_EQ(fake_.CommandLines()[1], "svn add -- " + Q("%25" + fits.substr(1)));

  test::CFakeCommandRunner fake;
  CScopedCommandRunner use(fake);
  fake.AnswerExit(1, kNotVersioned);
  const std::string tooLong = pathOf(229);
  EXPECT_FALSE(CheckinFile(tooLong, "c", "u", 260));
  EXPECT_EQ(fake.CommandLines().size(), 1u);  // only the info
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr("ERROR: AddFile - Unable to add the directory/file to source control because the "
                             "full encoded path used by svn (260) exceeds the maximum path: \"" + tooLong + "\""));
  EXPECT_THAT(log, HasSubstr("ERROR: CheckinFile - Error adding the directory/file to source control: \"" +
                             tooLong + "\""));
}

TEST_F(CheckinTest, MessageReachesTheClientAsWrittenWithoutLineBreaks) {
  struct Case {
    std::string comment;
    std::string received;
  } const cases[] = {
      {"say \"hi\"", "say \"hi\""},
      {"C:\\dir\\\"quoted\\\"", "C:\\dir\\\"quoted\\\""},  // backslashes before quotes
      {"ends in one\\", "ends in one\\"},
      {"ends in two\\\\", "ends in two\\\\"},
      {"line 1\r\nline 2\nline 3\r", "line 1line 2line 3"},
      {"-m looks like an option", "-m looks like an option"},
      {"", ""},
  };
  for (const Case& c : cases) {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    EXPECT_EQ(PrepareCommitMessage(c.comment), c.received);
    CommitFile("/wc/a", c.comment, "u");
    const std::vector<std::string> arguments = SplitCommandLine(CommitLine(fake));
    ASSERT_EQ(arguments.at(1), "commit");
    ASSERT_EQ(arguments.at(3), "--message");
    EXPECT_EQ(arguments.at(4), c.received) << c.comment;
    EXPECT_EQ(arguments.back(), "/wc/a");
  }
}

TEST_F(CheckinTest, CommitIsCleanedUpAndRetriedOnlyOnceForALockedWorkingCopy) {
  const std::string commit =
      "svn commit --force-log --message \"c\" --with-revprop \"username=u\" -- \"/wc/a\"";
  const std::string cleanup = "svn cleanup -- \"../Repository/FileStorage\"";
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> commitAnswers;  // commit, clean-up, commit
    bool answer;
    Lines tail;
  } const cases[] = {
      {"locked, retried", {{1, kLocked}, {0, ""}, {0, ""}}, true, {commit, cleanup, commit}},
      {"Locked with a capital: no retry", {{1, "svn: E1: Locked\n"}}, false, {commit}},
      {"second failure: no second clean-up", {{1, kLocked}, {0, ""}, {1, kLocked}}, false,
       {commit, cleanup, commit}},
      {"clean-up fails: no retry", {{1, kLocked}, {1, "svn: E2: cannot\n"}}, false, {commit, cleanup}},
  };
  for (const Case& c : cases) {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(0, "<properties/>");                                     // propget
    for (int i = 0; i < 4; ++i) fake.AnswerExit(0);                          // propsets, update, resolve
    for (const auto& [code, text] : c.commitAnswers) fake.AnswerExit(code, text);
    EXPECT_EQ(CommitFile("/wc/a", "c", "u"), c.answer) << c.name;
    const Lines lines = fake.CommandLines();
    EXPECT_EQ(Lines(lines.begin() + 5, lines.end()), c.tail) << c.name;
  }
}

TEST_F(CheckinTest, EveryFailedStepBeforeTheCommitFailsTheAnswerButNotTheCommit) {
  // Commands of a commit of a plain file: propget, propset version, propset username, update,
  // resolve, commit.
  for (std::size_t failing = 0; failing < 6; ++failing) {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    for (std::size_t i = 0; i < 6; ++i) {
      fake.AnswerExit(i == failing ? 1 : 0, i == 0 && i != failing ? "<properties/>" : "svn: E1: failed\n");
    }
    EXPECT_FALSE(CommitFile("/wc/a", "c", "u")) << failing;
    const Lines lines = fake.CommandLines();
    EXPECT_THAT(lines.back(), testing::StartsWith("svn commit ")) << failing;
    // A failed version read writes no version.
    EXPECT_EQ(lines.size(), failing == 0 ? 5u : 6u) << failing;
  }
}

TEST_F(CheckinTest, FailedStepsAreReportedAndNothingIsUndone) {
  // A failing resolve still lets the commit run, and the check-in reports the commit.
  fake_.AnswerExit(0, "<info><entry/></info>");  // info: versioned
  fake_.AnswerExit(0);                           // update
  fake_.AnswerExit(0, "<properties/>");          // propget
  fake_.AnswerExit(0);                           // propset version
  fake_.AnswerExit(0);                           // propset username
  fake_.AnswerExit(0);                           // update
  fake_.AnswerExit(1, "svn: E155010: resolve failed\n");
  EXPECT_FALSE(CheckinFile("/wc/a", "c", "u"));
  EXPECT_THAT(fake_.CommandLines().at(7), testing::StartsWith("svn commit "));
  EXPECT_EQ(fake_.CommandLines().size(), 8u);  // no update after a failed commit, no revert

  {
    // A versioned path whose first update fails is not committed.
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(0, "<info><entry/></info>");
    fake.AnswerExit(1, "svn: E170013: Unable to connect\n");
    EXPECT_FALSE(CheckinFile("/wc/b", "c", "u"));
    EXPECT_EQ(fake.CommandLines().size(), 2u);
  }
  {
    // A version counter that cannot be read fails the commit's answer, not the commit.
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(1, kNotVersioned);
    fake.AnswerExit(0);                                   // add
    fake.AnswerExit(1, "svn: E155007: not a working copy\n");  // propget
    EXPECT_FALSE(CheckinFile("/wc/c", "c", "u"));
    const Lines lines = fake.CommandLines();
    EXPECT_THAT(lines.back(), testing::StartsWith("svn commit "));
    EXPECT_THAT(lines.at(3), testing::StartsWith("svn propset username"));
  }
  {
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(1, kNotVersioned);
    fake.AnswerExit(1, "svn: E155010: cannot add\n");
    EXPECT_FALSE(CheckinFile("/wc/d", "c", "u"));
    EXPECT_EQ(fake.CommandLines().size(), 2u);
  }
  {
    // The update after a good commit.
    test::CFakeCommandRunner fake;
    CScopedCommandRunner use(fake);
    fake.AnswerExit(0, "<info><entry/></info>");
    for (int i = 0; i < 7; ++i) fake.AnswerExit(0, i == 1 ? "<properties/>" : "");
    fake.AnswerExit(1, "svn: E170013: Unable to connect\n");
    EXPECT_FALSE(CheckinFile("/wc/e", "c", "u"));
    EXPECT_EQ(fake.CommandLines().size(), 9u);
  }
  const std::string log = TraceLog();
  EXPECT_THAT(log, HasSubstr("ERROR: CheckinFile - Unable to commit the file to source control: \"/wc/a\""));
  EXPECT_THAT(log, HasSubstr("ERROR: CheckinFile - Unable to update the file from source control: \"/wc/b\""));
  EXPECT_THAT(log, HasSubstr("ERROR: CheckinFile - Unable to commit the directory/file to source control: \"/wc/c\""));
  EXPECT_THAT(log, HasSubstr("ERROR: CheckinFile - Error adding the directory/file to source control: \"/wc/d\""));
  EXPECT_THAT(log, HasSubstr("ERROR: CheckinFile - Unable to update the file from source control: \"/wc/e\""));
}

TEST_F(CheckinTest, KindsOfFileAreDecidedOnTheNormalisedAbsolutePath) {
  fs::create_directories(Root() + "/wc/docflows/instances/folder.xml");
  struct Case {
    std::string path;
    CheckinFileKind kind;
  } const cases[] = {
      {"/wc/DocFlows/Instances/X.XML", CheckinFileKind::kDocflowInstance},
      {"/wc/docflows/templates/t.xml", CheckinFileKind::kDocflowTemplate},
      {"/wc/docflows/templates/docflows/instances/both.xml", CheckinFileKind::kDocflowInstance},
      {"/wc//docflows/./instances/x.xml", CheckinFileKind::kDocflowInstance},
      {"  /wc/docflows/instances/x.xml  ", CheckinFileKind::kDocflowInstance},
      {"/wc/docflows/instances/x.xml.bak", CheckinFileKind::kOther},
      {"/wc/docflows/instancesx/x.xml", CheckinFileKind::kOther},
      {Root() + "/wc/docflows/instances/folder.xml", CheckinFileKind::kOther},
      {"/wc/Modules/m.Zip", CheckinFileKind::kModuleArchive},
      {"/wc/modules_development/m.zip", CheckinFileKind::kModuleArchive},
      {"/wc/modules/m.xml", CheckinFileKind::kOther},
      {"/wc/mymodules/m.zip", CheckinFileKind::kOther},
      {"DocFlows/Instances/r.xml", CheckinFileKind::kDocflowInstance},
      {"/wc/mydocflows/instances/x.xml", CheckinFileKind::kOther},
  };
  for (const Case& c : cases) EXPECT_EQ(KindOfCheckinFile(c.path), c.kind) << c.path;
}

TEST_F(CheckinTest, SaveActionOfDocflowInstances) {
  struct Case {
    const char* root;
    const char* message;
    const char* action;
  } const cases[] = {
      {"<Root/>", "Created", "create"},
      {"<Root/>", "created", ""},
      {"<Root><save_action>undefined</save_action></Root>", "Created", "create"},
      {"<Root><save_action>undefined</save_action></Root>", "created", "undefined"},
      {"<Root><save_action>approve</save_action></Root>", "Created", "approve"},
      {"<Other/>", "Created", "create"},
      // A file that cannot be read has no save action of its own.
      {"<Root><unclosed></Root>", "Created", "create"},
      {"<Root><unclosed></Root>", "Saved", ""},
  };
  for (const Case& c : cases) {
    const std::string path = MakeFile("wc/docflows/instances/i.xml", c.root);
    EXPECT_EQ(GetSaveAction(path, c.message), c.action) << c.root << " / " << c.message;
  }
  const std::string otherKind = MakeFile("wc/docflows/templates/t.xml", "<Root/>");
  EXPECT_EQ(GetSaveAction(otherKind, "Created"), "");
  EXPECT_TRUE(fake_.CommandLines().empty());
}

TEST_F(CheckinTest, BrokenDocflowGetsNoDocflowPropertiesAndDoesNotFail) {
  const std::string path = MakeFile("wc/docflows/templates/bad.xml", "<Root><Description>");
  fake_.AnswerExit(0, "<properties/>");
  EXPECT_TRUE(CommitFile(path, "c", "u"));
  for (const std::string& line : fake_.CommandLines()) EXPECT_THAT(line, testing::Not(HasSubstr("docflow_")));
}

// Answers every command; inside each one it lets go of the hold that ExecuteCommand took and
// records whether another thread could then take the lock. Inside an operation that holds the
// lock across its commands, it cannot.
class LockProbe : public test::CFakeCommandRunner {
 public:
  CommandResult Run(const std::string& line, const CommandOptions& options) override {
    RepositoryLock().Unlock();
    bool taken = false;
    std::thread([&] {
      taken = RepositoryLock().Lock(0);
      if (taken) RepositoryLock().Unlock();
    }).join();
    RepositoryLock().Lock();
    heldAcross_.push_back(!taken);
    CommandResult result = CFakeCommandRunner::Run(line, options);
    if (line.find("propget") != std::string::npos) result.output = "<properties/>";
    return result;
  }
  std::vector<bool> heldAcross_;
};

TEST_F(CheckinTest, VersionAndDocflowPropertiesHoldTheLockAcrossTheirCommands) {
  const std::string path = MakeFile("wc/docflows/instances/i.xml", "<Root><Status>s</Status></Root>");
  LockProbe probe;
  CScopedCommandRunner use(probe);
  EXPECT_TRUE(IncrementVersion(path));
  EXPECT_TRUE(SetDocflowProperties(path, {{"module_class", "x"}}));
  EXPECT_EQ(probe.CommandLines().size(), 2u + 6u);
  EXPECT_EQ(probe.heldAcross_, std::vector<bool>(8, true));
  // A single command takes the lock only for itself.
  std::string output;
  ExecuteCommand("svn status", output);
  EXPECT_FALSE(probe.heldAcross_.back());
}

}  // namespace
}  // namespace brimora
