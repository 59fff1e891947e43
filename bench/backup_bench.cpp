// Backup archive benchmark: the preparation step's archive writer
// (TSetupBackupArchive, Deflate through libzip) against "zip -r -6" on the
// same tree, measured in the same run, as ratios of time and size.
//
// The tree stands for a player installation with user data: a reproducible
// payload of text, machine code and already-compressed files (about 40 MB in
// 1,000 files by default). Both writers run alternately, each first once to
// warm the file cache; the median of the runs counts.
//
// usage: backup_bench [--seed N] [--files N] [--megabytes N] [--runs N]
//                     [--zip PATH] [--workdir DIR] [--keep 1]
#include <sys/stat.h>

#include "bench/bench_payload.h"
#include "lib/strings.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/posix/standin.h"
#include "platform/system_info.h"
#include "product/setup_backup_archive.h"
#include "product/setup_helper.h"

using namespace bench;

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

uint64_t FileSize(const std::filesystem::path& p) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(p, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

int main(int argc, char** argv) {
  platform::Initialize();
  TOptions options{.files = 1000,
                   .megabytes = 40,
                   .workdir = std::filesystem::temp_directory_path() / "mivo-backup-bench"};
  std::string zip = "zip";
  if (!ParseOptions(argc, argv, options, {{"--zip", &zip}})) return 2;
  const auto& [seed, files, runs, megabytes, workdir, keep] = options;

  // The tree on drive D: of the stand-in: D:\Mivo\ is the installation.
  std::filesystem::remove_all(workdir);
  const std::filesystem::path drive = workdir / "drive", tree = drive / "Mivo";
  std::filesystem::create_directories(tree);
  TGenerator generator(seed);
  uint64_t payloadBytes = 0;
  for (const TGenerated& g : generator.Payload(files, megabytes)) {
    std::string rel = Utf16ToUtf8(g.name);
    std::replace(rel.begin(), rel.end(), '\\', '/');
    const std::filesystem::path p = tree / rel;
    std::filesystem::create_directories(p.parent_path());
    WriteFile(p, g.data.data(), g.data.size());
    payloadBytes += g.data.size();
  }
  platform::standin::MapDrive(u'D', drive.string(), false);

  TSetupFileList list;
  list.AddFolder(u"D:\\Mivo\\", u"D:\\Mivo\\!Backup\\", u"Program\\");
  std::vector<uint64_t> sizes;
  for (int i = 0; i < list.Count(); ++i) {
    uint64_t size = 0;
    int64_t time = 0;
    platform::FileSizeAndTime(list.Items(i).FileName, size, time);
    sizes.push_back(size);
  }
  const String ours = u"D:\\ours.zip";
  const std::filesystem::path oursHost = drive / "ours.zip", peerHost = workdir / "peer.zip";

  std::vector<double> oursTimes, peerTimes;
  for (int run = 0; run <= runs; ++run) {
    const auto start = Clock::now();
    TSetupBackupArchive::Write(ours, list, sizes, nullptr);
    const double oursSeconds = Seconds(Clock::now() - start);

    std::filesystem::remove(peerHost);
    struct rusage usage;
    const auto peerStart = Clock::now();
    // From inside the tree, so that the entries are relative like ours.
    const std::string command = "cd '" + drive.string() + "' && '" + zip + "' -r -6 -q '" +
                                peerHost.string() + "' Mivo";
    if (RunProgram({"sh", "-c", command}, "/dev/null", &usage) != 0) {
      std::fprintf(stderr, "%s failed\n", zip.c_str());
      return 1;
    }
    const double peerSeconds = Seconds(Clock::now() - peerStart);
    if (run == 0) continue;  // warming the file cache
    oursTimes.push_back(oursSeconds);
    peerTimes.push_back(peerSeconds);
  }

  const double oursTime = Median(oursTimes), peerTime = Median(peerTimes);
  const uint64_t oursSize = FileSize(oursHost), peerSize = FileSize(peerHost);
  std::printf("tree: %d files, %.1f MB\n", list.Count(), static_cast<double>(payloadBytes) / 1e6);
  std::printf("backup archive: %.3f s, %.2f MB\n", oursTime, static_cast<double>(oursSize) / 1e6);
  std::printf("zip -r -6:      %.3f s, %.2f MB\n", peerTime, static_cast<double>(peerSize) / 1e6);
  std::printf("time ratio (ours / zip): %.2f (goal: at most 1.00)\n", oursTime / peerTime);
  std::printf("size ratio (ours / zip): %.3f\n",
              static_cast<double>(oursSize) / static_cast<double>(peerSize));
  if (!keep) std::filesystem::remove_all(workdir);
  return 0;
}
