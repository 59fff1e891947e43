// What an installer program carries beside its product package: the
// package's file table and the SHA-256 of its bytes as stored.
#pragma once

#include <cstdint>
#include <vector>

#include "lib/stream.h"
#include "package/setup_package.h"
#include "platform/crypto.h"

inline std::vector<uint8_t> CarriedTable(const std::vector<uint8_t>& package) {
  TMemoryStream source(package);
  TSetupPackageReader reader(source);
  TMemoryStream table;
  reader.FileTable().SaveToStream(table);
  return table.Bytes();
}

inline std::vector<uint8_t> CarriedDigest(const std::vector<uint8_t>& bytes) {
  platform::THash sha(platform::THashAlgorithm::Sha256);
  sha.Update(bytes.data(), bytes.size());
  return sha.Final();
}
