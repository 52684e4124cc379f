#pragma once
// Copies a file or a whole folder tree into another folder without ever replacing a file that
// is already there: a taken name is written as "Copy of <name>", then "Copy (1) of <name>",
// "Copy (2) of <name>" and so on. Also deletes a file or a folder tree, clearing read-only
// permission on the way. Both walk through common/tree_walk.h, so neither ever follows a link
// below the paths it was given.
//
// One engine serves one operation on one thread; it takes no locks. The error fields keep the
// last error until the engine is destroyed.

#include <cstdint>
#include <string>
#include <vector>

#include "common/tree_walk.h"
#include "platform/files.h"

namespace brimora {

// The error that stops a copy or a delete. Thrown and caught inside the engine only.
class CFExeption {
 public:
  // From a system error code: the text is the system's message for it.
  static CFExeption FromCode(int code);
  // The engine's own error: the code is 0.
  static CFExeption FromText(std::string text);
  // A failure with both: a conflict the walk found, with the nearest system code.
  static CFExeption FromTextAndCode(std::string text, int code);

  const std::string& Text() const { return text_; }
  std::uint32_t Code() const { return code_; }

 private:
  CFExeption(std::string text, std::uint32_t code) : text_(std::move(text)), code_(code) {}
  std::string text_;
  std::uint32_t code_;
};

class CFolderCopyEngine {
 public:
  // Copies `source` into `destination`. A folder lands as a folder of its own name inside the
  // destination folder (the name the source path gives it; a path ending in "." or ".." is
  // resolved to its real name first); a file lands inside a destination folder or at a
  // destination file's path (never over it: a taken name gets the next "Copy of" name).
  // Answers true on success and when there is nothing to do (the source folder already lies
  // directly in the destination); false with the error fields set when an error stopped the
  // copy. Files copied before the error stay. The destination folder, and every folder given
  // to LeaveOut, is never entered where it turns up inside the source: a copy into its own
  // subtree leaves that folder out with a level-1 notice and completes.
  bool Copy(const std::string& source, const std::string& destination);

  // Deletes a file, or a folder with everything in it; a link is removed, never followed.
  // A file whose read-only permission cannot be cleared is left (with its folders) and is not
  // an error. Answers false only when a system error stopped the delete.
  bool Delete(const std::string& path);

  // A folder that copies never enter (for example the backup folder of the run).
  void LeaveOut(const platform::FileId& folder) { leaveOut_.push_back(folder); }

  // Chooses the name after `path` in the "Copy of" series (folder part kept).
  static std::string NextCopyName(const std::string& path);

  const std::string& LastErrorText() const { return errorText_; }
  std::uint32_t LastErrorCode() const { return errorCode_; }
  // Where the last error happened and why (path empty for errors that concern the paths given).
  const TreeFailure& LastFailure() const { return failure_; }
  bool UndeletableFileMet() const { return undeletable_; }

 private:
  void CopyProper(const std::string& source, const std::string& destination);
  void CopyFolderInto(const std::string& source, const std::string& destination);
  void CopyFileTo(const std::string& source, const std::string& destinationFolder,
                  const std::string& name);

  std::string errorText_ = "No error";
  std::uint32_t errorCode_ = 0;
  TreeFailure failure_;
  bool undeletable_ = false;
  std::vector<platform::FileId> leaveOut_;
};

}  // namespace brimora
