#pragma once
// Path tests of the restore, which reads a backup folder it does not trust and writes into an
// installation that other accounts can write.

#include <string>

namespace brimora {

// Examines the components of `path` that follow `base`, without following links. Answers ELOOP
// when one of them is a symbolic link (the last one only when lastToo), ENOTDIR when one in a
// folder's place is something else, and 0 otherwise. A missing component ends the test with 0:
// what is missing cannot lead anywhere. A path that does not lie below `base`, and the part of
// one from a ".." component on, are configured places outside the tree and are not examined.
int LinkOnTheWay(const std::string& base, const std::string& path, bool lastToo);

// True when `path` is the folder `folder`, or lies inside it, where they really are (links and
// ".." resolved, device and inode compared). A `folder` that is a link, or is missing, holds
// nothing: deleting it removes at most the link.
bool LiesInside(const std::string& path, const std::string& folder);

// Whether the Subversion client may be handed `path` of the working copy `workingCopy`, both
// below `root`: no link on the way from `root` to `path` (the path itself included) and none in
// place of the working copy's administrative folder. The client follows links, so through one
// it would change another working copy and commit to that one's repository. When it may not, a
// level-0 line names the path.
bool ClientMayWorkOn(const std::string& root, const std::string& workingCopy, const std::string& path);

}  // namespace brimora
