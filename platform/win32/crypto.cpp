// MD5 through CryptoAPI.
#include <windows.h>

#include <wincrypt.h>

#include "lib/exceptions.h"
#include "platform/crypto.h"

namespace platform {

struct TMd5::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  void NewHash() {
    if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash))
      throw EInvalidOperation(u"MD5 is not available");
  }
};

TMd5::TMd5() : state_(std::make_unique<State>()) {
  if (!CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
    throw EInvalidOperation(u"MD5 is not available");
  try {
    state_->NewHash();
  } catch (...) {
    CryptReleaseContext(state_->provider, 0);
    throw;
  }
}

TMd5::~TMd5() {
  if (state_->hash) CryptDestroyHash(state_->hash);
  CryptReleaseContext(state_->provider, 0);
}

void TMd5::Update(const void* data, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    CryptHashData(state_->hash, p, chunk, 0);
    p += chunk;
    size -= chunk;
  }
}

TMd5Digest TMd5::Final() {
  TMd5Digest digest{};
  DWORD n = static_cast<DWORD>(digest.size());
  CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &n, 0);
  CryptDestroyHash(state_->hash);
  state_->hash = 0;
  state_->NewHash();
  return digest;
}

}  // namespace platform
