// A small timing harness for the Wine-side benchmarks: each figure is the
// median of repeated runs and is printed beside its anchor, measured in the
// same run, so that the ratio holds on a noisy machine.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

inline double NowNs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1e9 / static_cast<double>(frequency.QuadPart);
}

// Median time of one call of `body`, in nanoseconds, over `repeats` runs of
// `iterations` calls each.
template <typename Body>
double MedianNs(Body&& body, int iterations, int repeats = 9) {
  std::vector<double> samples;
  body();  // warm up
  for (int r = 0; r < repeats; ++r) {
    double start = NowNs();
    for (int i = 0; i < iterations; ++i) body();
    samples.push_back((NowNs() - start) / iterations);
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

inline void Report(const char* name, double ns, const char* anchor, double anchorNs) {
  std::printf("%-44s %12.1f ns   anchor %-34s %12.1f ns   ratio %.2f\n", name, ns, anchor, anchorNs,
              anchorNs > 0 ? ns / anchorNs : 0.0);
  std::fflush(stdout);
}

// Keeps the optimiser from dropping a computed value.
template <typename T>
inline void Keep(const T& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

}  // namespace bench
