// The package checksum: CRC-32 with the polynomial 0x04C11DB7 processed
// most-significant bit first (not reflected), initial value 0, no final XOR.
// Check values: 0x89A1897F over "123456789", 0x2C17398C over "abc".
// This is not the reflected CRC-32 of zlib or PNG.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a checksum over more bytes; start with crc = 0.
uint32_t UpdatePackageCrc(uint32_t crc, const void* data, size_t size);

inline uint32_t PackageCrc32(const void* data, size_t size) {
  return UpdatePackageCrc(0, data, size);
}
