#pragma once
// The restore's rules for the FileStorage working copy, which comes from a backup folder the
// restore does not trust: the Subversion client works on it only when it belongs to the
// installation's own repository and is never run through a link in it, and the restore writes,
// adds and commits only paths that show no local change it did not make itself.
//
// Used by the restore run on the main thread only.

#include <set>
#include <string>

namespace brimora {

class CRestoreWorkingCopy {
 public:
  // For the installation at `root`, whose working copy is `workingCopy` and whose repository is
  // `repositoryUrl`; forgets every earlier decision.
  void Start(const std::string& root, const std::string& workingCopy, const std::string& repositoryUrl);

  // Decides whether the client may work on the installation's working copy in this run, from
  // the copy at `workingCopy` (a staged copy that is to take its place, or the working copy
  // itself): no link in its place or in place of its ".svn" folder, upgraded ("svn upgrade" is
  // local: a working copy of an older format answers nothing else), and the root URL and UUID
  // of its repository those of the installation's. Otherwise a level-0 line, naming the working
  // copy as `shownAs`, says why, and false.
  bool Check(const std::string& workingCopy, const std::string& shownAs);

  // Whether the client may be handed `path` of the installation's working copy: the working
  // copy passed Check (run on the working copy in place when no copy was checked before) and no
  // link stands on the way to `path` (a level-0 line when one does).
  bool ClientMayWorkOn(const std::string& path);

  // Whether the restore may write or add `path`: the client may work on it, and "svn status"
  // shows no change there, or only a missing entry, or a change this run made (Changed).
  // Otherwise a level-0 line names the path and the change.
  bool MayChange(const std::string& path);
  // Records that this run wrote, made or added `path`.
  void Changed(const std::string& path) { changed_.insert(path); }

 private:
  enum class Trust { kUnchecked, kTrusted, kRefused };
  std::string root_;
  std::string workingCopy_;
  std::string repositoryUrl_;
  Trust trust_ = Trust::kUnchecked;
  std::set<std::string> changed_;
};

}  // namespace brimora
