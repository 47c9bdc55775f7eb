// The native benchmarks' main: Google Benchmark with the figures' context
// (sizes of what is measured) and, on a sanitised build, a warning that the
// figures are not representative.
#pragma once

#include <benchmark/benchmark.h>

#include <initializer_list>
#include <string>
#include <utility>

inline int RunBenchmarks(int argc, char** argv,
                         std::initializer_list<std::pair<const char*, std::string>> context) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const auto& [name, value] : context) benchmark::AddCustomContext(name, value);
#if defined(GLINT_BENCH_SANITIZED)
  benchmark::AddCustomContext("warning", "sanitised build: figures are not representative");
#endif
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
