// MD5 through libcrypto.
#include <openssl/evp.h>

#include "lib/exceptions.h"
#include "platform/crypto.h"

namespace platform {

struct TMd5::State {
  EVP_MD_CTX* ctx = nullptr;
};

TMd5::TMd5() : state_(std::make_unique<State>()) {
  state_->ctx = EVP_MD_CTX_new();
  if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) != 1)
    throw EInvalidOperation(u"MD5 is not available");
}

TMd5::~TMd5() {
  EVP_MD_CTX_free(state_->ctx);
}

void TMd5::Update(const void* data, size_t size) {
  if (size) EVP_DigestUpdate(state_->ctx, data, size);
}

TMd5Digest TMd5::Final() {
  TMd5Digest digest{};
  unsigned int n = 0;
  EVP_DigestFinal_ex(state_->ctx, digest.data(), &n);
  EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr);
  return digest;
}

}  // namespace platform
