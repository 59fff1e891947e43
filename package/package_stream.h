// A package's files handed out while it is being decoded, without holding
// its payload: the decoder runs on a thread of its own and the caller's
// thread takes the files, in stored order, as they come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "lib/stream.h"
#include "lib/strings.h"
#include "package/setup_package.h"

// Receives a package's files in stored order.
class ISetupPackageFileSink {
 public:
  virtual ~ISetupPackageFileSink() = default;
  // The file at that index of the table is next: true when its bytes are
  // wanted (FileData for each piece, then EndFile); false skips it.
  virtual bool BeginFile(int index) = 0;
  virtual void FileData(const uint8_t* data, size_t size) = 0;
  virtual void EndFile() = 0;
};

struct TSetupPackageStreamOptions {
  // How many payload bytes to decode; -1 for all of them, which also runs
  // the final checks. Only the files that end within them are handed out.
  int64_t Through = -1;
  // Told the payload bytes handed out so far and the payload's length.
  std::function<void(int64_t done, int64_t total)> OnProgress;
  // Asked after every piece: true stops the decoding.
  std::function<bool()> Stopped;
};

// Whether the table's files lie back to back from the payload's start, in
// the order listed (as the builder writes them): only such a package can be
// handed out while it is decoded. An empty table cannot.
bool CanStreamSetupPackage(const TSetupPackageFileTable& table);

// Decodes the package at the source's position (enciphered with keyText)
// and hands the files of table, which CanStreamSetupPackage accepts and
// which is the table the package is known to carry, to sink. Decoding every
// byte ends with the checks of a package: its length, its checksum, and its
// own table, which must be this table byte for byte; a failure raises
// ESetupPackageReadError after the sink got the files (whoever wrote them
// undoes that). A header whose length disagrees with the table raises it
// before anything is handed out. "LZMA Error (%d)" as for the reader; what
// the sink raises stops the decoding and passes through. False when
// stopped, or when a partial decoding (Through) ended short.
bool StreamSetupPackage(TStream& source, const TSetupPackageFileTable& table, StringView keyText,
                        ISetupPackageFileSink& sink, const TSetupPackageStreamOptions& options = {});

// For tests: every later streaming flips the byte at this payload offset
// after decoding it, as a fault of the decoder or of memory would; -1 for
// none.
void SetSetupPackageDecodeFaultForTesting(int64_t offset);
