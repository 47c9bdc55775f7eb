// lcd_cycle_bench: one local-connection exchange through the broker (the
// sender's BrokerLcdDispatchMessage, the receiver's BrokerLcdGetMessageData
// and BrokerLcdClearMessage, each from its own broker object) beside three
// IBenchAnchor::Empty calls, in the same run.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchHarness.h"
#include "foundation/ComRef.h"
#include "bench/BenchAnchor.h"
#include "broker/GlintBroker.h"

namespace {

int Run() {
  ComRef<IGlintBroker6> receiver, sender;
  ComRef<IBenchAnchor> anchor;
  if (FAILED(CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IGlintBroker6, receiver.Receive())) ||
      FAILED(CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IGlintBroker6, sender.Receive())) ||
      FAILED(CoCreateInstance(CLSID_BenchAnchor, nullptr, CLSCTX_LOCAL_SERVER, IID_IBenchAnchor,
                              anchor.Receive()))) {
    std::printf("cannot create the objects\n");
    return 1;
  }
  BSTR name = SysAllocString(L"_bench.receiver");
  HRESULT added = receiver->BrokerLcdTryAddConnection(name, 0, 0, '2');
  std::string message = std::string("\x02\x00\x0F", 3) + "_bench.receiver" + std::string(100, 'm');
  SAFEARRAY* data = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(message.size()));
  void* bytes = nullptr;
  SafeArrayAccessData(data, &bytes);
  std::memcpy(bytes, message.data(), message.size());
  SafeArrayUnaccessData(data);

  int failures = 0;
  auto cycle = [&] {
    if (sender->BrokerLcdDispatchMessage(data, 11, 2, 0) != S_OK) ++failures;
    SAFEARRAY* got = nullptr;
    if (receiver->BrokerLcdGetMessageData(&got) != S_OK) ++failures;
    if (got != nullptr) SafeArrayDestroy(got);
    if (receiver->BrokerLcdClearMessage() != S_OK) ++failures;
  };
  auto bare = [&] {
    anchor->Empty();
    anchor->Empty();
    anchor->Empty();
  };
  std::printf("add 0x%08lX\n", static_cast<unsigned long>(added));
  std::vector<double> c, a;
  cycle();
  bare();
  for (int r = 0; r < 41; ++r) {
    double start = bench::NowNs();
    for (int i = 0; i < 10; ++i) cycle();
    c.push_back((bench::NowNs() - start) / 10);
    start = bench::NowNs();
    for (int i = 0; i < 10; ++i) bare();
    a.push_back((bench::NowNs() - start) / 10);
  }
  std::sort(c.begin(), c.end());
  std::sort(a.begin(), a.end());
  bench::Report("local-connection cycle (3 broker calls)", c[c.size() / 2],
                "3 x IBenchAnchor::Empty", a[a.size() / 2]);
  std::printf("failures %d\n", failures);
  receiver->BrokerLcdRemoveConnection(name, 0);
  SysFreeString(name);
  SafeArrayDestroy(data);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain() {
  if (FAILED(CoInitialize(nullptr))) return 1;
  int status = Run();
  CoUninitialize();
  return status;
}
