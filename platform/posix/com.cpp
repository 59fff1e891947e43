// COM and GUIDs on the stand-in: COM needs nothing; GUIDs are random
// (version 4), formatted the way Windows writes them.
#include <cstdint>
#include <random>

#include "platform/com.h"

namespace platform {

TComScope::TComScope() {
  initialized_ = true;
}

TComScope::~TComScope() = default;

bool CreateGuidText(String& text) {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  uint8_t bytes[16];
  for (int i = 0; i < 16; i += 8) {
    const uint64_t r = generator();
    for (int j = 0; j < 8; ++j) bytes[i + j] = static_cast<uint8_t>(r >> (8 * j));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char16_t kHex[] = u"0123456789ABCDEF";
  text = u"{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += u'-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  text += u'}';
  return true;
}

}  // namespace platform
