#pragma once
// The installation's INI file "config.ini" and the settings folder it names.
//
// Thread safety: every function may be called from any thread. Readers of one INI file are
// serialised across processes by a lock on the file itself (see ReadProfileString).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brimora {

// Results of ReadProfileString.
constexpr int kProfileRead = 0;         // the file was read, whether or not the key was found
constexpr int kProfileUnavailable = 7;  // the file could not be opened or its lock not taken

// How long ReadProfileString waits for the INI file's lock.
constexpr std::uint32_t kProfileLockTimeoutMs = 1000;

// Level-0 trace-log lines of ReadProfileString ("%s": the INI path). Each says that the default
// is used, so a run never switches to the default settings folder silently. A missing file
// writes none: it is the normal way to leave the default in force.
inline constexpr const char kProfileLockTimedOut[] =
    "ERROR: ReadProfileString - The lock of \"%s\" could not be taken within %u ms; the default "
    "value is used.\n";
inline constexpr const char kProfileNotRegularFile[] =
    "ERROR: ReadProfileString - \"%s\" is a link, folder or other special file, not a regular "
    "file; the default value is used.\n";
inline constexpr const char kProfileOpenFailed[] =
    "ERROR: ReadProfileString - Cannot read \"%s\". Error Code %d - %s; the default value is "
    "used.\n";

// The key of config.ini that names the settings folder, and its default.
inline constexpr const char* kSettingsFolderKey = "BrimoraSettingsFolder";
inline constexpr const char* kDefaultSettingsFolder = "../LornithData/Settings";
// Level 1 ("%s": the INI path): the key is there with an empty value.
inline constexpr const char kSettingsFolderEmpty[] =
    "INFO: GetSettingsFolder - BrimoraSettingsFolder in \"%s\" is empty; the default folder is used.\n";

// Reads the value of `key` from the INI file `iniPath` into `out`.
//
// `out` first receives the default; it receives the value only when a matching line is found.
// `size` is the buffer size of the caller in characters: at most size - 1 characters (code
// points) are kept, never cut inside a UTF-8 sequence. An empty key returns kProfileRead at
// once without touching the file.
//
// The path "/vantrel.app/config.ini" (any case) stands for "../config.ini". A path without "/"
// is taken relative to the working folder. The file is opened read-only, never through a link
// at the path, and read only when it is a regular file and its lock (platform/file_lock.h) is
// taken within kProfileLockTimeoutMs; otherwise the answer is kProfileUnavailable with the
// default, and every such case but a missing file writes one of the lines above.
//
// The lines are searched as FindProfileValue does.
int ReadProfileString(std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::string& out, std::size_t size,
                      const std::string& iniPath);

// Searches the INI text of `file`, read from its current position to its end, for `key`. True,
// with `value` set, when a matching line is found; `value` is untouched otherwise.
//
// A UTF-8 byte-order mark as the very first three bytes read is skipped; anywhere else it is
// text. With a `section` (given with its brackets, e.g. "[Settings]") only the lines between
// that header and the next line beginning with "[" are searched; without one, the whole file is.
// A line matches when, ignoring white space everywhere and letter case, it begins with the key
// followed by "="; the first match wins. The value is what follows that "=", without leading
// and trailing white space, cut to at most size - 1 characters before the trailing white space
// goes (its first character always stays). Lines are read in pieces of at most 8,191 bytes.
bool FindProfileValue(std::FILE* file, std::string_view section, std::string_view key,
                      std::size_t size, std::string& value);

// The settings folder of the installation at `installPath`: the value of BrimoraSettingsFolder
// in installPath + "/config.ini" (default "../LornithData/Settings"). A value beginning with
// ".." is appended to the install path ("<install>/../LornithData/Settings"); any other value
// is returned unchanged. An empty value counts as missing (the default) and writes
// kSettingsFolderEmpty.
std::string GetSettingsFolder(const std::string& installPath);

// The settings file's name, in the settings folder or directly in the install path.
inline constexpr const char* kSettingsFileName = "Brimora.xml";

// The settings folder of installPath (from its config.ini) followed by "/Brimora.xml". With
// checkExists, when that path is missing (PathIsMissing, common/file_utils.h),
// installPath + "/Brimora.xml" instead.
std::string GetSettingsFilePath(const std::string& installPath, bool checkExists);

}  // namespace brimora
