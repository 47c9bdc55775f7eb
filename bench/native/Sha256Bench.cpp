// SHA-256 throughput: the compression the library picks, each compression on
// its own, and a file read in 64 KiB pieces the way an add-in folder is
// hashed. scripts/bench-sha256.sh runs this beside OpenSSL on the same
// 64 MiB file and prints the ratios.
//
//   sha256_bench [--glint_file=PATH] [benchmark options]
// With a file, its digest goes into the context ("file_sha256") and
// Sha256/FileRead hashes it.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "broker/signeddata/Sha256.h"

namespace {

constexpr size_t kLarge = size_t{64} << 20;

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> bytes(kLarge);
    uint32_t x = 2463534242u;
    for (auto& b : bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x);
    }
    return bytes;
  }();
  return data;
}

void Hash(benchmark::State& state, Sha256Compress compress) {
  if (compress == nullptr) {
    state.SkipWithError("this processor lacks the SHA extensions");
    return;
  }
  const auto size = static_cast<size_t>(state.range(0));
  const uint8_t* data = Data().data();
  for (auto _ : state) {
    Sha256State s;
    Sha256Init(s);
    Sha256Update(s, data, size, compress);
    benchmark::DoNotOptimize(Sha256Final(s, compress));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Default(benchmark::State& state) {
  Hash(state, Sha256DefaultCompress());
}
void Portable(benchmark::State& state) {
  Hash(state, Sha256CompressPortable);
}
void ShaExtensions(benchmark::State& state) {
  Hash(state, Sha256CpuHasShaExtensions() ? Sha256CompressShaExtensions : nullptr);
}

BENCHMARK(Default)
    ->Name("Sha256/Default")
    ->Arg(64)
    ->Arg(1024)
    ->Arg(65536)
    ->Arg(kLarge)
    ->UseRealTime();
BENCHMARK(Portable)->Name("Sha256/Portable")->Arg(kLarge)->UseRealTime();
BENCHMARK(ShaExtensions)->Name("Sha256/ShaExtensions")->Arg(kLarge)->UseRealTime();

// Reads and hashes the whole file; false when it cannot be read.
bool HashFile(const std::string& path, Sha256Digest& digest, int64_t& size) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  static uint8_t piece[65536];
  Sha256State s;
  Sha256Init(s);
  size = 0;
  ssize_t got;
  while ((got = read(fd, piece, sizeof piece)) > 0) {
    Sha256Update(s, piece, static_cast<size_t>(got));
    size += got;
  }
  close(fd);
  digest = Sha256Final(s);
  return got == 0;
}

std::string Hex(const Sha256Digest& digest) {
  std::string out;
  char two[3];
  for (uint8_t b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--glint_file=", 13) == 0) {
      file = argv[i] + 13;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
#ifdef GLINT_BENCH_SANITIZED
  benchmark::AddCustomContext("warning", "sanitised build: figures are not meaningful");
#endif
  benchmark::AddCustomContext("sha_extensions", Sha256CpuHasShaExtensions() ? "yes" : "no");

  if (!file.empty()) {
    Sha256Digest digest;
    int64_t size = 0;
    if (!HashFile(file, digest, size)) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    benchmark::AddCustomContext("file_sha256", Hex(digest));
    benchmark::RegisterBenchmark("Sha256/FileRead", [file, size](benchmark::State& state) {
      Sha256Digest d;
      int64_t n = 0;
      for (auto _ : state) {
        HashFile(file, d, n);
        benchmark::DoNotOptimize(d);
      }
      state.SetBytesProcessed(state.iterations() * size);
    })->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
