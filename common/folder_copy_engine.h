#pragma once
// Copies a file or a whole folder tree into another folder without ever replacing a file that
// is already there: a taken name is written as "Copy of <name>", then "Copy (1) of <name>",
// "Copy (2) of <name>" and so on. Also deletes a file or a folder tree, clearing read-only
// permission on the way.
//
// One engine serves one operation on one thread; it takes no locks. The error fields keep the
// last error until the engine is destroyed.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace brimora {

// The error that stops a copy or a delete. Thrown and caught inside the engine only.
class CFExeption {
 public:
  // From a system error code: the text is the system's message for it.
  static CFExeption FromCode(int code);
  // The engine's own error: the code is 0.
  static CFExeption FromText(std::string text);

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
  // destination folder; a file lands inside a destination folder or at a destination file's
  // path (never over it: a taken name gets the next "Copy of" name). Answers true on success
  // and when there is nothing to do (the source folder already lies directly in the
  // destination); false with the error fields set when an error stopped the copy. Files copied
  // before the error stay. A copy of a folder into its own subtree stops descending when it
  // reaches itself and answers false, because the tree could not be copied whole.
  bool Copy(const std::string& source, const std::string& destination);

  // Deletes a file, or a folder with everything in it; a link is removed, never followed.
  // A file whose read-only permission cannot be cleared is left (with its folders) and is not
  // an error. Answers false only when a system error stopped the delete.
  bool Delete(const std::string& path);

  // Chooses the name after `path` in the "Copy of" series (folder part kept).
  static std::string NextCopyName(const std::string& path);

  const std::string& LastErrorText() const { return errorText_; }
  std::uint32_t LastErrorCode() const { return errorCode_; }
  bool UndeletableFileMet() const { return undeletable_; }

 private:
  enum class PathKind { kFolder, kFile, kAbsent, kOther };

  PathKind Classify(const std::string& path, int* error) const;
  void CopyProper(const std::string& source, const std::string& destination);
  void CopyEntries(const std::string& sourceFolder, const std::string& destinationFolder,
                   const std::vector<platform::FolderEntry>& entries);
  void CopyOneFile(const std::string& source, const std::string& destination);
  void DeleteProper(const std::string& path);

  std::string errorText_ = "No error";
  std::uint32_t errorCode_ = 0;
  bool undeletable_ = false;
  int subfolderBudget_ = -1;  // how many more subfolders the copy may enter; -1: no limit
  bool budgetExhausted_ = false;  // a subfolder was left out because the budget ran out
};

}  // namespace brimora
