#include "platform/crypto.h"

namespace platform {

TMd5Digest Md5(const void* data, size_t size) {
  TMd5 md5;
  md5.Update(data, size);
  return md5.Final();
}

TMd5Digest Md5(TStream& stream) {
  TMd5 md5;
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    const int64_t n = stream.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (n <= 0) break;
    md5.Update(buffer.data(), static_cast<size_t>(n));
  }
  return md5.Final();
}

String DigestToHex(const TMd5Digest& digest) {
  static const char16_t kHex[] = u"0123456789abcdef";
  String s;
  for (uint8_t b : digest) {
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 15]);
  }
  return s;
}

}  // namespace platform
