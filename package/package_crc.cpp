#include "package/package_crc.h"

#include <array>

namespace {

// Slicing by eight: kTables[0] is the classic byte table, kTables[k][i] is the
// register after byte i followed by k zero bytes.
struct TCrcTables {
  uint32_t t[8][256];
};

constexpr TCrcTables MakeTables() {
  TCrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
    tables.t[0][i] = c;
  }
  for (int k = 1; k < 8; ++k)
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t prev = tables.t[k - 1][i];
      tables.t[k][i] = (prev << 8) ^ tables.t[0][prev >> 24];
    }
  return tables;
}

constexpr TCrcTables kTables = MakeTables();

inline uint32_t LoadBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace

uint32_t UpdatePackageCrc(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  const auto& t = kTables.t;
  while (size >= 8) {
    const uint32_t one = crc ^ LoadBE32(p);
    const uint32_t two = LoadBE32(p + 4);
    crc = t[7][one >> 24] ^ t[6][(one >> 16) & 0xFF] ^ t[5][(one >> 8) & 0xFF] ^ t[4][one & 0xFF] ^
          t[3][two >> 24] ^ t[2][(two >> 16) & 0xFF] ^ t[1][(two >> 8) & 0xFF] ^ t[0][two & 0xFF];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p++];
  return crc;
}
