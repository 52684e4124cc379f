#include "common/sha256.h"

#include <openssl/evp.h>

#include <new>

namespace brimora {
namespace {

EVP_MD_CTX* Context(void* context) { return static_cast<EVP_MD_CTX*>(context); }

}  // namespace

CSha256::CSha256() : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr || EVP_DigestInit_ex(Context(context_), EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

CSha256::~CSha256() { EVP_MD_CTX_free(Context(context_)); }

void CSha256::Update(std::string_view data) { EVP_DigestUpdate(Context(context_), data.data(), data.size()); }

std::string CSha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(Context(context_), digest, &length);
  EVP_DigestInit_ex(Context(context_), EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xF];
  }
  return hex;
}

std::string Sha256Hex(std::string_view data) {
  CSha256 hash;
  hash.Update(data);
  return hash.HexDigest();
}

}  // namespace brimora
