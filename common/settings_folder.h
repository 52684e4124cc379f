#pragma once
// The installation's INI file "config.ini" and the settings folder it names.
//
// Thread safety: both functions may be called from any thread. Readers of one INI file are
// serialised across processes by a named lock (see ReadProfileString).

#include <cstddef>
#include <string>
#include <string_view>

namespace brimora {

// Results of ReadProfileString.
constexpr int kProfileRead = 0;         // the file was read, whether or not the key was found
constexpr int kProfileUnavailable = 7;  // the file could not be opened or its lock not taken

// The key of config.ini that names the settings folder, and its default.
inline constexpr const char* kSettingsFolderKey = "BrimoraSettingsFolder";
inline constexpr const char* kDefaultSettingsFolder = "../LornithData/Settings";

// Reads the value of `key` from the INI file `iniPath` into `out`.
//
// `out` first receives the default; it receives the value only when a matching line is found.
// `size` is the buffer size of the caller in characters: at most size - 1 characters (code
// points) are kept, never cut inside a UTF-8 sequence. An empty key returns kProfileRead at
// once without touching the file.
//
// The path "/vantrel.app/config.ini" (any case) stands for "../config.ini". A path without "/"
// is taken relative to the working folder. Before the file is opened, the lock named after the
// upper-case file name ("CONFIG.INI") is awaited for at most 1,000 ms.
//
// With a `section` (given with its brackets, e.g. "[Settings]") only the lines between that
// header and the next line beginning with "[" are searched; without one, the whole file is.
// A line matches when, ignoring white space everywhere and letter case, it begins with the key
// followed by "="; the first match wins. The value is what follows that "=", without leading
// and trailing white space. Lines are read in pieces of at most 8,191 bytes.
int ReadProfileString(std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::string& out, std::size_t size,
                      const std::string& iniPath);

// The settings folder of the installation at `installPath`: the value of BrimoraSettingsFolder
// in installPath + "/config.ini" (default "../LornithData/Settings"). A value beginning with
// ".." is appended to the install path ("<install>/../LornithData/Settings"); any other value
// is returned unchanged.
std::string GetSettingsFolder(const std::string& installPath);

// The settings file's name, in the settings folder or directly in the install path.
inline constexpr const char* kSettingsFileName = "Brimora.xml";

// The settings folder of installPath (from its config.ini) followed by "/Brimora.xml". With
// checkExists, when nothing of that name exists there, installPath + "/Brimora.xml" instead.
std::string GetSettingsFilePath(const std::string& installPath, bool checkExists);

}  // namespace brimora
