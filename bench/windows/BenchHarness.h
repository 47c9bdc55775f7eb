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

inline double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

struct Pair {
  double subject;
  double anchor;
};

// Median time of one call of each body, in nanoseconds, over `repeats` runs of
// `iterations` calls. The two bodies run in turn, in many short runs, so that a
// busy machine slows both alike and the ratio holds.
template <typename Subject, typename Anchor>
Pair PairedMediansNs(Subject&& subject, Anchor&& anchor, int iterations, int repeats) {
  std::vector<double> subjectSamples, anchorSamples;
  subject();  // warm up
  anchor();
  auto run = [iterations](auto& body) {
    double start = NowNs();
    for (int i = 0; i < iterations; ++i) body();
    return (NowNs() - start) / iterations;
  };
  for (int r = 0; r < repeats; ++r) {
    subjectSamples.push_back(run(subject));
    anchorSamples.push_back(run(anchor));
  }
  return {Median(subjectSamples), Median(anchorSamples)};
}

// The same for bodies that time themselves: each answers the nanoseconds of
// the part that counts, so that set-up between calls (a seek, say) stays out.
template <typename Subject, typename Anchor>
Pair PairedTimedMediansNs(Subject&& subject, Anchor&& anchor, int iterations, int repeats) {
  std::vector<double> subjectSamples, anchorSamples;
  subject();  // warm up
  anchor();
  auto run = [iterations](auto& body) {
    double total = 0;
    for (int i = 0; i < iterations; ++i) total += body();
    return total / iterations;
  };
  for (int r = 0; r < repeats; ++r) {
    subjectSamples.push_back(run(subject));
    anchorSamples.push_back(run(anchor));
  }
  return {Median(subjectSamples), Median(anchorSamples)};
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
