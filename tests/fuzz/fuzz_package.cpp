// The package reader on hostile input. The first byte picks how the rest is
// used, so that the fuzzer gets past the checksum and the cipher:
//   0 mod 3: the rest is a package file as it is;
//   1 mod 3: the rest is an uncompressed payload (file data and table),
//            wrapped into a well-formed package;
//   2 mod 3: three bytes of claimed length, then raw compressed data
//            (properties first) behind a header with the checksum of what
//            that data decodes to.
// Every readable package must hand out every entry within its payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "lib/exceptions.h"
#include "lib/stream.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"
#include "package/package_stream.h"
#include "package/setup_package.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void PutLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> WrapPayload(const uint8_t* data, size_t size) {
  TMemoryStream out;
  std::vector<uint8_t> header = {'I', 'P', 'K', '5'};
  PutLE32(header, PackageCrc32(data, size));
  PutLE32(header, static_cast<uint32_t>(size));
  out.WriteBuffer(header.data(), 12);
  TSetupKey key;
  key.Initialize(kSetupPackageKey);
  TMemoryStream source(std::vector<uint8_t>(data, data + size));
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &out;
  streams.DestPreprocessor = [&key](uint8_t* b, size_t n) { key.Apply(b, n); };
  LzmaEncodeStream(streams, 0);
  return out.Bytes();
}

std::vector<uint8_t> WrapCompressed(const uint8_t* data, size_t size) {
  // Three bytes claim an output length of up to 1 MiB; the checksum is that
  // of whatever the data decodes to, so a full decode reaches the table.
  if (size < 3) return {};
  const uint32_t length = data[0] | (data[1] << 8) | ((data[2] & 0x0Fu) << 16);
  data += 3;
  size -= 3;
  TMemoryStream source(std::vector<uint8_t>(data, data + size)), decoded;
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &decoded;
  try {
    LzmaDecodeStream(streams, length);
  } catch (const EInvalidOperation&) {
  }
  std::vector<uint8_t> out = {'I', 'P', 'K', '5'};
  PutLE32(out, PackageCrc32(decoded.Memory(), decoded.Bytes().size()));
  PutLE32(out, length);
  out.insert(out.end(), data, data + size);
  TSetupKey key;
  key.Initialize(kSetupPackageKey);
  key.Apply(out.data() + 12, out.size() - 12);
  return out;
}

// Checks that the files handed out while decoding are the payload's.
class TCheckingSink : public ISetupPackageFileSink {
 public:
  TCheckingSink(const TSetupPackageReader& reader) : reader_(reader) {}
  bool BeginFile(int index) override {
    const auto& item = reader_.FileTable().Items(index);
    at_ = item.Offset;
    end_ = item.Offset + item.Size;
    return index % 2 == 0;
  }
  void FileData(const uint8_t* data, size_t size) override {
    Check(at_ + static_cast<int64_t>(size) <= end_);
    Check(std::memcmp(data, reader_.Payload().data() + at_, size) == 0);
    at_ += static_cast<int64_t>(size);
  }
  void EndFile() override { Check(at_ == end_); }

 private:
  const TSetupPackageReader& reader_;
  int64_t at_ = 0, end_ = 0;
};

// A package that reads whole also streams, with its own table, whole and in
// part.
void Stream(const std::vector<uint8_t>& package, const TSetupPackageReader& reader) {
  if (!CanStreamSetupPackage(reader.FileTable())) return;
  for (const int64_t through : {int64_t{-1}, static_cast<int64_t>(reader.Payload().size() / 2)}) {
    TReadOnlyMemoryStream stream(package.data(), static_cast<int64_t>(package.size()));
    TCheckingSink sink(reader);
    TSetupPackageStreamOptions options;
    options.Through = through;
    Check(StreamSetupPackage(stream, reader.FileTable(), kSetupPackageKey, sink, options));
  }
}

void ReadAndExtract(const std::vector<uint8_t>& package) {
  TReadOnlyMemoryStream stream(package.data(), static_cast<int64_t>(package.size()));
  try {
    TSetupPackageReader reader(stream);
    const int64_t payload = static_cast<int64_t>(reader.Payload().size());
    const auto& table = reader.FileTable();
    for (int i = 0; i < table.Count(); ++i) {
      const auto& item = table.Items(i);
      Check(item.Offset >= 0 && item.Size >= 0 && item.Offset + item.Size <= payload);
      std::unique_ptr<TMemoryStream> file;
      Check(reader.Extract(item.Name, file));
      const TSetupPackageFileTableItem* first = table.Find(item.Name);
      Check(first != nullptr && file->Size() == first->Size && file->Position() == 0);
      Check(first->Size == 0 || std::memcmp(file->Memory(), reader.Payload().data() + first->Offset,
                                            static_cast<size_t>(first->Size)) == 0);
    }
    Stream(package, reader);
  } catch (const ESetupPackageReadError&) {
  } catch (const EReadError&) {
  } catch (const EInvalidOperation& e) {
    // Only the codec's own refusals.
    Check(std::strncmp(e.what(), "LZMA Error (", 12) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int mode = data[0] % 3;
  ++data;
  --size;
  if (mode == 0) {
    ReadAndExtract(std::vector<uint8_t>(data, data + size));
  } else if (mode == 1) {
    ReadAndExtract(WrapPayload(data, size));
  } else {
    ReadAndExtract(WrapCompressed(data, size));
  }
  return 0;
}
