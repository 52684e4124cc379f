#pragma once
// Extracting archives with the external archiver (7-Zip).
//
// Thread safety: both functions may be called from any thread, as long as no other thread
// changes the working folder meanwhile.

#include <string>

namespace brimora {

// The archiver: an executable "7z" in the working folder, else the first of "7z", "7zz" and
// "7za" on PATH, else "7z" in the working folder (so that running it fails with a clear error).
// Decided by the first call and kept for the life of the process.
std::string SevenZipPath();

// Extracts `archive` with the archiver, the destination being the archiver's working folder.
// - A missing archive answers false.
// - With a destination: an existing folder is emptied first (DeleteFolder) when emptyFirst is
//   set; a missing or just emptied folder is created with CreateFolders. A failure of either
//   answers false. An existing folder without emptyFirst is used as it is.
// - Without a destination the archive's own folder is used.
// - `command` is the archiver's command word and options; by default "e" (extract every entry
//   into the destination, without the stored folders). "-y" answers every question with yes.
// The archiver runs through CurrentCommandRunner(), with at most 600 seconds and standard
// error in the capture. Answers true only when it ran to its end and exited with code 0.
bool ExtractArchive(const std::string& archive, const std::string& destination,
                    bool emptyFirst, const std::string& command = {});

}  // namespace brimora
