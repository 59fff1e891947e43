// The product package of a program that carries its file table and the
// digest of its bytes: checked against the digest at start (on a thread of
// its own, a fraction of the time of decoding it), and then decoded only
// when files are asked for, without ever holding its payload whole. One
// pass over the whole package writes the installation while it decodes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "lib/background_job.h"
#include "lib/stream.h"
#include "lib/strings.h"
#include "package/package_stream.h"
#include "package/setup_package.h"

class TStreamedPackage {
 public:
  // source: the package as stored (owned; read from its start). table: the
  // file table carried beside it, which CanStreamSetupPackage accepts.
  // digest: the SHA-256 of the source's bytes.
  TStreamedPackage(std::unique_ptr<TStream> source, std::unique_ptr<TSetupPackageFileTable> table,
                   std::vector<uint8_t> digest, StringView keyText = kSetupPackageKey);
  TStreamedPackage(const TStreamedPackage&) = delete;
  TStreamedPackage& operator=(const TStreamedPackage&) = delete;
  ~TStreamedPackage();

  const TSetupPackageFileTable& FileTable() const { return *table_; }
  bool Exists(StringView name) const { return table_->Find(name) != nullptr; }

  // Waits for the check of the digest (as TBackgroundJob::Wait): a package
  // whose bytes differ from those the program was built with raises
  // ESetupPackageReadError "Package was corrupted".
  bool WaitVerified(const std::function<bool()>& stopped = nullptr);
  bool Failed();

  // The bytes of a file of the table, valid as long as the package: kept
  // from an earlier pass, or decoded now up to the file's end. Waits for the
  // check first and raises its failure.
  const std::vector<uint8_t>& FileBytes(const TSetupPackageFileTableItem& item);

  // One pass over the whole package, with its final checks (see
  // StreamSetupPackage): the files the sink does not take are kept for
  // FileBytes while they are small. Waits for the check first.
  bool Stream(ISetupPackageFileSink& sink, const TSetupPackageStreamOptions& options);

 private:
  class TKeepingSink;
  int IndexOf(const TSetupPackageFileTableItem& item) const;

  std::unique_ptr<TStream> source_;
  std::unique_ptr<TSetupPackageFileTable> table_;
  String key_;
  std::mutex passLock_;  // one pass over the source at a time
  std::mutex keptLock_;
  std::map<int, std::unique_ptr<std::vector<uint8_t>>> kept_;
  int64_t keptBytes_ = 0;
  // Last: it is stopped and waited for before the rest goes.
  std::unique_ptr<TBackgroundJob> check_;
};
