// The file URL conversion on any text.

#include "common/file_url.h"
#include "fuzz/fuzz_target.h"

BRIMORA_FUZZ_TARGET {
  std::string path = "untouched";
  if (!brimora::FileUrlToPath(input, path)) {
    Check(path == "untouched", "a failed conversion leaves the path alone");
    return;
  }
  Check(path.find('\0') == std::string::npos, "a converted path holds no NUL byte");
  Check(!path.empty() && path[0] == '/', "a converted path is absolute");
}
