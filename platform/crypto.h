// Message digests: MD5 and SHA-256 (CryptoAPI in the product, libcrypto
// natively).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "lib/stream.h"
#include "lib/strings.h"

namespace platform {

enum class THashAlgorithm { Md5, Sha256 };

// Incremental digest. Raises EInvalidOperation when the system cannot
// provide the algorithm.
class THash {
 public:
  explicit THash(THashAlgorithm algorithm);
  ~THash();
  THash(const THash&) = delete;
  THash& operator=(const THash&) = delete;
  void Update(const void* data, size_t size);
  // The digest of everything added; the object is reset afterwards.
  std::vector<uint8_t> Final();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Adds the stream's bytes from its position to its end, in 1 MiB chunks.
// stop, when given, is looked at before each chunk: false when it was set.
bool HashStream(THash& hash, TStream& stream, const std::atomic<bool>* stop = nullptr);

using TMd5Digest = std::array<uint8_t, 16>;
using TSha256Digest = std::array<uint8_t, 32>;

// Incremental MD5.
class TMd5 {
 public:
  TMd5() : hash_(THashAlgorithm::Md5) {}
  void Update(const void* data, size_t size) { hash_.Update(data, size); }
  TMd5Digest Final();

 private:
  THash hash_;
};

TMd5Digest Md5(const void* data, size_t size);
// From the stream's current position to its end, in 1 MiB chunks.
TMd5Digest Md5(TStream& stream);
// Lower-case hexadecimal form.
String DigestToHex(const TMd5Digest& digest);
String DigestToHex(const uint8_t* digest, size_t size);

}  // namespace platform
