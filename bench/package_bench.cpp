// Package reader benchmark on a reproducible installation-like payload:
//  - decode-and-verify throughput of TSetupPackageReader against xz decoding
//    the same raw LZMA1 stream (deciphered, properties given on the command
//    line), measured in the same run, as a ratio;
//  - throughput of the package CRC;
//  - peak memory of "ipk verify" relative to the payload.
//
// usage: package_bench [--seed N] [--files N] [--megabytes N] [--runs N]
//                      [--ipk PATH] [--workdir DIR] [--xz PATH] [--keep 1]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_payload.h"
#include "lib/stream.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"
#include "package/setup_package.h"
#include "platform/platform.h"

using namespace bench;

int main(int argc, char** argv) {
  platform::Initialize();
  TOptions options{.files = 1500,
                   .megabytes = 45,
                   .workdir = std::filesystem::temp_directory_path() / "mivo-package-bench"};
  std::string ipk, xz = "xz";
  if (!ParseOptions(argc, argv, options, {{"--ipk", &ipk}, {"--xz", &xz}})) return 2;
  const auto& [seed, files, runs, megabytes, workdir, keep] = options;
  std::filesystem::create_directories(workdir);

  // The payload and its package; the package is kept in the work folder
  // with --keep 1 and then reused.
  auto t0 = Clock::now();
  const auto cached = workdir / ("package-" + std::to_string(seed) + "-" + std::to_string(files) +
                                 "-" + std::to_string(static_cast<int>(megabytes)) + ".ipk");
  Bytes pkg;
  if (std::filesystem::exists(cached)) {
    std::ifstream in(cached, std::ios::binary);
    pkg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::printf("payload: %d files, %.0f MB, seed %llu (package reused)\n", files, megabytes,
                static_cast<unsigned long long>(seed));
  } else {
    TGenerator generator(seed);
    std::vector<TGenerated> payload = generator.Payload(files, megabytes);
    size_t by_kind[3] = {0, 0, 0}, total = 0;
    TSetupPackageBuilder builder;
    for (auto& f : payload) {
      by_kind[static_cast<int>(f.kind)] += f.data.size();
      total += f.data.size();
      TMemoryStream s(std::move(f.data));
      builder.Add(s, f.name);
    }
    payload.clear();
    TMemoryStream package;
    builder.Commit(package, 4);
    pkg = std::move(package.Bytes());
    std::printf(
        "payload: %d files, %.1f MB (text %.0f%%, binary %.0f%%, compressed %.0f%%), seed %llu\n",
        files, total / 1e6, 100.0 * by_kind[0] / total, 100.0 * by_kind[1] / total,
        100.0 * by_kind[2] / total, static_cast<unsigned long long>(seed));
    if (keep) WriteFile(cached, pkg.data(), pkg.size());
  }
  std::printf("package: %.1f MB at level 4 (%.1f s)\n", pkg.size() / 1e6,
              Seconds(Clock::now() - t0));

  const auto package_file = workdir / "payload.ipk";
  const auto raw_file = workdir / "payload.lzma1";
  const auto xz_out = workdir / "xz.out";
  WriteFile(package_file, pkg.data(), pkg.size());
  Bytes raw(pkg.begin() + 12, pkg.end());
  TSetupKey key;
  key.Initialize(kSetupPackageKey);
  key.Apply(raw.data(), raw.size());
  if (std::memcmp(raw.data(), "\x5D\x00\x00\x40\x00", 5) != 0) {
    std::fprintf(stderr, "unexpected properties\n");
    return 1;
  }
  WriteFile(raw_file, raw.data() + 5, raw.size() - 5);

  // xz decodes the same stream: check once that it yields the payload (it
  // reports the missing end marker and may add a stray byte or two).
  const std::vector<std::string> xz_args = {
      xz, "--format=raw", "--lzma1=lc=3,lp=0,pb=2,dict=4MiB", "-d", "-c", raw_file.string()};
  struct rusage usage;
  RunProgram(xz_args, xz_out.string(), &usage);
  Bytes reference;
  {
    TReadOnlyMemoryStream s(pkg.data(), static_cast<int64_t>(pkg.size()));
    TSetupPackageReader reader(s);
    reference = reader.Payload();
  }
  {
    std::ifstream in(xz_out, std::ios::binary);
    Bytes head(reference.size());
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    if (static_cast<size_t>(in.gcount()) != head.size() || head != reference) {
      std::fprintf(stderr, "xz does not decode the stream to the payload\n");
      return 1;
    }
  }

  // Decode and verify vs. xz, interleaved; the best run of each, by wall
  // clock and by processor time.
  double reader_best = 1e9, xz_best = 1e9, reader_cpu = 1e9, xz_cpu = 1e9, codec_cpu = 1e9;
  for (int r = 0; r < runs; ++r) {
    auto start = Clock::now();
    double cpu = ThreadCpuSeconds();
    {
      TReadOnlyMemoryStream s(pkg.data(), static_cast<int64_t>(pkg.size()));
      TSetupPackageReader reader(s);
      if (reader.Payload().size() != reference.size()) return 1;
    }
    reader_cpu = std::min(reader_cpu, ThreadCpuSeconds() - cpu);
    reader_best = std::min(reader_best, Seconds(Clock::now() - start));
    start = Clock::now();
    RunProgram(xz_args, "/dev/null", &usage);
    xz_best = std::min(xz_best, Seconds(Clock::now() - start));
    xz_cpu = std::min(xz_cpu, CpuSeconds(usage));

    // The codec alone, for the reader's own share.
    cpu = ThreadCpuSeconds();
    {
      TReadOnlyMemoryStream s(pkg.data() + 12, static_cast<int64_t>(pkg.size() - 12));
      TMemoryStream out;
      out.Reserve(static_cast<int64_t>(reference.size()));
      TSetupKey k;
      k.Initialize(kSetupPackageKey);
      TLZMAStreams streams;
      streams.SourceStream = &s;
      streams.DestStream = &out;
      streams.SourcePreprocessor = [&k](uint8_t* b, size_t n) { k.Apply(b, n); };
      LzmaDecodeStream(streams, static_cast<int64_t>(reference.size()));
    }
    codec_cpu = std::min(codec_cpu, ThreadCpuSeconds() - cpu);
  }
  const double mb = reference.size() / 1e6;
  std::printf("reader decode+verify: %.3f s wall, %.3f s cpu; %.1f MB/s\n", reader_best, reader_cpu,
              mb / reader_best);
  std::printf("  of which cipher + LZMA decoding: %.3f s cpu\n", codec_cpu);
  std::printf("xz raw decode:        %.3f s wall, %.3f s cpu; %.1f MB/s\n", xz_best, xz_cpu,
              mb / xz_best);
  std::printf(
      "throughput ratio reader/xz: %.3f by wall clock, %.3f by processor time "
      "(goal >= 0.95)\n",
      xz_best / reader_best, xz_cpu / reader_cpu);

  // CRC throughput.
  double crc_best = 1e9;
  uint32_t crc = 0;
  for (int r = 0; r < runs; ++r) {
    const auto start = Clock::now();
    crc ^= PackageCrc32(reference.data(), reference.size());
    crc_best = std::min(crc_best, Seconds(Clock::now() - start));
  }
  std::printf("CRC-32: %.0f MB/s (%.1f ms over the payload; %08X)\n", mb / crc_best, crc_best * 1e3,
              crc ^ (runs % 2 ? 0 : crc));

  // Peak memory of the tool verifying the package. A child's maximum
  // resident size as wait4 reports it includes what it shared with this
  // (large) process before exec, so /usr/bin/time, a small process, starts it.
  if (!ipk.empty()) {
    const auto report = workdir / "time.txt";
    const int status = RunProgram(
        {"/usr/bin/time", "-f", "%M", "-o", report.string(), ipk, "verify", package_file.string()},
        "/dev/null", &usage);
    std::ifstream in(report);
    double kilobytes = 0;
    if (status != 0 || !(in >> kilobytes)) {
      std::fprintf(stderr, "ipk verify failed (%d)\n", status);
      return 1;
    }
    const double peak = kilobytes * 1024.0;
    const double goal = 1.1 * reference.size() + 16.0 * 1048576;
    std::printf(
        "ipk verify peak memory: %.1f MB = %.3f x payload (goal <= 1.1 x payload + 16 MiB "
        "= %.1f MB)\n",
        peak / 1e6, peak / reference.size(), goal / 1e6);
  }
  std::filesystem::remove(package_file);
  std::filesystem::remove(raw_file);
  std::filesystem::remove(xz_out);
  std::filesystem::remove(workdir / "time.txt");
  if (!keep) std::filesystem::remove_all(workdir);
  return 0;
}
