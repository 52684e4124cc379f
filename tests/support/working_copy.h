#pragma once
// Helpers for the tests that drive the Subversion client: running programs, reading the client's
// XML answers, and a fixture that runs each test in <root>/Execute with the trace log started
// (its lines land in <root>/Logs), as the tool runs in an installation.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/command_runner.h"
#include "common/run_process.h"
#include "common/trace_log.h"
#include "common/xml.h"
#include "tests/support/test_support.h"

namespace brimora::test {

// Runs a program with its arguments (each quoted) and answers what it printed, standard error
// included; adds a test failure when it does not exit with code 0.
inline std::string RunProgram(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += (line.empty() ? "" : " ") + QuoteArgument(argument);
  CommandOptions options;
  options.stderrToo = true;
  const CommandResult result = CProcessCommandRunner().Run(line, options);
  EXPECT_TRUE(result.Succeeded()) << line << "\n" << result.output;
  return result.output;
}

// A path for the real client: one "@" appended when it holds one, so no peg revision is read.
inline std::string SvnTarget(const std::string& path) { return path.find('@') == path.npos ? path : path + "@"; }

// The client's XML answer, parsed; a test failure when it does not parse.
inline XmlDocument ParsedXml(const std::string& text) {
  XmlDocument document;
  EXPECT_TRUE(ParseXmlText(text, document)) << text;
  return document;
}

// The text of every node that `xpath` selects, by the node's "name" attribute.
inline std::map<std::string, std::string> NamedValues(const XmlNode& context, const std::string& xpath) {
  std::map<std::string, std::string> values;
  XmlNodeList nodes = SelectNodes(context, xpath);
  for (XmlNode node = nodes.NextNode(); node; node = nodes.NextNode()) {
    values[ReadXmlString(node, "@name", "")] = NodeText(node);
  }
  return values;
}

// The versioned properties of a path, read with the real client.
inline std::map<std::string, std::string> SvnProperties(const std::string& path) {
  const XmlDocument list = ParsedXml(RunProgram({"svn", "proplist", "--verbose", "--xml", SvnTarget(path)}));
  return NamedValues(SelectSingleNode(list, "/properties"), "target/property");
}

class SourceControlTest : public testing::Test {
 protected:
  // `rootName` is the name of the folder below the temporary folder that holds everything.
  explicit SourceControlTest(const std::string& rootName = "installation") : root_(temp_ / rootName) {
    std::filesystem::create_directories(root_ + "/Logs");
    std::filesystem::create_directories(root_ + "/Execute");
    std::filesystem::current_path(root_ + "/Execute");
    InitTraceLog("SourceControlTest", false);
  }
  ~SourceControlTest() override {
    ShutdownTraceLog();
    std::filesystem::current_path(savedFolder_);
  }

  // Everything the trace log received so far; stops the log to put every line on disk.
  std::string TraceLog() {
    ShutdownTraceLog();
    return ReadFile(root_ + "/Logs/SourceControlTestLog.txt");
  }
  // Writes a file below the root (folders made as needed) and answers its path.
  std::string MakeFile(const std::string& relative, const std::string& contents) {
    WriteFile(root_ + "/" + relative, contents);
    return root_ + "/" + relative;
  }
  const std::string& Root() const { return root_; }

 private:
  std::string savedFolder_ = std::filesystem::current_path();
  TempFolder temp_;
  std::string root_;
};

}  // namespace brimora::test
