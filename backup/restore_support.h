#pragma once
// Path tests of the restore, which reads a backup folder it does not trust and writes into an
// installation that other accounts can write.

#include <string>

#include "platform/files.h"

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

// Creates the folder `path` as a new entry of the installation: it takes the owner and group of
// the folder it is made in and inherits that folder's default access list. Answers 0 or the
// system's error code of the creation.
int CreateInstallationFolder(const std::string& path);

// The installation's rules for a folder `made` in `parent` that is to take the place of the
// entry `replaced` there. Before it is filled (TakePlaceOf), it takes the owner, group and access
// lists of the folder it replaces, or the owner and group of `parent` when there is none, so
// that what is copied into it takes them. Once filled (FinishPlaceOf), it takes the permission
// bits of the folder it replaces (for a new one, those of `source` within
// platform::kInstallableModeBits) and the times of `source`.
int TakePlaceOf(const platform::Folder& parent, const platform::Folder& made, const std::string& replaced);
int FinishPlaceOf(const platform::Folder& parent, const platform::Folder& made, const std::string& replaced,
                  const platform::Folder& source);

}  // namespace brimora
