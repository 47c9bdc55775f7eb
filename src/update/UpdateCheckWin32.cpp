#include "update/UpdateCheckWin32.h"

#include <windows.h>

#include <wininet.h>

#include <new>
#include <string>

#include "engine/HostCallbacks.h"
#include "foundation/SystemModule.h"
#include "foundation/Win32Handles.h"
#include "foundation/WideText.h"
#include "update/UpdateCheck.h"

namespace {

// How long the caller still waits, after closing the session, for the
// request to end before it leaves it behind.
constexpr DWORD kClosingGraceMs = 2000;
constexpr char16_t kServer[] = u"https://update.glint.example";
constexpr char16_t kPath[] = u"/get/glintplayer/update/current/install/version.xml";

// The running system's answers, through VerifyVersionInfoW.
class SystemVersionFacts final : public VersionFacts {
 public:
  bool Matches(const VersionCondition& condition) const override {
    OSVERSIONINFOEXW wanted = {};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = condition.major;
    wanted.dwMinorVersion = condition.minor;
    DWORD type = VER_MAJORVERSION | VER_MINORVERSION;
    const BYTE compare = condition.orLater ? VER_GREATER_EQUAL : VER_EQUAL;
    DWORDLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, compare);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, compare);
    if (condition.orLater) {
      type |= VER_SERVICEPACKMAJOR;
      mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
      if (condition.build != 0) {
        wanted.dwBuildNumber = condition.build;
        type |= VER_BUILDNUMBER;
        mask = VerSetConditionMask(mask, VER_BUILDNUMBER, VER_GREATER_EQUAL);
      }
    }
    if (condition.product != ProductKind::kAny) {
      // A server is anything but a workstation: domain controllers too.
      wanted.wProductType = VER_NT_WORKSTATION;
      type |= VER_PRODUCT_TYPE;
      mask = VerSetConditionMask(
          mask, VER_PRODUCT_TYPE,
          condition.product == ProductKind::kWorkstation ? VER_EQUAL : VER_GREATER);
    }
    if (condition.suiteBits != 0) {
      wanted.wSuiteMask = condition.suiteBits;
      type |= VER_SUITENAME;
      mask = VerSetConditionMask(mask, VER_SUITENAME, VER_AND);
    }
    return VerifyVersionInfoW(&wanted, type, mask) != FALSE;
  }
  bool IsAmd64() const override {
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
  }
};

struct InternetHandleTraits {
  using Value = HINTERNET;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { InternetCloseHandle(v); }
};
using UniqueInternet = UniqueResource<InternetHandleTraits>;

}  // namespace

MString UpdateCheckUrl(HostCallbacks* host, const MString& ownVersion,
                       const UpdateCheckArguments& arguments) {
  UpdateCheckInputs in;
  in.ownVersion = ownVersion;
  in.playerType = arguments.playerType;
  in.installVector = arguments.installVector;
  in.errorCode = arguments.errorCode;
  in.windowsError = arguments.windowsError;
  in.previousVersion = MString(u"");
  in.processName = MString(u"");
  if (host != nullptr) {
    in.hostInstallVector = host->GetInstallVector();
    host->GetPreviousVersion(&in.previousVersion);
    host->GetProcessName(&in.processName);
    in.hostFlags = host->GetHostFlags();
  }
  in.languageId = GetUserDefaultLangID();
  in.wow64 = RunsUnderWow64();
  in.osVersionCode = OsVersionCode(SystemVersionFacts());
  return MString(kServer) + MString(kPath) + UpdateCheckQuery(in);
}

namespace {

// A request handed to the thread pool, shared by the caller and the pool's
// callback: the last of the two to let go frees it.
struct PendingRequest {
  std::wstring url;
  HINTERNET session = nullptr;
  HANDLE done = nullptr;
  HMODULE module = nullptr;  // keeps this code loaded until the callback ends
  LONG references = 2;
};

void Release(PendingRequest* pending) {
  if (InterlockedDecrement(&pending->references) != 0) return;
  CloseHandle(pending->done);
  delete pending;
}

void CALLBACK RunRequest(PTP_CALLBACK_INSTANCE instance, void* context) {
  auto* pending = static_cast<PendingRequest*>(context);
  // Opened and closed unread: the server learns the query from the request.
  HINTERNET request =
      InternetOpenUrlW(pending->session, pending->url.c_str(), L"", 0,
                       INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
  if (request != nullptr) InternetCloseHandle(request);
  SetEvent(pending->done);
  FreeLibraryWhenCallbackReturns(instance, pending->module);
  Release(pending);
}

}  // namespace

void SendUpdateCheck(const MString& url, DWORD phaseLimitMs) {
  UniqueInternet internet(
      InternetOpenW(L"Arvex Glint Player", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) return;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionW(internet.Get(), option, &phaseLimitMs, sizeof phaseLimitMs);
  }
  // Not every system's WinINet keeps those limits, nor ends a request when
  // its session is closed (a peer that takes the connection and never
  // answers can hold it for good), so the request runs on a pool thread and
  // the caller waits for it no longer than the three phases together.
  auto* pending = new (std::nothrow) PendingRequest;
  if (pending == nullptr) return;
  pending->url = W(url);
  pending->session = internet.Get();
  pending->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (pending->done == nullptr ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&RunRequest), &pending->module)) {
    if (pending->done != nullptr) CloseHandle(pending->done);
    delete pending;
    return;
  }
  if (!TrySubmitThreadpoolCallback(RunRequest, pending, nullptr)) {
    FreeLibrary(pending->module);
    CloseHandle(pending->done);
    delete pending;
    return;
  }
  const DWORD bound = phaseLimitMs > MAXDWORD / 3 ? MAXDWORD - 1 : 3 * phaseLimitMs;
  if (WaitForSingleObject(pending->done, bound) != WAIT_OBJECT_0) {
    internet.Reset();
    WaitForSingleObject(pending->done, kClosingGraceMs);
  }
  Release(pending);
}
