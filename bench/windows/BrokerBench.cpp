// broker_bench: the broker as the sandboxed player meets it, each figure beside
// the same figure of bench_anchor (a local server with one empty method and the
// broker's lifetime rules), measured in the same run:
//   - one call through the proxy: BrokerLcdMessageTimeout beside Empty;
//   - object creation on a running server: CoCreateInstance + Release while a
//     second object keeps the server alive;
//   - activation of a server that is not running: CoCreateInstance with no
//     server process, each time after the previous server has exited.
// Both servers must be registered in the prefix first (glinthost.exe
// register-broker, bench_anchor.exe register); scripts/bench.sh does that, and
// runs the Wine session on one CPU so that the call figures are repeatable.
#include <windows.h>
#include <ole2.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchHarness.h"
#include "ComRef.h"
#include "bench/BenchAnchor.h"
#include "broker/GlintBroker.h"
#include "foundation/Win32Handles.h"

namespace {

// Activations are slow (the platform starts a process and waits for its class
// object), so a few of them give the median; one more of each warms up first.
constexpr int kActivations = 5;
constexpr DWORD kExitTimeoutMs = 20000;

struct Server {
  const char* name;
  const wchar_t* image;  // the process COM starts
  const CLSID* clsid;
  const IID* iid;  // what a client asks for
};

const Server kBroker = {"broker", L"glinthost.exe", &CLSID_GlintBrokerImp6, &IID_IGlintBroker6};
const Server kAnchor = {"anchor", L"bench_anchor.exe", &CLSID_BenchAnchor, &IID_IBenchAnchor};

HRESULT Create(const Server& server, ComRef<IUnknown>& object, const IID* iid = nullptr) {
  return CoCreateInstance(*server.clsid, nullptr, CLSCTX_LOCAL_SERVER, iid ? *iid : *server.iid,
                          object.Receive());
}

std::vector<DWORD> ProcessesNamed(const wchar_t* image) {
  std::vector<DWORD> ids;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, image) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

// Waits until no process of the server's image runs; false on time-out.
bool WaitUntilGone(const Server& server) {
  ULONGLONG deadline = GetTickCount64() + kExitTimeoutMs;
  for (;;) {
    std::vector<DWORD> ids = ProcessesNamed(server.image);
    if (ids.empty()) return true;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, ids.front()));
    if (process) {
      WaitForSingleObject(process.Get(), static_cast<DWORD>(deadline - now));
    } else {
      Sleep(10);
    }
  }
}

double Median(std::vector<double> samples) {
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
    double start = bench::NowNs();
    for (int i = 0; i < iterations; ++i) body();
    return (bench::NowNs() - start) / iterations;
  };
  for (int r = 0; r < repeats; ++r) {
    subjectSamples.push_back(run(subject));
    anchorSamples.push_back(run(anchor));
  }
  return {Median(subjectSamples), Median(anchorSamples)};
}

// One activation of a server that is not running, in nanoseconds; negative
// when a previous server did not exit or the activation failed. Neither
// server may run meanwhile, not even one still shutting down.
double ActivationNs(const Server& server) {
  for (const Server* running : {&kBroker, &kAnchor}) {
    if (!WaitUntilGone(*running)) {
      std::printf("the %s server (%ls) is still running after %lu ms\n", running->name,
                  running->image, kExitTimeoutMs);
      return -1;
    }
  }
  ComRef<IUnknown> object;
  double start = bench::NowNs();
  HRESULT created = Create(server, object);
  double elapsed = bench::NowNs() - start;
  if (FAILED(created)) {
    std::printf("activation of the %s failed: 0x%08lX\n", server.name,
                static_cast<unsigned long>(created));
    return -1;
  }
  return elapsed;
}

// Failures of the call's transport rather than answers of the method.
bool IsTransportFailure(HRESULT result) {
  if (HRESULT_FACILITY(result) == FACILITY_RPC) return true;
  return HRESULT_FACILITY(result) == FACILITY_WIN32 &&
         HRESULT_CODE(result) >= RPC_S_INVALID_STRING_BINDING && HRESULT_CODE(result) < 2000;
}

void PrintRatio(const char* figure, double ns, double anchorNs, const char* target) {
  std::printf("  %-36s %6.2f%s\n", figure, anchorNs > 0 ? ns / anchorNs : 0.0, target);
}

int Run() {
  std::printf("Broker benchmarks under Wine (median of repeated runs)\n");
  std::fflush(stdout);

  // Activation first: neither server may be running when it is timed.
  std::vector<double> brokerStarts, anchorStarts;
  for (int i = 0; i <= kActivations; ++i) {
    double broker = ActivationNs(kBroker);
    double anchor = ActivationNs(kAnchor);
    if (broker < 0 || anchor < 0) {
      std::printf(
          "are both servers registered? glinthost.exe register-broker, "
          "bench_anchor.exe register\n");
      return 1;
    }
    if (i == 0) continue;  // the warm-up
    brokerStarts.push_back(broker);
    anchorStarts.push_back(anchor);
  }
  if (!WaitUntilGone(kBroker) || !WaitUntilGone(kAnchor)) {
    std::printf("a server did not exit after its last object was released\n");
    return 1;
  }
  double brokerStart = Median(brokerStarts);
  double anchorStart = Median(anchorStarts);

  // One object of each server stays for the rest of the run: the calls go to
  // it, and it keeps its server alive while other objects come and go.
  ComRef<IGlintBroker6> broker;
  ComRef<IBenchAnchor> anchor;
  HRESULT brokerCreated = CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IGlintBroker6, broker.Receive());
  HRESULT anchorCreated = CoCreateInstance(CLSID_BenchAnchor, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IBenchAnchor, anchor.Receive());
  if (FAILED(brokerCreated) || FAILED(anchorCreated)) {
    std::printf("cannot create the objects: broker 0x%08lX, anchor 0x%08lX\n",
                static_cast<unsigned long>(brokerCreated),
                static_cast<unsigned long>(anchorCreated));
    return 1;
  }

  // A call that fails in transport would time the failure, not the broker:
  // the method's own answer (E_NOTIMPL for now) is what must come back.
  LONG timeout = 0;
  HRESULT brokerAnswer = broker->BrokerLcdMessageTimeout(&timeout);
  HRESULT anchorAnswer = anchor->Empty();
  std::printf("BrokerLcdMessageTimeout answers 0x%08lX, Empty answers 0x%08lX\n",
              static_cast<unsigned long>(brokerAnswer), static_cast<unsigned long>(anchorAnswer));
  if (IsTransportFailure(brokerAnswer) || FAILED(anchorAnswer)) {
    std::printf("the calls do not reach the servers\n");
    return 1;
  }

  Pair call = PairedMediansNs([&] { broker->BrokerLcdMessageTimeout(&timeout); },
                              [&] { anchor->Empty(); }, 20, 51);
  bench::Report("BrokerLcdMessageTimeout through the proxy", call.subject,
                "IBenchAnchor::Empty through the proxy", call.anchor);

  int failures = 0;
  auto createAndRelease = [&failures](const Server& server, const IID* iid) {
    ComRef<IUnknown> object;
    if (FAILED(Create(server, object, iid))) ++failures;
  };
  Pair create = PairedMediansNs([&] { createAndRelease(kBroker, nullptr); },
                                [&] { createAndRelease(kAnchor, nullptr); }, 2, 31);
  bench::Report("broker object, running server", create.subject,
                "bench_anchor object, running server", create.anchor);
  // Asked for IUnknown, COM builds no Automation proxy and stub for the
  // interface, so the difference to the line above is what they cost for the
  // broker's 102 methods against the anchor's one.
  Pair bare = PairedMediansNs([&] { createAndRelease(kBroker, &IID_IUnknown); },
                              [&] { createAndRelease(kAnchor, &IID_IUnknown); }, 2, 31);
  bench::Report("  the same, asking for IUnknown", bare.subject, "the same, asking for IUnknown",
                bare.anchor);
  if (failures != 0) {
    std::printf("%d object creations failed: the creation figures are not valid\n", failures);
    return 1;
  }

  bench::Report("broker activation, server not running", brokerStart,
                "bench_anchor activation, not running", anchorStart);

  broker.Reset();
  anchor.Reset();
  if (!WaitUntilGone(kBroker) || !WaitUntilGone(kAnchor)) {
    std::printf("a server did not exit after its last object was released\n");
    return 1;
  }

  std::printf("ratios to the anchor:\n");
  PrintRatio("call through the proxy", call.subject, call.anchor, "   (target <= 1.05)");
  PrintRatio("object creation, running server", create.subject, create.anchor,
             "   (target <= 1.5)");
  PrintRatio("object creation, asking for IUnknown", bare.subject, bare.anchor, "");
  PrintRatio("activation, server not running", brokerStart, anchorStart, "");
  std::printf("activation medians of %d: broker %.0f ms, anchor %.0f ms\n", kActivations,
              brokerStart / 1e6, anchorStart / 1e6);
  return 0;
}

}  // namespace

int wmain() {
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("CoInitialize failed\n");
    return 1;
  }
  int status = Run();
  CoUninitialize();
  return status;
}
