// broker_bench: the broker as the sandboxed player meets it, each figure beside
// the same figure of bench_anchor (a local server with one empty method and the
// broker's lifetime rules), measured in the same run:
//   - one call through the proxy: BrokerLcdMessageTimeout beside Empty;
//   - object creation on a running server: CoCreateInstance + Release while a
//     second object keeps the server alive;
//   - activation of a server that is not running: CoCreateInstance with no
//     server process, each time after the previous server has exited;
//   - 64 KiB through a file cookie: BrokerReadFile beside GiveBytes and
//     BrokerWriteFile beside TakeBytes, on a file in the player's store that
//     BrokerCreateFile opened;
//   - the player's commonest write: BrokerCreateFile (write, shared-objects
//     folder) + BrokerWriteFile 4 KiB + BrokerCloseHandle beside three Empty
//     calls, so that the figure shows what the open's checks add;
//   - a shortcut request refused at its last check: BrokerCreateInternetShortcut
//     with a message valid under root B whose content lacks the digest of the
//     4 KiB strings (SignedDataFixture.sh's "no-digest", found in this build
//     tree's signed-data-fixtures) beside Empty.
// Both servers must be registered in the prefix first (glinthost.exe
// register-broker, bench_anchor.exe register); scripts/bench.sh does that, and
// runs the Wine session on one CPU so that the call figures are repeatable.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchHarness.h"
#include "foundation/ComRef.h"
#include "bench/BenchAnchor.h"
#include "broker/GlintBroker.h"
#include "foundation/Win32Handles.h"

namespace {

// Activations are slow (the platform starts a process and waits for its class
// object), so a few of them give the median; one more of each warms up first.
constexpr int kActivations = 5;
constexpr DWORD kExitTimeoutMs = 20000;

// What one read or write moves: a typical stored object or a read buffer.
constexpr ULONG kChunk = 64 * 1024;

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

ULONG ElementCount(SAFEARRAY* array) {
  LONG lower = 0, upper = -1;
  if (array == nullptr || SafeArrayGetDim(array) != 1 ||
      FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return 0;
  }
  return static_cast<ULONG>(upper - lower + 1);
}

// The shared-objects folder of the player's store, made if missing: the
// broker opens files only in folders that exist.
std::wstring SharedObjectsFolder() {
  wchar_t appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
    return std::wstring();
  }
  std::wstring folder = std::wstring(appData) + L"\\Kestrelink\\Glint Player\\#SharedObjects";
  int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  return made == ERROR_SUCCESS || made == ERROR_ALREADY_EXISTS ? folder : std::wstring();
}

// A file opened through the broker, closed through it on every path.
class BrokerFile {
 public:
  explicit BrokerFile(IGlintBroker6* broker) : broker_(broker) {}
  BrokerFile(const BrokerFile&) = delete;
  BrokerFile& operator=(const BrokerFile&) = delete;
  ~BrokerFile() { Close(); }

  HRESULT Open(const std::wstring& path, bool readOnly, bool truncate) {
    Close();
    UniqueBstr name(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    if (!name) return E_OUTOFMEMORY;
    return broker_->BrokerCreateFile(name.Get(), readOnly ? 1 : 0, truncate ? 1 : 0, &cookie_);
  }
  HRESULT Seek(LONG offset) {
    ULONG position = 0;
    return broker_->BrokerSetFilePointer(cookie_, offset, FILE_BEGIN, &position);
  }
  void Close() {
    if (cookie_ != 0) broker_->BrokerCloseHandle(cookie_);
    cookie_ = 0;
  }
  ULONG Cookie() const { return cookie_; }

 private:
  IGlintBroker6* broker_;
  ULONG cookie_ = 0;
};

struct FileFigures {
  bench::Pair read;
  bench::Pair write;
  bench::Pair writeLater;
};

// 64 KiB each way through a cookie, beside the anchor moving the same array
// the same way. Only the read and write calls are timed: each call starts at
// the same offset, and the seek back to it stays outside. The payload does
// not start with "MZ", so at offset 0 the broker's executable watch decides
// on the write's own bytes, as it does for every stored object.
bool MeasureFiles(IGlintBroker6* broker, IBenchAnchor* anchor, FileFigures& figures) {
  const std::wstring folder = SharedObjectsFolder();
  if (folder.empty()) {
    std::printf("cannot make the player's shared-objects folder\n");
    return false;
  }
  const std::wstring readPath = folder + L"\\bench-read.sol";
  const std::wstring writePath = folder + L"\\bench-write.sol";

  UniqueSafeArray payload(SafeArrayCreateVector(VT_UI1, 0, kChunk));
  void* raw = nullptr;
  if (!payload || FAILED(SafeArrayAccessData(payload.Get(), &raw))) return false;
  for (ULONG i = 0; i < kChunk; ++i) static_cast<BYTE*>(raw)[i] = static_cast<BYTE>(i * 7);
  SafeArrayUnaccessData(payload.Get());

  int failures = 0;
  {
    // The file to read is written through the broker first, as the player would.
    BrokerFile source(broker);
    ULONG written = 0;
    HRESULT opened = source.Open(readPath, false, true);
    HRESULT wrote = SUCCEEDED(opened)
                        ? broker->BrokerWriteFile(source.Cookie(), payload.Get(), &written)
                        : opened;
    if (FAILED(wrote) || written != kChunk) {
      std::printf("cannot write %ls through the broker: 0x%08lX\n", readPath.c_str(),
                  static_cast<unsigned long>(wrote));
      return false;
    }
  }
  BrokerFile reading(broker), writing(broker);
  HRESULT readOpened = reading.Open(readPath, true, false);
  HRESULT writeOpened = writing.Open(writePath, false, true);
  if (FAILED(readOpened) || FAILED(writeOpened)) {
    std::printf("BrokerCreateFile failed: read 0x%08lX, write 0x%08lX\n",
                static_cast<unsigned long>(readOpened), static_cast<unsigned long>(writeOpened));
    return false;
  }

  auto brokerRead = [&]() -> double {
    if (FAILED(reading.Seek(0))) ++failures;
    ULONG got = 0;
    UniqueSafeArray data;
    double start = bench::NowNs();
    HRESULT result = broker->BrokerReadFile(reading.Cookie(), kChunk, &got, data.Receive());
    double elapsed = bench::NowNs() - start;
    if (FAILED(result) || got != kChunk || ElementCount(data.Get()) != kChunk) ++failures;
    return elapsed;
  };
  auto anchorRead = [&]() -> double {
    UniqueSafeArray data;
    double start = bench::NowNs();
    HRESULT result = anchor->GiveBytes(kChunk, data.Receive());
    double elapsed = bench::NowNs() - start;
    if (FAILED(result) || ElementCount(data.Get()) != kChunk) ++failures;
    return elapsed;
  };
  LONG writeOffset = 0;
  auto brokerWrite = [&]() -> double {
    if (FAILED(writing.Seek(writeOffset))) ++failures;
    ULONG written = 0;
    double start = bench::NowNs();
    HRESULT result = broker->BrokerWriteFile(writing.Cookie(), payload.Get(), &written);
    double elapsed = bench::NowNs() - start;
    if (FAILED(result) || written != kChunk) ++failures;
    return elapsed;
  };
  auto anchorWrite = [&]() -> double {
    ULONG size = 0;
    double start = bench::NowNs();
    HRESULT result = anchor->TakeBytes(payload.Get(), &size);
    double elapsed = bench::NowNs() - start;
    if (FAILED(result) || size != kChunk) ++failures;
    return elapsed;
  };
  figures.read = bench::PairedTimedMediansNs(brokerRead, anchorRead, 10, 21);
  figures.write = bench::PairedTimedMediansNs(brokerWrite, anchorWrite, 10, 21);
  // Past the file's start the watch reads the first byte back from the file
  // (through a second handle) to know whether the write could complete a header.
  writeOffset = static_cast<LONG>(kChunk);
  figures.writeLater = bench::PairedTimedMediansNs(brokerWrite, anchorWrite, 10, 21);

  reading.Close();
  writing.Close();
  DeleteFileW(readPath.c_str());
  DeleteFileW(writePath.c_str());
  if (failures != 0) {
    std::printf("%d file calls failed or moved short: the file figures are not valid\n", failures);
    return false;
  }
  return true;
}

struct CycleFigures {
  bench::Pair fresh;    // a new file each time
  bench::Pair rewrite;  // the same file emptied each time
};

// Open for writing (emptying the file), 4 KiB, close, beside three empty
// anchor calls: once on a name that does not exist yet (removed by this
// program between the timed cycles), once on the same file again and again.
bool MeasureWriteCycle(IGlintBroker6* broker, IBenchAnchor* anchor, CycleFigures& figures) {
  const std::wstring folder = SharedObjectsFolder();
  if (folder.empty()) return false;
  const std::wstring path = folder + L"\\bench-cycle.sol";
  UniqueSafeArray payload(SafeArrayCreateVector(VT_UI1, 0, 4096));
  void* raw = nullptr;
  if (!payload || FAILED(SafeArrayAccessData(payload.Get(), &raw))) return false;
  memset(raw, 'g', 4096);
  SafeArrayUnaccessData(payload.Get());
  int failures = 0;
  bool fresh = true;
  auto cycle = [&]() -> double {
    if (fresh) DeleteFileW(path.c_str());
    double start = bench::NowNs();
    {
      BrokerFile file(broker);
      ULONG written = 0;
      if (FAILED(file.Open(path, false, true)) ||
          FAILED(broker->BrokerWriteFile(file.Cookie(), payload.Get(), &written)) ||
          written != 4096) {
        ++failures;
      }
    }
    return bench::NowNs() - start;
  };
  auto threeCalls = [&]() -> double {
    double start = bench::NowNs();
    for (int i = 0; i < 3; ++i) {
      if (FAILED(anchor->Empty())) ++failures;
    }
    return bench::NowNs() - start;
  };
  figures.fresh = bench::PairedTimedMediansNs(cycle, threeCalls, 5, 21);
  fresh = false;
  figures.rewrite = bench::PairedTimedMediansNs(cycle, threeCalls, 5, 21);
  DeleteFileW(path.c_str());
  if (failures != 0) {
    std::printf("%d write cycles failed: the figures are not valid\n", failures);
    return false;
  }
  return true;
}

// The bytes of a file; empty when it cannot be read.
std::string FileBytes(const std::wstring& path) {
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (file && ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got != 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

// A shortcut authorisation that SignedDataFixture.sh made in this build tree
// (the folder above bin).
std::wstring ShortcutFixture(const wchar_t* file) {
  wchar_t self[MAX_PATH] = {};
  std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  for (int up = 0; up < 2 && path.find_last_of(L'\\') != std::wstring::npos; ++up) {
    path.resize(path.find_last_of(L'\\'));
  }
  return path + L"\\signed-data-fixtures\\shortcut\\" + file;
}

UniqueSafeArray ByteVector(const std::string& bytes) {
  UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
  void* raw = nullptr;
  if (array && SUCCEEDED(SafeArrayAccessData(array.Get(), &raw))) {
    std::memcpy(raw, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array.Get());
  }
  return array;
}

// BrokerCreateInternetShortcut refused at its last check: the name, URL and
// icon pass, the strings hold the snippet, the message verifies under root
// B, the 4 KiB strings are hashed, and the content lacks their digest.
bool MeasureRefusedShortcut(IGlintBroker6* broker, IBenchAnchor* anchor, bench::Pair& figure) {
  const std::string strings = FileBytes(ShortcutFixture(L"no-digest.strings"));
  const std::string message = FileBytes(ShortcutFixture(L"no-digest.p7"));
  if (strings.empty() || message.empty()) {
    std::printf(
        "no shortcut authorisation at %ls: make it with tests/windows/SignedDataFixture.sh"
        " BUILD/signed-data-fixtures SOURCE\n",
        ShortcutFixture(L"").c_str());
    return false;
  }
  wchar_t roaming[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, roaming);
  const std::wstring iconPath =
      std::wstring(roaming) + L"\\Arvex\\Glint Player\\Icon Cache\\Glint Demo.ico";
  UniqueBstr name(SysAllocString(L"Glint Demo"));
  UniqueBstr url(SysAllocString(L"https://games.example.com/play/index.html"));
  UniqueBstr icon(SysAllocString(iconPath.c_str()));
  UniqueSafeArray stringArray = ByteVector(strings), messageArray = ByteVector(message);
  int failures = 0;
  auto refused = [&] {
    HRESULT answer = broker->BrokerCreateInternetShortcut(name.Get(), url.Get(), icon.Get(),
                                                          messageArray.Get(), stringArray.Get(), 1);
    if (answer != RPC_E_INVALID_PARAMETER) ++failures;
  };
  figure = bench::PairedMediansNs(
      refused, [&] { anchor->Empty(); }, 20, 51);
  if (failures != 0) {
    std::printf("%d shortcut requests were not refused: the figure is not valid\n", failures);
    return false;
  }
  return true;
}

// BrokerOpenFileWithAuditingInfo refused on a broker without enterprise
// identities, for an unprotected file outside the store, beside the ordinary
// read-only BrokerCreateFile refused for the same path: the audited open
// must add no query and no worker to the ordinary refusal.
bool MeasureRefusedAuditedOpen(IGlintBroker6* broker, bench::Pair& figure) {
  const std::wstring folder = L"C:\\glint-bench-audit", path = folder + L"\\plain.txt";
  CreateDirectoryW(folder.c_str(), nullptr);
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  file.Reset();
  UniqueBstr name(SysAllocString(path.c_str()));
  UniqueBstr url(SysAllocString(L"http://remote.example/doc"));
  int failures = 0;
  ULONG cookie = 0;
  figure = bench::PairedMediansNs(
      [&] {
        if (broker->BrokerOpenFileWithAuditingInfo(name.Get(), url.Get(), 1, &cookie) !=
            E_ACCESSDENIED)
          ++failures;
      },
      [&] {
        if (broker->BrokerCreateFile(name.Get(), 1, 0, &cookie) != E_ACCESSDENIED) ++failures;
      },
      20, 51);
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
  if (failures != 0) {
    std::printf("%d opens were not refused (a broker with identities?): not valid\n", failures);
    return false;
  }
  return true;
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
  double brokerStart = bench::Median(brokerStarts);
  double anchorStart = bench::Median(anchorStarts);

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

  bench::Pair call = bench::PairedMediansNs([&] { broker->BrokerLcdMessageTimeout(&timeout); },
                                            [&] { anchor->Empty(); }, 20, 51);
  bench::Report("BrokerLcdMessageTimeout through the proxy", call.subject,
                "IBenchAnchor::Empty through the proxy", call.anchor);

  FileFigures files;
  if (!MeasureFiles(broker.Get(), anchor.Get(), files)) return 1;
  bench::Report("BrokerReadFile 64 KiB through the proxy", files.read.subject,
                "IBenchAnchor::GiveBytes 64 KiB", files.read.anchor);
  bench::Report("BrokerWriteFile 64 KiB through the proxy", files.write.subject,
                "IBenchAnchor::TakeBytes 64 KiB", files.write.anchor);
  bench::Report("  the same at offset 64 KiB", files.writeLater.subject,
                "IBenchAnchor::TakeBytes 64 KiB", files.writeLater.anchor);

  CycleFigures cycle;
  if (!MeasureWriteCycle(broker.Get(), anchor.Get(), cycle)) return 1;
  bench::Report("create + write 4 KiB + close, new file", cycle.fresh.subject,
                "three IBenchAnchor::Empty calls", cycle.fresh.anchor);
  bench::Report("  the same, emptying the file again", cycle.rewrite.subject,
                "three IBenchAnchor::Empty calls", cycle.rewrite.anchor);

  bench::Pair shortcut;
  const bool shortcutMeasured = MeasureRefusedShortcut(broker.Get(), anchor.Get(), shortcut);
  if (shortcutMeasured) {
    bench::Report("BrokerCreateInternetShortcut, refused last", shortcut.subject,
                  "IBenchAnchor::Empty through the proxy", shortcut.anchor);
  }

  bench::Pair audited;
  const bool auditedMeasured = MeasureRefusedAuditedOpen(broker.Get(), audited);
  if (auditedMeasured) {
    bench::Report("BrokerOpenFileWithAuditingInfo refused", audited.subject,
                  "BrokerCreateFile read-only refused", audited.anchor);
  }

  int failures = 0;
  auto createAndRelease = [&failures](const Server& server, const IID* iid) {
    ComRef<IUnknown> object;
    if (FAILED(Create(server, object, iid))) ++failures;
  };
  bench::Pair create = bench::PairedMediansNs([&] { createAndRelease(kBroker, nullptr); },
                                              [&] { createAndRelease(kAnchor, nullptr); }, 2, 31);
  bench::Report("broker object, running server", create.subject,
                "bench_anchor object, running server", create.anchor);
  // Asked for IUnknown, COM builds no Automation proxy and stub for the
  // interface, so the difference to the line above is what they cost for the
  // broker's 102 methods against the anchor's three.
  bench::Pair bare =
      bench::PairedMediansNs([&] { createAndRelease(kBroker, &IID_IUnknown); },
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
  PrintRatio("BrokerReadFile 64 KiB", files.read.subject, files.read.anchor, "   (target <= 1.1)");
  PrintRatio("BrokerWriteFile 64 KiB", files.write.subject, files.write.anchor,
             "   (target <= 1.1)");
  PrintRatio("BrokerWriteFile 64 KiB at 64 KiB", files.writeLater.subject, files.writeLater.anchor,
             "");
  PrintRatio("create + write 4 KiB + close, new file", cycle.fresh.subject, cycle.fresh.anchor,
             "   (target <= 1.3)");
  PrintRatio("  the same, emptying the file again", cycle.rewrite.subject, cycle.rewrite.anchor,
             "");
  if (shortcutMeasured) {
    PrintRatio("shortcut refused at its last check", shortcut.subject, shortcut.anchor,
               "   (target <= 1.3)");
  }
  if (auditedMeasured) {
    PrintRatio("audited open refused, no identities", audited.subject, audited.anchor,
               "   (target <= 1.05)");
  }
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
