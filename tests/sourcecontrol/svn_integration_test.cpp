// Check-in against a real repository and working copy, with the real client: the command lines
// that the unit tests fix are read by the client as meant.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "common/format.h"
#include "sourcecontrol/checkin.h"
#include "sourcecontrol/svn_client.h"
#include "tests/support/working_copy.h"

namespace brimora {
namespace {

using Values = std::map<std::string, std::string>;

// A repository made with svnadmin and a working copy of it at <root>/Repository/FileStorage, the
// folder that clean-ups repair. The root's name holds "@", "%", a blank and a letter outside ASCII.
class SvnIntegrationTest : public test::SourceControlTest {
 protected:
  SvnIntegrationTest() : SourceControlTest("site@prod 50% \xC3\xBC") {
    test::RunProgram({"svnadmin", "create", Root() + "/svnrepo"});
    for (unsigned char c : Root() + "/svnrepo") {
      url_ += std::isalnum(c) || c == '/' ? std::string(1, c) : Format("%%%02X", c);
    }
    test::RunProgram({"svn", "checkout", "--quiet", url_, Root() + "/Repository/FileStorage"});
    SetCleanupTarget(Root() + "/Repository/FileStorage");
  }
  ~SvnIntegrationTest() override { SetCleanupTarget(""); }
  std::string MakeFile(const std::string& relative, const std::string& contents) {
    return SourceControlTest::MakeFile("Repository/FileStorage/" + relative, contents);
  }
  // The revision properties of the newest revision, with its message as "svn:log".
  Values HeadRevision() {
    const XmlDocument log =
        test::ParsedXml(test::RunProgram({"svn", "log", "--xml", "--with-all-revprops", "-r", "HEAD", url_}));
    Values properties = test::NamedValues(SelectSingleNode(log, "/log/logentry"), "revprops/property");
    properties["svn:log"] = ReadXmlString(log, "/log/logentry/msg", "");
    return properties;
  }

  std::string url_ = "file://";
};

// Each text is a file name, part of the commit message and the user. A new file has no version
// yet: the client's answer to reading it means 0. The tool runs without a locale (as under cron):
// the client still reads the names as UTF-8.
TEST_F(SvnIntegrationTest, HostileNamesMessagesAndValuesReachTheClientExactly) {
  const char* lang = std::getenv("LANG");
  const std::shared_ptr<void> restore(nullptr, [lang = std::string(lang ? lang : "")](void*) {  // however the test ends
    ::unsetenv("LC_ALL");
    if (!lang.empty()) ::setenv("LANG", lang.c_str(), 1);
  });
  ::unsetenv("LANG");
  ::setenv("LC_ALL", "C", 1);
  for (const std::string name :
       {"with blank.txt", "50%.txt", "a%25b.txt", "icon@2x.png", "say \"hi\".txt", "-leading.txt", "--force",
        "\xC5\x82\xC3\xB3\x64\xC5\xBA \xD0\xBF\xD1\x80\xD0\xB8.txt", "back\\slash\\", "@", "folder@2/inner@3.txt"}) {
    const std::string file = MakeFile(name, name);
    // A folder is added and committed alone, without its content.
    const std::string path = name.find('/') == std::string::npos ? file : file.substr(0, file.rfind('/'));
    ASSERT_TRUE(CheckinFile(path, "He said \"ok\"\r\n-m " + name + "\n", name)) << name;
    if (path != file) {
      EXPECT_EQ(test::RunProgram({"svn", "status", test::SvnTarget(file)}).substr(0, 1), "?");
    }
    EXPECT_EQ(HeadRevision(), (Values{{"svn:log", "He said \"ok\"-m " + name}, {"username", name}}));
    EXPECT_EQ(test::SvnProperties(path), (Values{{"username", name}, {"version", "1"}}));
  }
  EXPECT_TRUE(CleanupWorkingCopy());
}

}  // namespace
}  // namespace brimora
