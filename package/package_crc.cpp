#include "package/package_crc.h"

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

// Slicing by eight: kTables.t[0] is the classic byte table, t[k][i] is the
// register after byte i followed by k zero bytes.
struct TCrcTables {
  uint32_t t[8][256];
};

constexpr TCrcTables MakeTables() {
  TCrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : (c << 1);
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

// Eight bytes into the register.
inline uint32_t Step8(uint32_t crc, const uint8_t* p) {
  const auto& t = kTables.t;
  const uint32_t one = crc ^ LoadBE32(p);
  const uint32_t two = LoadBE32(p + 4);
  return t[7][one >> 24] ^ t[6][(one >> 16) & 0xFF] ^ t[5][(one >> 8) & 0xFF] ^ t[4][one & 0xFF] ^
         t[3][two >> 24] ^ t[2][(two >> 16) & 0xFF] ^ t[1][(two >> 8) & 0xFF] ^ t[0][two & 0xFF];
}

uint32_t Serial(uint32_t crc, const uint8_t* p, size_t size) {
  for (; size >= 8; p += 8, size -= 8) crc = Step8(crc, p);
  while (size-- > 0) crc = (crc << 8) ^ kTables.t[0][(crc >> 24) ^ *p++];
  return crc;
}

// Polynomial product modulo the generator (bit 31 is x^31).
uint32_t MultiplyMod(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int i = 31; i >= 0; --i) {
    r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
    if ((b >> i) & 1) r ^= a;
  }
  return r;
}

// x^(8 * bytes) modulo the generator: what a register is multiplied by when
// that many more bytes follow.
uint32_t ShiftFactor(size_t bytes) {
  uint32_t result = 1, base = 0x100;  // x^0, x^8
  for (; bytes > 0; bytes >>= 1) {
    if (bytes & 1) result = MultiplyMod(result, base);
    base = MultiplyMod(base, base);
  }
  return result;
}

}  // namespace

// Large buffers run as three interleaved lanes, which keeps the processor's
// load units busy instead of waiting on one chain of table lookups. The
// checksum is linear (initial value 0, no final XOR), so the lanes combine:
// crc(A B) = crc(A) * x^(8 |B|) + crc(B).
uint32_t UpdatePackageCrc(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  constexpr size_t kMinLanes = 1 << 12;
  if (size < kMinLanes) return Serial(crc, p, size);
  const size_t lane = size / 3 / 8 * 8;
  const uint8_t* a = p;
  const uint8_t* b = p + lane;
  const uint8_t* c = p + 2 * lane;
  uint32_t ca = crc, cb = 0, cc = 0;
  for (size_t i = 0; i < lane; i += 8) {
    ca = Step8(ca, a + i);
    cb = Step8(cb, b + i);
    cc = Step8(cc, c + i);
  }
  const uint32_t shift = ShiftFactor(lane);
  crc = MultiplyMod(MultiplyMod(ca, shift) ^ cb, shift) ^ cc;
  return Serial(crc, p + 3 * lane, size - 3 * lane);
}
