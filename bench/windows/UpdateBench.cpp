// update_bench: the update check through the shim against a loopback proxy
// that completes TLS with a certificate no root vouches for, beside the same
// two WinINet calls made here (open the session, open the URL), in the same
// run. The proxy's port comes from the file that
// scripts/update-proxy-fixture.sh writes:
//   update_bench PORTS_FILE
#include <windows.h>

#include <wininet.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "BenchHarness.h"
#include "GlintLibrary.h"
#include "ReferenceHost.h"

namespace {

std::string TlsPort(const wchar_t* portsFile) {
  std::ifstream ports(portsFile);
  for (std::string name, number; ports >> name >> number;)
    if (name == "tls") return number;
  return std::string();
}

void SetProxy(const std::string& address) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  const DWORD enable = address.empty() ? 0 : 1;
  RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                 sizeof enable);
  const std::wstring server(address.begin(), address.end());
  if (address.empty()) {
    RegDeleteValueW(key, L"ProxyServer");
  } else {
    RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: update_bench PORTS_FILE\n");
    return 2;
  }
  const std::string port = TlsPort(argv[1]);
  if (port.empty()) {
    std::fprintf(stderr, "update_bench: no tls proxy in the ports file\n");
    return 2;
  }
  GlintLibrary library;
  if (!library.Load()) return 1;
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  ShimHandle shim(library.Start()(&host));
  SetProxy("127.0.0.1:" + port);
  const std::wstring url =
      L"https://update.glint.example/get/glintplayer/update/current/install/version.xml";
  bench::Pair pair = bench::PairedMediansNs(
      [&] { shim->CheckForUpdate(8, 2, 0, 0); },
      [&] {
        HINTERNET internet = InternetOpenW(L"Arvex Glint Player", INTERNET_OPEN_TYPE_PRECONFIG,
                                           nullptr, nullptr, 0);
        if (internet == nullptr) return;
        HINTERNET request =
            InternetOpenUrlW(internet, url.c_str(), L"", 0,
                             INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
        if (request != nullptr) InternetCloseHandle(request);
        InternetCloseHandle(internet);
      },
      1, 41);
  bench::Report("(b) update check through a TLS proxy", pair.subject,
                "the two WinINet calls made directly", pair.anchor);
  SetProxy(std::string());
  return 0;
}
