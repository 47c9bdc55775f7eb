// Prints the update check's URL as the library builds it in this process,
// for a host configured by the first argument:
//   update_url CONFIG TYPE VECTOR ERR WERR
// Copies of it run under other Windows versions and languages.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "ReferenceHost.h"
#include "foundation/WideText.h"
#include "update/UpdateCheckWin32.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) return 2;
  ReferenceHost host;
  host.AddConfiguration(FromWide(argv[1]));
  auto number = [&](int i) { return static_cast<uint32_t>(std::wcstoul(argv[i], nullptr, 10)); };
  UpdateCheckArguments arguments{number(2), number(3), number(4), number(5)};
  std::fputs(ToUtf8(UpdateCheckUrl(&host, MString(u"34.0.0.384"), arguments)).c_str(), stdout);
  return 0;
}
