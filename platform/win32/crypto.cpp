// Digests through CryptoAPI (the AES provider, which has SHA-256).
#include <windows.h>

#include <wincrypt.h>

#include "lib/exceptions.h"
#include "platform/crypto.h"

namespace platform {

struct THash::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  ALG_ID algorithm = CALG_MD5;
  DWORD size = 16;
  void NewHash() {
    if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) throw Unavailable();
  }
  EInvalidOperation Unavailable() const {
    return EInvalidOperation(algorithm == CALG_SHA_256 ? u"SHA-256 is not available"
                                                       : u"MD5 is not available");
  }
};

THash::THash(THashAlgorithm algorithm) : state_(std::make_unique<State>()) {
  if (algorithm == THashAlgorithm::Sha256) {
    state_->algorithm = CALG_SHA_256;
    state_->size = 32;
  }
  if (!CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_AES,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
    throw state_->Unavailable();
  try {
    state_->NewHash();
  } catch (...) {
    CryptReleaseContext(state_->provider, 0);
    throw;
  }
}

THash::~THash() {
  if (state_->hash) CryptDestroyHash(state_->hash);
  CryptReleaseContext(state_->provider, 0);
}

void THash::Update(const void* data, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    CryptHashData(state_->hash, p, chunk, 0);
    p += chunk;
    size -= chunk;
  }
}

std::vector<uint8_t> THash::Final() {
  std::vector<uint8_t> digest(state_->size);
  DWORD n = state_->size;
  CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &n, 0);
  digest.resize(n);
  CryptDestroyHash(state_->hash);
  state_->hash = 0;
  state_->NewHash();
  return digest;
}

}  // namespace platform
