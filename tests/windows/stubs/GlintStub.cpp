// A stand-in system library for the loader tests: one export, nothing else.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI GlintStubFirst() {
  return 1;
}
