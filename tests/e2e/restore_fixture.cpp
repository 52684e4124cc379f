#include "e2e/restore_fixture.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "common/xml.h"
#include "support/working_copy.h"

namespace brimora::test {

namespace {

bool IsLeftOut(const std::string& relative) {
  for (const char* part : {".svn", "SubversionRepository", "Logs"}) {
    const std::string piece = part;
    if (relative == piece || relative.starts_with(piece + "/") || relative.ends_with("/" + piece) ||
        relative.find("/" + piece + "/") != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

void PrintTo(const Commit& commit, std::ostream* out) {
  *out << "{\"" << commit.message << "\"";
  for (const auto& [name, value] : commit.revisionProperties) *out << ", " << name << "=" << value;
  *out << "}";
}

std::vector<std::string> Differences(const std::map<std::string, std::string>& before,
                                     const std::map<std::string, std::string>& after) {
  std::vector<std::string> lines;
  auto b = before.begin();
  auto a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      lines.push_back("- " + (b++)->first);
    } else if (b == before.end() || a->first < b->first) {
      lines.push_back("+ " + (a++)->first);
    } else {
      if (a->second != b->second) lines.push_back("~ " + a->first);
      ++a;
      ++b;
    }
  }
  return lines;
}

std::string AccountName() {
  const passwd* account = getpwuid(geteuid());
  return account != nullptr ? account->pw_name : "N/A";
}

namespace {

void Replace(const std::string& path, const std::string& from, const std::string& to) {
  std::string contents = ReadFile(path);
  const std::size_t at = contents.find(from);
  ASSERT_NE(at, std::string::npos) << path << " holds no " << from;
  WriteFile(path, contents.replace(at, from.size(), to));
}

}  // namespace

void RestoreTest::DamageSample() const {
  namespace fs = std::filesystem;
  for (const char* gone : {"Execute/users.dat", "Execute/reports.xml", "Execute/ParameterManager/images/chart.png",
                           "GenericFileEditor.xml", "partsdb/parts.db"}) {
    ASSERT_TRUE(fs::remove(Install() + "/" + gone)) << gone;
  }
  for (const char* gone : {"Execute/WebReports", "Users/admin", "Users/lab.tech1"}) {
    ASSERT_GT(fs::remove_all(Install() + "/" + gone), 0u) << gone;
  }
  ASSERT_TRUE(fs::remove(Settings() + "/TestSystems.xml"));
  ASSERT_TRUE(fs::remove(Settings() + "/partsdb-changelogs/changes_2024-03-10.xml"));
  Replace(Settings() + "/Brimora.xml", "<ServerName>Brimora<", "<ServerName>Damaged<");
  Replace(Execute() + "/users.xml", "role=\"qa\"", "role=\"admin\"");
  Replace(Execute() + "/BrimoraParams_Lab2.xml", "Lab2", "Lab3");
  Replace(Execute() + "/PartDBConfig.xml", "../partsdb", "../elsewhere");
  WriteFile(Execute() + "/utilized_h.pkl", "damaged");
  WriteFile(Install() + "/partsdb/extra.tmp", "a file the database copy leaves alone");

  ASSERT_GT(fs::remove_all(WorkingCopy() + "/Projects"), 0u);
  ASSERT_GT(fs::remove_all(WorkingCopy() + "/ReportTemplates"), 0u);
  Replace(WorkingCopy() + "/Config/units.dat", "mg", "kg");
  WriteFile(WorkingCopy() + "/stray.txt", "not in the backup");
  WriteFile(WorkingCopy() + "/Stray folder/inside.txt", "not in the backup");
  fs::permissions(ReadOnlyDocument(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

std::map<std::string, std::string> RestoreTest::SiteState() const {
  std::map<std::string, std::string> state;
  for (auto& [path, contents] : Snapshot(Site())) {
    if (!IsLeftOut(path)) state.emplace(path, std::move(contents));
  }
  return state;
}

std::string RestoreTest::RepositoryUrl() const {
  const XmlDocument info = ParsedXml(RunProgram({"svn", "info", "--xml", SvnTarget(WorkingCopy())}));
  return ReadXmlString(info, "/info/entry/repository/root", "");
}

long RestoreTest::HeadRevision() const {
  const XmlDocument info = ParsedXml(RunProgram({"svn", "info", "--xml", RepositoryUrl()}));
  return std::stol(ReadXmlString(info, "/info/entry/@revision", "-1"));
}

std::vector<Commit> RestoreTest::CommitsAfter(long revision) const {
  std::vector<Commit> commits;
  if (HeadRevision() <= revision) return commits;
  const XmlDocument log = ParsedXml(RunProgram({"svn", "log", "--xml", "--with-all-revprops", "-r",
                                             std::to_string(revision + 1) + ":HEAD", RepositoryUrl()}));
  XmlNodeList entries = SelectNodes(log, "/log/logentry");
  for (XmlNode entry = entries.NextNode(); entry; entry = entries.NextNode()) {
    commits.push_back({ReadXmlString(entry, "msg", ""), NamedValues(entry, "revprops/property")});
  }
  return commits;
}

std::map<std::string, std::string> RestoreTest::Properties(const std::string& path) const {
  return SvnProperties(path);
}

std::string RestoreTest::Status(bool showUpdates) const {
  std::vector<std::string> command = {"svn", "status"};
  if (showUpdates) command.push_back("--show-updates");
  command.push_back(SvnTarget(WorkingCopy()));
  return RunProgram(command);
}

}  // namespace brimora::test
