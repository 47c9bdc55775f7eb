// A check that survives release builds: a failed one names its line and
// stops the fuzzer on the input that broke it.
#pragma once

#include <cstdio>

#define Check(ok) CheckAt(ok, __LINE__)
inline void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "check failed at line %d\n", line);
  __builtin_trap();
}
