#include "tests/support/working_copy.h"

#include <filesystem>

#include "common/command_runner.h"
#include "common/strings.h"
#include "common/trace_log.h"
#include "common/xml.h"

namespace brimora::test {

namespace fs = std::filesystem;

namespace {

// A file URL for a local path, escaping what a URL cannot hold as it is.
std::string FileUrl(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

template <typename Context>
std::map<std::string, std::string> ValuesByName(const Context& context, const std::string& xpath) {
  std::map<std::string, std::string> values;
  XmlNodeList nodes = SelectNodes(context, xpath);
  for (XmlNode node = nodes.NextNode(); node; node = nodes.NextNode()) {
    values[ReadXmlString(node, "@name", "")] = NodeText(node);
  }
  return values;
}

}  // namespace

std::string RunProgram(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (!line.empty()) line += ' ';
    line += QuoteArgument(argument);
  }
  CommandOptions options;
  options.stderrToo = true;
  CProcessCommandRunner runner;
  CommandResult result = runner.Run(line, options);
  EXPECT_TRUE(result.Succeeded()) << line << "\n" << result.output;
  return result.output;
}

std::string SvnTarget(const std::string& path) {
  return path.find('@') == std::string::npos ? path : path + "@";
}

XmlDocument ParsedXml(const std::string& text) {
  XmlDocument document;
  EXPECT_TRUE(ParseXmlText(text, document)) << text;
  return document;
}

std::map<std::string, std::string> NamedValues(const XmlDocument& document, const std::string& xpath) {
  return ValuesByName(document, xpath);
}

std::map<std::string, std::string> NamedValues(const XmlNode& context, const std::string& xpath) {
  return ValuesByName(context, xpath);
}

std::map<std::string, std::string> SvnProperties(const std::string& path) {
  return NamedValues(ParsedXml(RunProgram({"svn", "proplist", "--verbose", "--xml", SvnTarget(path)})),
                     "/properties/target/property");
}

SourceControlTest::SourceControlTest(std::string rootName)
    : root_(temp_.Path() + "/" + rootName), savedFolder_(fs::current_path()) {
  fs::create_directories(root_ + "/Execute");
  fs::create_directories(root_ + "/Logs");
  fs::current_path(root_ + "/Execute");
  InitTraceLog("SourceControlTest", false);
}

SourceControlTest::~SourceControlTest() {
  ShutdownTraceLog();
  fs::current_path(savedFolder_);
}

std::string SourceControlTest::TraceLog() {
  ShutdownTraceLog();
  return ReadFile(root_ + "/Logs/SourceControlTestLog.txt");
}

WorkingCopyTest::WorkingCopyTest(std::string rootName)
    : SourceControlTest(std::move(rootName)), workingCopy_(Root() + "/Repository/FileStorage") {
  const std::string repository = Root() + "/svnrepo";
  RunProgram({"svnadmin", "create", repository});
  url_ = FileUrl(repository);
  RunProgram({"svn", "checkout", "--quiet", url_, workingCopy_});
}

std::string WorkingCopyTest::MakeFile(const std::string& relative, const std::string& contents) {
  const std::string path = InWorkingCopy(relative);
  fs::create_directories(fs::path(path).parent_path());
  WriteFile(path, contents);
  return path;
}

std::map<std::string, std::string> WorkingCopyTest::Properties(const std::string& path) {
  return SvnProperties(path);
}

std::map<std::string, std::string> WorkingCopyTest::HeadRevisionProperties() {
  const XmlDocument log =
      ParsedXml(RunProgram({"svn", "log", "--xml", "--with-all-revprops", "-r", "HEAD", url_}));
  std::map<std::string, std::string> properties = NamedValues(log, "/log/logentry/revprops/property");
  // The client shows the message on its own rather than among the revision properties.
  properties["svn:log"] = ReadXmlString(log, "/log/logentry/msg", "");
  return properties;
}

long WorkingCopyTest::HeadRevision() {
  const XmlDocument info = ParsedXml(RunProgram({"svn", "info", "--xml", url_}));
  return std::stol(ReadXmlString(info, "/info/entry/@revision", "-1"));
}

std::string WorkingCopyTest::Status() { return RunProgram({"svn", "status", workingCopy_}); }

}  // namespace brimora::test
