#pragma once
// Fixtures for the source-control tests.
//
// SourceControlTest runs each test in <root>/Execute with the trace log started (its lines land
// in <root>/Logs), as the tool runs in an installation. WorkingCopyTest adds a real repository
// made with svnadmin and a working copy of it at <root>/Repository/FileStorage, the folder that
// clean-ups repair.

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/xml.h"
#include "tests/support/test_support.h"

namespace brimora::test {

// Runs a program with its arguments (each quoted) and answers what it printed, standard error
// included; adds a test failure when it does not exit with code 0.
std::string RunProgram(const std::vector<std::string>& arguments);

// A path for the real client: one "@" appended when it holds one, so no peg revision is read.
std::string SvnTarget(const std::string& path);

// The client's XML answer, parsed; a test failure when it does not parse.
XmlDocument ParsedXml(const std::string& text);

// The text of every node that `xpath` selects, by the node's "name" attribute.
std::map<std::string, std::string> NamedValues(const XmlDocument& document, const std::string& xpath);
std::map<std::string, std::string> NamedValues(const XmlNode& context, const std::string& xpath);

// The versioned properties of a path, read with the real client.
std::map<std::string, std::string> SvnProperties(const std::string& path);

class SourceControlTest : public testing::Test {
 protected:
  // `rootName` is the name of the folder below the temporary folder that holds everything.
  explicit SourceControlTest(std::string rootName = "installation");
  ~SourceControlTest() override;

  // Everything the trace log received so far; stops the log to put every line on disk.
  std::string TraceLog();

  const std::string& Root() const { return root_; }

 private:
  TempFolder temp_;
  std::string root_;
  std::string savedFolder_;
};

class WorkingCopyTest : public SourceControlTest {
 protected:
  explicit WorkingCopyTest(std::string rootName = "installation");

  // The working copy's folder, and a path inside it.
  const std::string& WorkingCopy() const { return workingCopy_; }
  std::string InWorkingCopy(const std::string& relative) const { return workingCopy_ + "/" + relative; }
  const std::string& RepositoryUrl() const { return url_; }

  // Writes a file below the working copy (folders made as needed) and answers its path.
  std::string MakeFile(const std::string& relative, const std::string& contents);

  // The versioned properties of a path, read with the real client.
  std::map<std::string, std::string> Properties(const std::string& path);
  // The revision properties of the repository's newest revision, its message as "svn:log".
  std::map<std::string, std::string> HeadRevisionProperties();
  // The repository's newest revision number.
  long HeadRevision();
  // What "svn status" prints for the working copy.
  std::string Status();

 private:
  std::string workingCopy_;
  std::string url_;
};

}  // namespace brimora::test
