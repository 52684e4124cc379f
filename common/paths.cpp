#include "common/paths.h"

namespace brimora {

std::string WithoutTrailingSeparators(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::string LastComponent(std::string_view path) {
  const std::string trimmed = WithoutTrailingSeparators(path);
  if (trimmed == "/") return {};
  return NameAfterLastSeparator(trimmed);
}

std::string NameAfterLastSeparator(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ParentFolder(std::string_view path) {
  const std::string trimmed = WithoutTrailingSeparators(path);
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace brimora
