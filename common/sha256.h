#pragma once
// SHA-256 digests, computed by OpenSSL's libcrypto (which uses the processor's SHA instructions
// where it has them).
//
// Thread safety: one object must not be used by two threads at once; objects are independent.

#include <cstddef>
#include <string>
#include <string_view>

namespace brimora {

class CSha256 {
 public:
  CSha256();
  ~CSha256();
  CSha256(const CSha256&) = delete;
  CSha256& operator=(const CSha256&) = delete;

  void Update(std::string_view data);
  // The digest of everything given so far, as 64 lower-case hex digits. The object starts over.
  std::string HexDigest();

 private:
  void* context_;  // EVP_MD_CTX, kept out of this header
};

// The digest of one text, as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view data);

}  // namespace brimora
