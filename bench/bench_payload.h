// What the benchmarks share: their command line, a reproducible
// installation-like payload (text, machine code and already-compressed data
// in files of skewed sizes), time measurement and running a peer program.
#pragma once

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
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "lib/strings.h"

extern char** environ;

namespace bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// The options every payload benchmark takes, as "--name value" pairs:
// --seed N, --files N, --megabytes N, --runs N, --workdir DIR, --keep 1.
struct TOptions {
  uint64_t seed = 20240517;
  int files = 1000;
  int runs = 5;
  double megabytes = 40;
  std::filesystem::path workdir;
  bool keep = false;
};

// Reads the command line into `options` and into the benchmark's own text
// options (`own`: name and where the value goes, e.g. {"--zip", &zip}). An
// unknown option is reported; the result is then false.
inline bool ParseOptions(int argc, char** argv, TOptions& options,
                         std::initializer_list<std::pair<const char*, std::string*>> own) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--seed")
      options.seed = std::stoull(v);
    else if (a == "--files")
      options.files = std::stoi(v);
    else if (a == "--megabytes")
      options.megabytes = std::stod(v);
    else if (a == "--runs")
      options.runs = std::stoi(v);
    else if (a == "--workdir")
      options.workdir = v;
    else if (a == "--keep")
      options.keep = v == "1";
    else {
      std::string* target = nullptr;
      for (const auto& [name, value] : own)
        if (a == name) target = value;
      if (!target) {
        std::fprintf(stderr, "unknown option %s\n", a.c_str());
        return false;
      }
      *target = v;
    }
  }
  return true;
}

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

inline double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

inline double CpuSeconds(const struct rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor time of the calling thread: on a busy machine a fairer measure
// than the wall clock.
inline double ThreadCpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_THREAD, &u);
  return CpuSeconds(u);
}

// Runs a program with its output discarded; returns the exit status and
// fills in the child's resource usage.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& stdout_file,
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

inline void WriteFile(const std::filesystem::path& p, const uint8_t* data, size_t size) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", p.c_str());
    std::exit(1);
  }
}

}  // namespace bench
