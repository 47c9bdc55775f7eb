// A stand-in system library for the loader tests: two exports, nothing else.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI GlintStubFirst() {
  return 1;
}
extern "C" __declspec(dllexport) int WINAPI GlintStubSecond() {
  return 2;
}
