#pragma once
// The fixture of the restore's end-to-end tests: an installation (usually the generated sample
// with its real repository and working copy), the damage a restore must repair, and what the
// Subversion client says about the working copy and the repository afterwards.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "e2e/installation.h"

namespace brimora::test {

// One revision of the repository as `svn log` shows it.
struct Commit {
  std::string message;
  std::map<std::string, std::string> revisionProperties;
  bool operator==(const Commit&) const = default;
};
void PrintTo(const Commit& commit, std::ostream* out);

// What differs between two snapshots, one line each: "- path" (gone), "+ path" (new),
// "~ path" (other contents), in path order.
std::vector<std::string> Differences(const std::map<std::string, std::string>& before,
                                     const std::map<std::string, std::string>& after);

// The name of the account running the tests, as the tool reads its own.
std::string AccountName();

class RestoreTest : public ::testing::Test, public TestInstallation {
 public:
  std::string WorkingCopy() const { return Install() + "/Repository/FileStorage"; }

  // Damages every area of the sample installation that a restore puts back: files deleted and
  // edited in Execute, the settings folder, the user folders, the Parts Tracker database (which
  // also gains a file) and the images; documents deleted from the working copy, a stray file
  // and folder added, a file made read-only and "ReportTemplates" removed.
  void DamageSample() const;
  // The working copy's file that DamageSample makes read-only.
  std::string ReadOnlyDocument() const { return WorkingCopy() + "/docflows/templates/Calibration.xml"; }

  // Everything of the site a restore puts back or leaves alone, by path below Site(): the
  // Subversion administrative folders, the repository (which only the check-ins change) and the
  // logs are left out.
  std::map<std::string, std::string> SiteState() const;

  // The working copy's repository, and its newest revision.
  std::string RepositoryUrl() const;
  long HeadRevision() const;
  // The revisions after `revision`, oldest first.
  std::vector<Commit> CommitsAfter(long revision) const;
  // The versioned properties of a path of the working copy.
  std::map<std::string, std::string> Properties(const std::string& path) const;
  // What "svn status" prints for the working copy; with `showUpdates`, compared with the
  // repository's newest revision too.
  std::string Status(bool showUpdates = false) const;
};

}  // namespace brimora::test
