// path_policy_bench: the storage path policy's write decision beside the
// system calls it cannot do without for the same path, in the same process:
// the full path twice (the second call shows it is stable), one upper-casing,
// the attributes of the path and of each folder above it (the walk that looks
// for links), and the long form of the folder. The calls are timed on the
// path as given and, as the policy makes them, on its upper-case text. One
// PlayerPaths answers every call, as in the broker, so its roots are worked
// out once, in the warm-up.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchHarness.h"
#include "broker/policy/PlayerPaths.h"
#include "foundation/Win32Handles.h"

namespace {

using Text = PathRules::Text;

constexpr DWORD kBuffer = 1040;  // what PlayerPaths asks the system for

Text ToText(const std::wstring& text) {
  return Text(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

struct Calls {
  int fullPath = 0;
  int upper = 0;
  int attributes = 0;
  int longPath = 0;
};

// The raw calls for `path`, on fixed buffers. With `canonicalCase` the
// attributes and the long form are asked for in the upper-case text, as the
// policy asks for them; without it, in the case the path was given in.
Calls RawCalls(const wchar_t* path, bool canonicalCase) {
  Calls calls;
  wchar_t full[kBuffer], again[kBuffer], upper[kBuffer], longForm[kBuffer];
  DWORD length = GetFullPathNameW(path, kBuffer, full, nullptr);
  ++calls.fullPath;
  if (length == 0 || length >= kBuffer) return calls;
  GetFullPathNameW(full, kBuffer, again, nullptr);
  ++calls.fullPath;
  std::memcpy(upper, full, (length + 1) * sizeof(wchar_t));
  CharUpperBuffW(upper, length);
  ++calls.upper;
  wchar_t* asked = canonicalCase ? upper : full;

  GetFileAttributesW(asked);
  ++calls.attributes;
  // Each folder above it, deepest first; a drive is asked for as "X:\".
  DWORD folderEnd = 0;
  for (DWORD end = length; end-- > 2;) {
    if (asked[end] != L'\\') continue;
    if (folderEnd == 0) folderEnd = end;
    DWORD cut = end == 2 && asked[1] == L':' ? end + 1 : end;
    wchar_t saved = asked[cut];
    asked[cut] = L'\0';
    GetFileAttributesW(asked);
    ++calls.attributes;
    asked[cut] = saved;
  }
  if (folderEnd != 0) {
    asked[folderEnd] = L'\0';
    GetLongPathNameW(asked, longForm, kBuffer);
    ++calls.longPath;
    asked[folderEnd] = L'\\';
  }
  return calls;
}

int Run() {
  std::printf("Storage path policy under Wine (median of repeated runs)\n");
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
    std::printf("no application data folder\n");
    return 1;
  }
  // A stored object in the shared-objects area; its folder exists, as it
  // does once the player has stored anything.
  const std::wstring folder = std::wstring(appData) + L"\\Kestrelink\\Glint Player\\#SharedObjects";
  int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) {
    std::printf("cannot make %ls (error %d)\n", folder.c_str(), made);
    return 1;
  }
  const std::wstring path = folder + L"\\settings.sol";
  {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      std::printf("cannot create %ls (error %lu)\n", path.c_str(), GetLastError());
      return 1;
    }
  }
  const Text text = ToText(path);

  PlayerPaths paths(true);
  // A refusal would time a shorter path through the policy.
  if (!paths.MayWrite(text, true)) {
    std::printf("MayWrite refuses %ls: the figure would not be the typical one\n", path.c_str());
    return 1;
  }
  Calls calls = RawCalls(path.c_str(), true);
  std::printf(
      "%ls\n  anchor: %d GetFullPathNameW, %d CharUpperBuffW, %d GetFileAttributesW, %d "
      "GetLongPathNameW\n",
      path.c_str(), calls.fullPath, calls.upper, calls.attributes, calls.longPath);

  // The three run in turn, so that both ratios share one set of conditions.
  std::vector<double> policySamples, canonicalSamples, givenSamples;
  auto run = [](auto&& body, int iterations) {
    double start = bench::NowNs();
    for (int i = 0; i < iterations; ++i) body();
    return (bench::NowNs() - start) / iterations;
  };
  auto policy = [&] { bench::Keep(paths.MayWrite(text, true)); };
  auto canonical = [&] { bench::Keep(RawCalls(path.c_str(), true)); };
  auto given = [&] { bench::Keep(RawCalls(path.c_str(), false)); };
  policy();  // works out and keeps the roots
  canonical();
  given();
  for (int r = 0; r < 21; ++r) {
    policySamples.push_back(run(policy, 50));
    canonicalSamples.push_back(run(canonical, 50));
    givenSamples.push_back(run(given, 50));
  }
  double mayWrite = bench::Median(policySamples);
  double asGiven = bench::Median(givenSamples);
  double upperCase = bench::Median(canonicalSamples);
  bench::Report("MayWrite, shared objects, extension checked", mayWrite,
                "its system calls, path as given", asGiven);
  // The same calls on the upper-case text, as the policy makes them: under
  // Wine a name that differs in case from the one on disk is found only by
  // reading its folder, for every name along the path.
  bench::Report("MayWrite, shared objects, extension checked", mayWrite,
                "the same calls, upper-case text", upperCase);

  DeleteFileW(path.c_str());
  std::printf("ratios:\n");
  std::printf("  %-44s %6.2f   (target <= 1.3)\n", "MayWrite to its system calls",
              asGiven > 0 ? mayWrite / asGiven : 0.0);
  std::printf("  %-44s %6.2f\n", "MayWrite to the calls on upper-case text",
              upperCase > 0 ? mayWrite / upperCase : 0.0);
  return 0;
}

}  // namespace

int wmain() {
  return Run();
}
