// Message digests: MD5 (CryptoAPI in the product, libcrypto natively).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "lib/stream.h"
#include "lib/strings.h"

namespace platform {

using TMd5Digest = std::array<uint8_t, 16>;

// Incremental MD5. Raises EInvalidOperation when the system cannot provide it.
class TMd5 {
 public:
  TMd5();
  ~TMd5();
  TMd5(const TMd5&) = delete;
  TMd5& operator=(const TMd5&) = delete;
  void Update(const void* data, size_t size);
  // The digest of everything added; the object is reset afterwards.
  TMd5Digest Final();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

TMd5Digest Md5(const void* data, size_t size);
// From the stream's current position to its end, in 1 MiB chunks.
TMd5Digest Md5(TStream& stream);
// Lower-case hexadecimal form.
String DigestToHex(const TMd5Digest& digest);

}  // namespace platform
