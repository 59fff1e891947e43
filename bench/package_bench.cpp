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

#include "lib/stream.h"
#include "package/lzma_streams.h"
#include "package/package_crc.h"
#include "package/setup_package.h"
#include "platform/platform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

struct TRandom {
  uint64_t state;
  uint64_t Next() {  // splitmix64
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

enum class Kind { Text, Binary, Compressed };

struct TGenerated {
  String name;
  Kind kind;
  Bytes data;
};

class TGenerator {
 public:
  explicit TGenerator(uint64_t seed) : rng_{seed} {
    const char* syllables[] = {"ka", "lo",  "mi", "ven", "tor", "al", "be",  "ri",  "sun", "da",
                               "ex", "pro", "ni", "que", "st",  "ra", "ion", "ter", "fo",  "ge"};
    for (int i = 0; i < 3000; ++i) {
      std::string w;
      const int n = 1 + static_cast<int>(rng_.Below(4));
      for (int k = 0; k < n; ++k) w += syllables[rng_.Below(20)];
      words_.push_back(w);
    }
  }

  const std::string& Word() {  // skewed towards common words
    const double u = rng_.Unit();
    return words_[static_cast<size_t>(u * u * u * static_cast<double>(words_.size()))];
  }

  Bytes Text(size_t size) {
    std::string s;
    s.reserve(size + 200);
    while (s.size() < size) {
      const uint32_t form = rng_.Below(10);
      if (form < 2) {
        s += Word() + "_" + Word() + "=" + Word() + " " + std::to_string(rng_.Below(1000)) + "\r\n";
      } else if (form < 3) {
        s += "  <" + Word() + " name=\"" + Word() + "\" value=\"" +
             std::to_string(rng_.Below(100000)) + "\"/>\r\n";
      } else {
        const int n = 6 + static_cast<int>(rng_.Below(9));
        for (int k = 0; k < n; ++k) s += (k ? " " : "") + Word();
        s += ".\r\n";
      }
    }
    s.resize(size);
    return Bytes(s.begin(), s.end());
  }

  // Machine code and data as in executables: instruction templates with
  // immediates from a working set of addresses, pointer tables, padding and
  // string tables.
  Bytes Binary(size_t size) {
    static const uint8_t templates[][4] = {
        {0x48, 0x8B, 0x45, 0}, {0x48, 0x89, 0x45, 0}, {0xE8, 0, 0, 0},       {0x48, 0x83, 0xEC, 0},
        {0x41, 0x57, 0, 0},    {0x0F, 0x84, 0, 0},    {0x74, 0, 0, 0},       {0x8B, 0x4C, 0x24, 0},
        {0xC3, 0, 0, 0},       {0x48, 0x8D, 0x0D, 0}, {0x85, 0xC0, 0, 0},    {0x33, 0xC9, 0, 0},
        {0xFF, 0x15, 0, 0},    {0x89, 0x44, 0x24, 0}, {0x4C, 0x8B, 0xC3, 0}, {0xEB, 0, 0, 0}};
    static const int lengths[] = {3, 3, 1, 3, 2, 2, 1, 3, 1, 3, 2, 2, 2, 3, 3, 1};
    static const int immediates[] = {1, 1, 4, 1, 0, 4, 1, 1, 0, 4, 0, 0, 4, 1, 0, 1};
    uint32_t addresses[64];
    for (auto& a : addresses) a = 0x401000 + rng_.Below(0x200000);
    Bytes b;
    b.reserve(size + 8192);
    while (b.size() < size) {
      const uint32_t what = rng_.Below(100);
      if (what < 85) {
        const int t = static_cast<int>(rng_.Below(16));
        b.insert(b.end(), templates[t], templates[t] + lengths[t]);
        uint32_t v = rng_.Below(4) ? addresses[rng_.Below(64)] : static_cast<uint32_t>(rng_.Next());
        if (immediates[t] == 1) v = rng_.Below(8) * 8;
        for (int k = 0; k < immediates[t]; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
      } else if (what < 90) {
        uint32_t p = addresses[rng_.Below(64)];
        for (int k = 0, n = 4 + static_cast<int>(rng_.Below(60)); k < n; ++k) {
          p += 4 + rng_.Below(3) * 16;
          for (int j = 0; j < 4; ++j) b.push_back(static_cast<uint8_t>(p >> (8 * j)));
        }
      } else if (what < 93) {
        b.insert(b.end(), 16 + rng_.Below(2000), 0);
      } else {
        for (int k = 0, n = 1 + static_cast<int>(rng_.Below(8)); k < n; ++k) {
          const std::string& w = Word();
          b.insert(b.end(), w.begin(), w.end());
          b.push_back(0);
        }
      }
    }
    b.resize(size);
    return b;
  }

  Bytes Compressed(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; i += 8) {
      const uint64_t v = rng_.Next();
      std::memcpy(b.data() + i, &v, std::min<size_t>(8, size - i));
    }
    return b;
  }

  std::vector<TGenerated> Payload(int files, double megabytes) {
    std::vector<double> weights;
    double sum = 0;
    for (int i = 0; i < files; ++i) {
      weights.push_back(std::exp(rng_.Unit() * std::log(20000.0)));
      sum += weights.back();
    }
    std::vector<TGenerated> out;
    const char* text_ext[] = {".txt", ".xml", ".lng", ".ini", ".html"};
    const char* binary_ext[] = {".dll", ".exe", ".dat"};
    const char* packed_ext[] = {".png", ".mp3", ".zip", ".ogg"};
    for (int i = 0; i < files; ++i) {
      const size_t size =
          std::max<size_t>(16, static_cast<size_t>(weights[i] / sum * megabytes * 1e6));
      const uint32_t pick = rng_.Below(10);
      const Kind kind = pick < 5 ? Kind::Text : pick < 8 ? Kind::Binary : Kind::Compressed;
      std::string name = "Program\\Folder" + std::to_string(i % 23) + "\\file" + std::to_string(i);
      Bytes data;
      switch (kind) {
        case Kind::Text:
          name += text_ext[rng_.Below(5)];
          data = Text(size);
          break;
        case Kind::Binary:
          name += binary_ext[rng_.Below(3)];
          data = Binary(size);
          break;
        case Kind::Compressed:
          name += packed_ext[rng_.Below(4)];
          data = Compressed(size);
          break;
      }
      out.push_back({String(name.begin(), name.end()), kind, std::move(data)});
    }
    return out;
  }

 private:
  TRandom rng_;
  std::vector<std::string> words_;
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double CpuSeconds(const struct rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor time of the calling thread: on a busy machine a fairer measure
// than the wall clock.
double ThreadCpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_THREAD, &u);
  return CpuSeconds(u);
}

// Runs a program with its output discarded; returns the exit status and
// fills in the child's resource usage.
int RunProgram(const std::vector<std::string>& argv, const std::string& stdout_file,
               struct rusage* usage) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", args[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  wait4(pid, &status, 0, usage);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void WriteFile(const std::filesystem::path& p, const uint8_t* data, size_t size) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", p.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  platform::Initialize();
  uint64_t seed = 20240517;
  int files = 1500, runs = 5;
  double megabytes = 45;
  std::string ipk, xz = "xz";
  bool keep = false;
  std::filesystem::path workdir = std::filesystem::temp_directory_path() / "mivo-package-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--seed")
      seed = std::stoull(v);
    else if (a == "--files")
      files = std::stoi(v);
    else if (a == "--megabytes")
      megabytes = std::stod(v);
    else if (a == "--runs")
      runs = std::stoi(v);
    else if (a == "--ipk")
      ipk = v;
    else if (a == "--xz")
      xz = v;
    else if (a == "--workdir")
      workdir = v;
    else if (a == "--keep")
      keep = v == "1";
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
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
