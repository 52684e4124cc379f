#pragma once
// The versioned properties that every check-in writes on its path (a version counter; the
// values of docflow files and module archives), and the revision properties it hands to the
// commit.
//
// Kinds of file are decided on the absolute, normalised path: a docflow instance is a file
// named "*.xml" (any case) below a folder ".../docflows/instances/", a docflow template one
// below ".../docflows/templates/" (instances win when both hold), a module archive a "*.zip"
// below ".../modules/" or ".../modules_development/"; folder names in any case. A folder is
// never one of them.
//
// Thread safety: every function may be called from any thread. IncrementVersion, GetSaveAction
// and SetDocflowProperties hold RepositoryLock() across all of their reading and writing.

#include <map>
#include <string>

namespace brimora {

// Further revision properties of one commit (the module values), name to value.
using RevisionPropertyMap = std::map<std::string, std::string>;

enum class CheckinFileKind { kOther, kDocflowInstance, kDocflowTemplate, kModuleArchive };

CheckinFileKind KindOfCheckinFile(const std::string& path);

// Reads "version" (missing reads as 0) and writes it back plus 1, or 1 when it was not above 0.
// True when both the read and the write succeeded.
bool IncrementVersion(const std::string& path);

// For a docflow instance: the text of "/Root/save_action", except that an empty text or
// "undefined" becomes "create" when the commit message is exactly "Created". Empty for every
// other kind of file, and for an instance that cannot be read.
std::string GetSaveAction(const std::string& path, const std::string& message);

// For a module archive: extracts it flat into a fresh private temporary folder and sets
// "module_class", "module_prefix", "module_version" and "module_glevel" of `properties` from
// "/doc/module/..." of its "module.xml" (each empty when missing). Adds nothing when the
// archive cannot be extracted or holds no readable "module.xml". A relative path starting with
// ".." is taken relative to the folder of the running program.
void ReadModuleProperties(const std::string& path, RevisionPropertyMap& properties);

// Writes the docflow values of an instance or template as versioned properties, then every
// entry of `properties`. The client's answers are not examined, and a file that cannot be read
// skips the remaining steps: always true, so the commit is never failed by these values.
bool SetDocflowProperties(const std::string& path, const RevisionPropertyMap& properties);

}  // namespace brimora
