#include "platform/crypto.h"

#include <algorithm>

namespace platform {

namespace {

TMd5Digest ToMd5Digest(const std::vector<uint8_t>& bytes) {
  TMd5Digest digest{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), digest.size()), digest.begin());
  return digest;
}

}  // namespace

bool HashStream(THash& hash, TStream& stream, const std::atomic<bool>* stop) {
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    if (stop && *stop) return false;
    const int64_t n = stream.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (n <= 0) return true;
    hash.Update(buffer.data(), static_cast<size_t>(n));
  }
}

TMd5Digest TMd5::Final() { return ToMd5Digest(hash_.Final()); }

TMd5Digest Md5(const void* data, size_t size) {
  TMd5 md5;
  md5.Update(data, size);
  return md5.Final();
}

TMd5Digest Md5(TStream& stream) {
  THash md5(THashAlgorithm::Md5);
  HashStream(md5, stream);
  return ToMd5Digest(md5.Final());
}

String DigestToHex(const uint8_t* digest, size_t size) {
  static const char16_t kHex[] = u"0123456789abcdef";
  String s;
  for (size_t i = 0; i < size; ++i) {
    s.push_back(kHex[digest[i] >> 4]);
    s.push_back(kHex[digest[i] & 15]);
  }
  return s;
}

String DigestToHex(const TMd5Digest& digest) { return DigestToHex(digest.data(), digest.size()); }

}  // namespace platform
