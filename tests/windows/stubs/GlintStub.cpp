// A stand-in system library for the loader tests: it exports two functions
// and lacks every other.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI GlintStubFirst() {
  return 1;
}
extern "C" __declspec(dllexport) int WINAPI GlintStubSecond() {
  return 2;
}
