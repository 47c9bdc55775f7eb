// Stand-in for the runtime's storage and enterprise-data classes (StandInSettings.h): a
// file lookup, a protection query and an audited access request, each completing on a
// thread of its own and calling its completion handler there, as the system's do.
#include <windows.h>
#include <activation.h>
#include <inspectable.h>
#include <winstring.h>

#include <string>
#include <type_traits>

#include "StandInObject.h"
#include "StandInSettings.h"
#include "TaskStandInSettings.h"

// The caller's completion handler. Declared outside the anonymous namespace:
// nothing here implements it, and a type the compiler can see all of would
// let it drop calls to objects it cannot find.
struct CompletedHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IUnknown* operation, int status) = 0;
};

namespace {

const IID kIidStorageFileStatics = {
    0x5984C710, 0xDAF2, 0x43C8, {0x8B, 0xB4, 0xA4, 0xD3, 0xEA, 0xCF, 0xD0, 0x3F}};
const IID kIidStorageItem = {
    0x4207A996, 0xCA2F, 0x42F7, {0xBD, 0xE8, 0x8B, 0x10, 0x45, 0x7A, 0x7F, 0x30}};
const IID kIidFileProtectionManagerStatics = {
    0x5846FC9B, 0xE613, 0x426B, {0xBB, 0x38, 0x88, 0xCB, 0xA1, 0xDC, 0x9A, 0xDB}};
const IID kIidActivationFactory = {
    0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidInspectable = {
    0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
// This stand-in's own file object, found again behind a storage item.
const IID kIidStandInFile = {
    0x6A0F3C11, 0x52B4, 0x4E0D, {0x9B, 0x61, 0x0C, 0x7E, 0x2A, 0x44, 0x13, 0x90}};

const IID kIidAuditInfoFactory = {
    0x7ED4180B, 0x92E8, 0x42D5, {0x83, 0xD4, 0x25, 0x44, 0x0B, 0x42, 0x35, 0x49}};
const IID kIidManagerInterop2 = {
    0x157CFBE4, 0xA78D, 0x4156, {0xB3, 0x84, 0x61, 0xFD, 0xAC, 0x41, 0xE6, 0x86}};
const IID kIidEvaluationOperation = {
    0xE8D81715, 0xC56C, 0x5A6B, {0xB7, 0x38, 0x5D, 0xF6, 0xC2, 0x77, 0x5B, 0x7B}};
// This stand-in's own audit record, found again behind the interface passed in.
const IID kIidStandInAudit = {
    0x6A0F3C12, 0x52B4, 0x4E0D, {0x9B, 0x61, 0x0C, 0x7E, 0x2A, 0x44, 0x13, 0x90}};

enum AsyncStatus { kCompleted = 1, kError = 3 };

// Every object here answers IInspectable too; nothing asks for its runtime identity.
template <typename Interface, const IID&... kIids>
class Object : public standin::Unknown<Interface, kIidInspectable, kIids...> {
 public:
  HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }
};

// The layouts of the interfaces served, after IInspectable (slots nobody calls answer E_NOTIMPL).
struct StorageFileStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetFileFromPathAsync(HSTRING path, IUnknown** operation) = 0;
};
struct ProtectionManagerStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE ProtectAsync(IUnknown*, HSTRING, IUnknown**) {
    return E_NOTIMPL;
  }
  virtual HRESULT STDMETHODCALLTYPE CopyProtectionAsync(IUnknown*, IUnknown*, IUnknown**) {
    return E_NOTIMPL;
  }
  virtual HRESULT STDMETHODCALLTYPE GetProtectionInfoAsync(IUnknown* item, IUnknown** op) = 0;
};
struct ProtectionInfo : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Status(int* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsRoamable(boolean*) { return E_NOTIMPL; }
  virtual HRESULT STDMETHODCALLTYPE get_Identity(HSTRING* identity) = 0;
};
template <typename Result>
struct AsyncOperation : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(Result* result) = 0;
};

class File final : public Object<IInspectable, kIidStorageItem, kIidStandInFile> {
 public:
  explicit File(std::wstring name) : name(std::move(name)) {}
  const std::wstring name;
};

class Information final : public Object<ProtectionInfo> {
 public:
  Information(int status, std::wstring identity) : status_(status), identity_(identity) {}
  HRESULT STDMETHODCALLTYPE get_Status(int* status) override {
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Identity(HSTRING* identity) override {
    return WindowsCreateString(identity_.c_str(), static_cast<UINT32>(identity_.size()), identity);
  }

 private:
  int status_;
  std::wstring identity_;
};

// Completes on a thread of its own with `status` (once `wait`, when set, is
// signalled; an error when it is not within `ms`) and calls the completion
// handler there, at once on the caller's thread when it comes later.
template <typename Result, const IID&... kIids>
class Operation final : public Object<AsyncOperation<Result>, kIids...> {
 public:
  Operation(int status, Result result, HANDLE wait, DWORD ms = INFINITE)
      : outcome_(status), result_(result), wait_(wait), ms_(ms) {
    InitializeCriticalSection(&lock_);
    this->AddRef();  // the completing thread's
    HANDLE thread = CreateThread(nullptr, 0, &Operation::Complete, this, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
  }
  HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) override {
    EnterCriticalSection(&lock_);
    const int status = status_;
    if (status == 0) (handler_ = handler)->AddRef();
    LeaveCriticalSection(&lock_);
    if (status != 0) static_cast<CompletedHandler*>(handler)->Invoke(this, status);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetResults(Result* result) override {
    if (status_ != kCompleted) return static_cast<HRESULT>(0x8000000E);  // an illegal method call
    if constexpr (std::is_pointer_v<Result>) result_->AddRef();
    *result = result_;
    return S_OK;
  }

 private:
  ~Operation() override {
    if constexpr (std::is_pointer_v<Result>) {
      if (result_ != nullptr) result_->Release();
    }
    if (wait_ != nullptr) CloseHandle(wait_);
    DeleteCriticalSection(&lock_);
  }
  static DWORD WINAPI Complete(void* context) {
    auto* self = static_cast<Operation*>(context);
    int status = self->outcome_;
    if (self->wait_ == nullptr) {
      Sleep(20);
    } else if (WaitForSingleObject(self->wait_, self->ms_) != WAIT_OBJECT_0) {
      status = kError;
    }
    EnterCriticalSection(&self->lock_);
    self->status_ = status;
    IUnknown* handler = self->handler_;
    self->handler_ = nullptr;
    LeaveCriticalSection(&self->lock_);
    if (handler != nullptr) {
      static_cast<CompletedHandler*>(handler)->Invoke(self, status);
      handler->Release();
    }
    self->Release();
    return 0;
  }

  const int outcome_;
  Result result_;
  HANDLE wait_;
  const DWORD ms_;
  CRITICAL_SECTION lock_;
  IUnknown* handler_ = nullptr;
  volatile int status_ = 0;  // 0 until complete
};

// The file's setting, or empty when it has none.
std::wstring SettingOf(const std::wstring& name) {
  std::wstring text;
  return standin::ReadText(name.c_str(), REG_SZ, &text, standin::kProtectionKey) ? text : L"";
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::wstring Text(HSTRING string) {
  UINT32 length = 0;
  const wchar_t* text = WindowsGetStringRawBuffer(string, &length);
  return std::wstring(text != nullptr ? text : L"", length);
}

class Files final
    : public Object<StorageFileStatics, kIidStorageFileStatics, kIidActivationFactory> {
 public:
  HRESULT STDMETHODCALLTYPE GetFileFromPathAsync(HSTRING path, IUnknown** operation) override {
    std::wstring full = Text(path), name = full.substr(full.find_last_of(L'\\') + 1);
    const bool fails = SettingOf(name) == L"lookup";
    *operation = new Operation<IUnknown*>(fails ? kError : kCompleted,
                                          fails ? nullptr : new File(name), nullptr);
    return S_OK;
  }
};

class Manager final : public Object<ProtectionManagerStatics, kIidFileProtectionManagerStatics,
                                    kIidActivationFactory> {
 public:
  HRESULT STDMETHODCALLTYPE GetProtectionInfoAsync(IUnknown* item, IUnknown** op) override {
    File* file = nullptr;
    if (item == nullptr ||
        FAILED(item->QueryInterface(kIidStandInFile, reinterpret_cast<void**>(&file)))) {
      return E_INVALIDARG;
    }
    std::wstring setting = SettingOf(file->name);
    file->Release();
    int status = 1;  // unprotected
    std::wstring identity;
    if (!setting.empty()) {
      size_t bar = setting.find(L'|');
      status = _wtoi(setting.substr(0, bar).c_str());
      if (bar != std::wstring::npos) identity = setting.substr(bar + 1);
      identity = identity.substr(0, identity.find(L'|'));
    }
    HANDLE hold = EndsWith(setting, L"|hold")
                      ? CreateEventW(nullptr, TRUE, FALSE, standin::kReleaseEvent)
                      : nullptr;
    const bool error = EndsWith(setting, L"|error");
    *op = new Operation<IUnknown*>(error ? kError : kCompleted,
                                   error ? nullptr : new Information(status, identity), hold);
    return S_OK;
  }
};

struct AuditInfoFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Create(int action, HSTRING data, HSTRING source, HSTRING target,
                                           IUnknown** info) = 0;
};
struct ManagerInterop2 : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE RequestAccessForAppWithWindowAsync(HWND, HSTRING, HSTRING,
                                                                       REFIID, void**) {
    return E_NOTIMPL;
  }
  virtual HRESULT STDMETHODCALLTYPE
  RequestAccessWithAuditingInfoForWindowAsync(HWND window, HSTRING source, HSTRING target,
                                              IUnknown* audit, REFIID iid, void** operation) = 0;
};

class AuditInfo final : public Object<IInspectable, kIidStandInAudit> {
 public:
  AuditInfo(int action, std::wstring data, std::wstring source, std::wstring target)
      : action(action),
        data(std::move(data)),
        source(std::move(source)),
        target(std::move(target)) {}
  const int action;
  const std::wstring data, source, target;
};

class AuditFactory final
    : public Object<AuditInfoFactory, kIidAuditInfoFactory, kIidActivationFactory> {
 public:
  HRESULT STDMETHODCALLTYPE Create(int action, HSTRING data, HSTRING source, HSTRING target,
                                   IUnknown** info) override {
    *info = new AuditInfo(action, Text(data), Text(source), Text(target));
    return S_OK;
  }
};

constexpr UINT kDispatched = WM_APP + 7;

// A window of the calling thread: the answer waits until a message posted to
// it has been dispatched, as a consent dialog owned by the caller would.
LRESULT CALLBACK PumpProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kDispatched) {
    SetEvent(reinterpret_cast<HANDLE>(lParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
HWND ThreadWindow() {
  static thread_local HWND window = nullptr;
  if (window == nullptr) {
    WNDCLASSW type = {};
    type.lpfnWndProc = PumpProcedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"GlintStandInConsent";
    RegisterClassW(&type);
    window = CreateWindowW(L"GlintStandInConsent", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           type.hInstance, nullptr);
  }
  return window;
}

class PolicyManager final
    : public Object<ManagerInterop2, kIidManagerInterop2, kIidActivationFactory> {
 public:
  HRESULT STDMETHODCALLTYPE RequestAccessWithAuditingInfoForWindowAsync(HWND window, HSTRING source,
                                                                        HSTRING target,
                                                                        IUnknown* audit, REFIID iid,
                                                                        void** operation) override {
    *operation = nullptr;
    AuditInfo* info = nullptr;
    if (audit == nullptr || !IsEqualIID(iid, kIidEvaluationOperation) ||
        FAILED(audit->QueryInterface(kIidStandInAudit, reinterpret_cast<void**>(&info)))) {
      return E_INVALIDARG;
    }
    const std::wstring line = std::to_wstring(reinterpret_cast<ULONG_PTR>(window)) + L"|" +
                              Text(source) + L"|" + Text(target) + L"|" +
                              std::to_wstring(info->action) + L"|" + info->data + L"|" +
                              info->source + L"|" + info->target;
    standin::Log(standin::Utf8(line.c_str()), standin::kAuditLog);
    info->Release();
    HANDLE dispatched = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    PostMessageW(ThreadWindow(), kDispatched, 0, reinterpret_cast<LPARAM>(dispatched));
    auto answer = static_cast<int>(standin::ReadResult(standin::kAuditAnswer, 1));
    // A caller that does not pump never gets its answer.
    *operation = static_cast<AsyncOperation<int>*>(
        new Operation<int, kIidEvaluationOperation>(kCompleted, answer, dispatched, 60000));
    return S_OK;
  }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetActivationFactory(HSTRING classId, IUnknown** factory) {
  std::wstring requested = Text(classId);
  if (requested == standin::kStorageFileClass) {
    *factory = static_cast<StorageFileStatics*>(new Files);
  } else if (requested == standin::kProtectionManagerClass) {
    *factory = static_cast<ProtectionManagerStatics*>(new Manager);
  } else if (requested == standin::kAuditInfoClass) {
    *factory = static_cast<AuditInfoFactory*>(new AuditFactory);
  } else if (requested == standin::kPolicyManagerClass) {
    *factory = static_cast<ManagerInterop2*>(new PolicyManager);
  } else {
    *factory = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return S_OK;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
  return S_FALSE;
}
