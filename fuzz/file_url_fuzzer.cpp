// The file URL conversion on any text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_url.h"
#include "fuzz/fuzz_check.h"

using brimora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const std::string untouched = "untouched";
  std::string path = untouched;
  if (!brimora::FileUrlToPath(url, path)) {
    Check(path == untouched, "a failed conversion leaves the path alone");
    return 0;
  }
  Check(path.find('\0') == std::string::npos, "a converted path holds no NUL byte");
  Check(!path.empty() && path[0] == '/', "a converted path is absolute");
  return 0;
}
