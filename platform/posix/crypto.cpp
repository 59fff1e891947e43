// Digests through libcrypto.
#include <openssl/evp.h>

#include "lib/exceptions.h"
#include "platform/crypto.h"

namespace platform {

struct THash::State {
  EVP_MD_CTX* ctx = nullptr;
  const EVP_MD* md = nullptr;
};

THash::THash(THashAlgorithm algorithm) : state_(std::make_unique<State>()) {
  state_->md = algorithm == THashAlgorithm::Sha256 ? EVP_sha256() : EVP_md5();
  state_->ctx = EVP_MD_CTX_new();
  if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, state_->md, nullptr) != 1) {
    EVP_MD_CTX_free(state_->ctx);
    throw EInvalidOperation(algorithm == THashAlgorithm::Sha256 ? u"SHA-256 is not available"
                                                                : u"MD5 is not available");
  }
}

THash::~THash() { EVP_MD_CTX_free(state_->ctx); }

void THash::Update(const void* data, size_t size) {
  if (size) EVP_DigestUpdate(state_->ctx, data, size);
}

std::vector<uint8_t> THash::Final() {
  std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_DigestFinal_ex(state_->ctx, digest.data(), &n);
  digest.resize(n);
  EVP_DigestInit_ex(state_->ctx, state_->md, nullptr);
  return digest;
}

}  // namespace platform
