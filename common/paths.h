#pragma once
// Parts of paths, as plain text: no file system access. The separator is "/"; a backslash is an
// ordinary character of a name. Every function is pure and may be called from any thread.

#include <string>
#include <string_view>

namespace brimora {

// The path without separators at its end ("/" itself stays "/").
std::string WithoutTrailingSeparators(std::string_view path);

// The last component, separators at the end ignored: "/a/b/" gives "b"; "/" and "" give "".
std::string LastComponent(std::string_view path);

// The text after the last "/" (the whole path when it has none): "/a/b" gives "b", "/a/" gives "".
std::string NameAfterLastSeparator(std::string_view path);

// The folder that holds the last component, separators at the end ignored: "/a/b" gives "/a",
// "/a" gives "/", "a" gives ".".
std::string ParentFolder(std::string_view path);

// folder + "/" + name, without doubling a separator that ends the folder.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace brimora
