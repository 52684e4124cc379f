#pragma once
// A uniquely named temporary file in the system's temporary folder.

#include <string>

namespace brimora::Common {

// Reserves a new, empty file named <prefix><8 hex digits>.tmp (mode 0600) in the system's
// temporary folder ($TMPDIR or /tmp; "./Temp" when the system names none, created as needed).
// Only the first three characters of the prefix are used, in lower case (ASCII letters), so
// the whole name is lower case.
// - Without an extension, Path() is that file and ReservedName() is empty.
// - With an extension (a "." is put in front unless it starts with one), ReservedName() is
//   the ".tmp" file, which stays on disk to keep the name taken, and Path() is the same name
//   with the extension instead of ".tmp"; a file already there is deleted. Nothing is created
//   at Path().
// When no file could be made, Path() and ReservedName() are empty.
// With deleteOnDestruction, the destructor deletes Path() and then ReservedName().
//
// Not copyable. Not thread-safe: one owner uses it.
class CTempFile {
 public:
  CTempFile(const std::string& extension, const std::string& prefix, bool deleteOnDestruction);
  virtual ~CTempFile();

  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;

  const std::string& Path() const;
  const std::string& ReservedName() const;

 private:
  std::string path_;
  std::string reservedName_;
  bool deleteOnDestruction_;
};

}  // namespace brimora::Common
