// Check-in against a real repository and working copy, with the real client.

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/archive.h"
#include "sourcecontrol/checkin.h"
#include "sourcecontrol/svn_client.h"
#include "tests/support/test_support.h"
#include "tests/support/working_copy.h"

namespace brimora {
namespace {

namespace fs = std::filesystem;
using testing::Pair;
using testing::Contains;
using testing::HasSubstr;

class SvnIntegrationTest : public test::WorkingCopyTest {};

TEST_F(SvnIntegrationTest, VersionCountsCheckInsAndRevisionCarriesTheUser) {
  const std::string path = MakeFile("units.dat", "m\n");
  ASSERT_TRUE(CheckinFile(path, "Restored units", "alice"));
  auto properties = Properties(path);
  EXPECT_EQ(properties["version"], "1");
  EXPECT_EQ(properties["username"], "alice");
  EXPECT_EQ(HeadRevision(), 1);
  auto revision = HeadRevisionProperties();
  EXPECT_EQ(revision["username"], "alice");
  EXPECT_EQ(revision["svn:log"], "Restored units");

  test::WriteFile(path, "m\nkg\n");
  ASSERT_TRUE(CheckinFile(path, "Again", "SvcAgent4"));
  properties = Properties(path);
  EXPECT_EQ(properties["version"], "2");
  EXPECT_EQ(properties["username"], "N/A (External Client/User)");
  EXPECT_EQ(HeadRevisionProperties()["username"], "SvcAgent4");
  EXPECT_EQ(HeadRevision(), 2);
  EXPECT_EQ(Status(), "");

  // A missing property reads as 0 from the real client.
  std::int64_t value = 5;
  EXPECT_TRUE(GetProperty(path, "docflow_progress", value));
  EXPECT_EQ(value, 0);
}

TEST_F(SvnIntegrationTest, DocflowInstanceCreatedCarriesItsSaveAction) {
  fs::create_directories(InWorkingCopy("DocFlows/Instances"));
  ASSERT_TRUE(CheckinFile(InWorkingCopy("DocFlows"), "Folders", "alice"));
  const std::string path = MakeFile("DocFlows/Instances/run.xml",
                                    "<Root><Progress>-3</Progress><Status>-Draft</Status></Root>");
  ASSERT_TRUE(CheckinFile(path, "Created", "alice"));
  EXPECT_EQ(HeadRevisionProperties()["docflow_save_action"], "create");
  const auto properties = Properties(path);
  EXPECT_EQ(properties.at("docflow_progress"), "-3");
  EXPECT_EQ(properties.at("docflow_status"), "-Draft");
  EXPECT_EQ(properties.at("docflow_regulation_overridden_tgs"), "");
  EXPECT_EQ(properties.count("docflow_description"), 0u);

  test::WriteFile(path, "<Root><Status>Done</Status></Root>");
  ASSERT_TRUE(CheckinFile(path, "Saved", "alice"));
  EXPECT_EQ(HeadRevisionProperties().count("docflow_save_action"), 0u);
}

TEST_F(SvnIntegrationTest, ModuleArchiveGetsItsFourModuleProperties) {
  test::WriteFile(Root() + "/module.xml",
                  "<doc><module><class>Lab</class><prefix>lb</prefix><version>3.0</version></module></doc>");
  fs::create_directories(InWorkingCopy("Modules"));
  ASSERT_TRUE(CheckinFile(InWorkingCopy("Modules"), "Folder", "alice"));
  const std::string path = InWorkingCopy("Modules/lab.zip");
  test::RunProgram({SevenZipPath(), "a", "-bd", "-tzip", path, Root() + "/module.xml"});
  ASSERT_TRUE(CheckinFile(path, "Module", "alice"));
  const auto properties = Properties(path);
  const auto revision = HeadRevisionProperties();
  for (const auto& [name, value] : std::map<std::string, std::string>{
           {"module_class", "Lab"}, {"module_prefix", "lb"}, {"module_version", "3.0"}, {"module_glevel", ""}}) {
    EXPECT_THAT(properties, Contains(Pair(name, value)));
    EXPECT_THAT(revision, Contains(Pair(name, value)));
  }
}

TEST_F(SvnIntegrationTest, MessageArrivesWithQuotesAndBackslashesAndWithoutLineBreaks) {
  const std::string path = MakeFile("notes.txt", "n");
  ASSERT_TRUE(CheckinFile(path, "He said \"ok\"\r\nC:\\dir\\\"x\\\" -m\nend\\", "alice"));
  EXPECT_EQ(HeadRevisionProperties()["svn:log"], "He said \"ok\"C:\\dir\\\"x\\\" -mend\\");
}

TEST_F(SvnIntegrationTest, HostileNamesAreAddedAndCommitted) {
  const std::vector<std::string> names = {
      "with blank.txt", "50%.txt", "a%25b.txt", "icon@2x.png", "say \"hi\".txt", "-leading.txt",
      "--force", "\xC5\x82\xC3\xB3\x64\xC5\xBA \xD0\xBF\xD1\x80\xD0\xB8.txt", "back\\slash\\", "@",
      "folder@2/inner@3.txt"};
  for (const std::string& name : names) {
    const std::string path = MakeFile(name, name);
    EXPECT_TRUE(CheckinFile(fs::path(name).has_parent_path() ? fs::path(path).parent_path().string() : path,
                            "Added " + name, "alice"))
        << name;
  }
  EXPECT_EQ(Status(), "");
  for (const std::string& name : names) {
    // A folder is added with its content, which is committed along with it.
    const std::string checkedIn = fs::path(name).has_parent_path() ? fs::path(name).parent_path().string() : name;
    EXPECT_EQ(Properties(InWorkingCopy(checkedIn))["username"], "alice") << name;
  }
}

TEST_F(SvnIntegrationTest, PropertyValuesReachTheClientExactly) {
  const std::string path = MakeFile("p.txt", "p");
  ASSERT_TRUE(CheckinFile(path, "p", "alice"));
  for (const std::string& value : {std::string("-x"), std::string("--"), std::string("a \"b\" c\\"),
                                   std::string("two\nlines"), std::string()}) {
    ASSERT_TRUE(SetProperty(path, "note", value)) << value;
    EXPECT_EQ(Properties(path)["note"], value);
  }
}

TEST_F(SvnIntegrationTest, LockedWorkingCopyIsCleanedUpAndUpdatedOnce) {
  const std::string path = MakeFile("a.txt", "a");
  ASSERT_TRUE(CheckinFile(path, "a", "alice"));
  // What an interrupted client leaves behind: a lock row in the working copy's database.
  test::RunProgram({"python3", "-c",
                    "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]);"
                    "c.execute('INSERT INTO WC_LOCK (wc_id, local_dir_relpath, locked_levels) VALUES (1, \"\", -1)');"
                    "c.commit()",
                    WorkingCopy() + "/.svn/wc.db"});
  std::string output;
  EXPECT_FALSE(ExecuteCommand("svn update --non-interactive -- \"" + path + "\"", output));
  EXPECT_THAT(output, HasSubstr("locked"));
  EXPECT_TRUE(UpdateFile(path));
  EXPECT_TRUE(CheckinFile(path, "again", "alice"));
}

// The working copy's own path holds "@", "%" and a blank.
class SvnOddRootTest : public test::WorkingCopyTest {
 protected:
  SvnOddRootTest() : WorkingCopyTest("site@prod 50%") {}
};

TEST_F(SvnOddRootTest, FilesOfTheWorkingCopyAreCheckedIn) {
  const std::string path = MakeFile("Config/names.pmp", "n");
  ASSERT_TRUE(CheckinFile(InWorkingCopy("Config"), "Config", "alice"));
  test::WriteFile(path, "n2");
  ASSERT_TRUE(CheckinFile(path, "Names", "alice"));
  EXPECT_EQ(Properties(path)["version"], "1");
  EXPECT_EQ(HeadRevision(), 2);
  EXPECT_EQ(Status(), "");
  // The clean-up names the working copy relative to Execute, which here holds "@" too.
  EXPECT_TRUE(CleanupWorkingCopy());
}

}  // namespace
}  // namespace brimora
