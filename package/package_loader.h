// A package decoded on a thread of its own while the program goes on.
//
// A package's file table sits at the end of its compressed data, so nothing
// can be looked up in it before all of it is decoded. The loader is given
// the table that was written beside the package when the program was built:
// lookups of names are answered from that one at once, and only the bytes of
// a file wait for the decoding. When decoding ends, the package's own table
// must be that same table (names, offsets and sizes), or the package counts
// as corrupted.
#pragma once

#include <functional>
#include <memory>

#include "lib/background_job.h"
#include "lib/stream.h"
#include "package/setup_package.h"

class TSetupPackageLoader {
 public:
  // Starts decoding the source (from its position; owned, used only by the
  // decoding thread). knownTable is the table carried beside the package.
  TSetupPackageLoader(std::unique_ptr<TStream> source,
                      std::unique_ptr<TSetupPackageFileTable> knownTable,
                      StringView keyText = kSetupPackageKey);
  TSetupPackageLoader(const TSetupPackageLoader&) = delete;
  TSetupPackageLoader& operator=(const TSetupPackageLoader&) = delete;
  // Stops a decoding still under way and waits for its thread.
  ~TSetupPackageLoader();

  // Whether the package has a file of that name (as the reader's Exists),
  // without waiting.
  bool Exists(StringView name) const { return known_->Find(name) != nullptr; }
  // The decoded and verified package: waits for the decoding, and raises
  // its failure (the same one on every call) when it failed.
  TSetupPackageReader& Get();
  // Waits for the decoding until it has ended or stopped() says to give up
  // (asked every few milliseconds): false when given up; raises the
  // decoding's failure.
  bool Wait(const std::function<bool()>& stopped);
  // Whether the decoding has ended with a failure, without waiting.
  bool Failed();

 private:
  void Run(TStream& source, const String& keyText, const std::atomic<bool>& stop);

  std::unique_ptr<TSetupPackageFileTable> known_;
  std::unique_ptr<TSetupPackageReader> reader_;
  // Last: it is stopped and waited for before the rest goes.
  std::unique_ptr<TBackgroundJob> job_;
};
