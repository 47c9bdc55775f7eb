#include "broker/services/EnterpriseData.h"

#include <ole2.h>
#include <shobjidl.h>
#include <urlmon.h>

#include <cstring>
#include <new>
#include <mutex>
#include <optional>

#include "broker/services/DialogRules.h"
#include "broker/services/FileDialogs.h"
#include "foundation/SystemModule.h"
#include "foundation/Win32Handles.h"

namespace {

// Not in every uuid library.
const CLSID kClsidPersistentZoneIdentifier = {
    0x0968E258, 0x16C7, 0x4DBA, {0xAA, 0x86, 0x46, 0x2D, 0xD6, 0x1E, 0x31, 0xA3}};
const CLSID kClsidAttachmentServices = {
    0x4125DD96, 0xE03A, 0x4103, {0x8F, 0x70, 0xE0, 0x59, 0x7D, 0x80, 0x3B, 0x9C}};
const IID kIidZoneIdentifier = {
    0xCD45F185, 0x1B21, 0x48E2, {0x96, 0x7B, 0xEA, 0xD7, 0x43, 0xA8, 0x91, 0x4E}};
const IID kIidAttachmentExecute = {
    0x73DB1241, 0x1E85, 0x4581, {0x8E, 0x4F, 0xA8, 0x1E, 0x1D, 0x0F, 0x8C, 0x57}};

constexpr DWORD kUrlZoneLocalMachine = 0;
constexpr DWORD kUrlZoneInternet = 3;

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() {
    if (p != nullptr) p->Release();
  }
  void** Out() { return reinterpret_cast<void**>(&p); }
};

using SrpGetEnterpriseIdsFn = HRESULT(WINAPI*)(HANDLE, PULONG, PCWSTR*, PULONG);

}  // namespace

// --- identities ---------------------------------------------------------------

EnterpriseIds::EnterpriseIds(bool fromClient) : EnterpriseIds(fromClient, SrpapiDllHelper()) {}

EnterpriseIds::EnterpriseIds(bool fromClient, const SrpapiDllHelper& srpapi)
    : fromClient_(fromClient) {
  if (srpapi.SrpGetEnterpriseIds == nullptr) return;
  UniqueHandle token;
  bool impersonating = false;
  if (fromClient) {
    if (FAILED(CoImpersonateClient())) return;
    impersonating = true;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive())) token.Reset();
  } else if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
    token.Reset();
  }
  if (token) {
    ULONG bytes = 0;
    ULONG count = 0;
    HRESULT first = srpapi.SrpGetEnterpriseIds(token.Get(), &bytes, nullptr, &count);
    if (first == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) && count > 0 && bytes > 0 &&
        bytes < (1u << 20)) {
      buffer_.assign(bytes, 0);
      if (SUCCEEDED(srpapi.SrpGetEnterpriseIds(
              token.Get(), &bytes, reinterpret_cast<PCWSTR*>(buffer_.data()), &count))) {
        count_ = count;
      }
    } else if (first == E_INVALIDARG) {
      bytes = 260;
      buffer_.assign(bytes, 0);
      if (SUCCEEDED(srpapi.SrpGetEnterpriseIds(
              token.Get(), &bytes, reinterpret_cast<PCWSTR*>(buffer_.data()), &count)) &&
          count > 0) {
        count_ = count;
      }
    }
    if (count_ == 0) buffer_.clear();
    // The identities must lie inside the buffer the system filled.
    if (count_ > 0 && count_ * sizeof(PCWSTR) > buffer_.size()) {
      count_ = 0;
      buffer_.clear();
    }
  }
  if (impersonating) CoRevertToSelf();
}

const wchar_t* EnterpriseIds::Identity(ULONG index) const {
  if (index >= count_ || buffer_.empty()) return nullptr;
  return reinterpret_cast<const PCWSTR*>(buffer_.data())[index];
}

bool EnterpriseIds::HasIdentity() const {
  const wchar_t* first = Identity(0);
  return count_ > 0 && first != nullptr && first[0] != 0;
}

bool EnterpriseIds::Holds(const std::wstring& identity) const {
  for (ULONG i = 0; i < count_; ++i) {
    const wchar_t* candidate = Identity(i);
    if (candidate != nullptr && identity == candidate) return true;
  }
  return false;
}

// --- worker thread ---------------------------------------------------------------

namespace {
TaskWorker* g_worker = nullptr;
}

TaskWorker::TaskWorker() {
  InitializeCriticalSection(&section_);
  InitializeConditionVariable(&wake_);
  thread_ = CreateThread(nullptr, 0, &TaskWorker::Loop, this, 0, nullptr);
}

TaskWorker::~TaskWorker() {
  DeleteCriticalSection(&section_);
}

TaskWorker* TaskWorker::Shared(bool create) {
  if (g_worker == nullptr && create) g_worker = new (std::nothrow) TaskWorker;
  return g_worker;
}

bool TaskWorker::Post(Task* task) {
  if (thread_ == nullptr) return false;
  EnterCriticalSection(&section_);
  bool accepted = !stop_;
  if (accepted) pending_ = task;
  LeaveCriticalSection(&section_);
  if (accepted) WakeConditionVariable(&wake_);
  return accepted;
}

DWORD WINAPI TaskWorker::Loop(void* context) {
  auto* self = static_cast<TaskWorker*>(context);
  while (true) {
    EnterCriticalSection(&self->section_);
    if (self->stop_) {
      LeaveCriticalSection(&self->section_);
      return 0;
    }
    Task* task = self->pending_;
    self->pending_ = nullptr;
    if (task == nullptr) {
      SleepConditionVariableCS(&self->wake_, &self->section_, INFINITE);
      LeaveCriticalSection(&self->section_);
      continue;
    }
    LeaveCriticalSection(&self->section_);
    task->Run();
  }
}

void TaskWorker::StopShared() {
  TaskWorker* worker = g_worker;
  if (worker == nullptr) return;
  g_worker = nullptr;
  EnterCriticalSection(&worker->section_);
  worker->stop_ = true;
  LeaveCriticalSection(&worker->section_);
  WakeAllConditionVariable(&worker->wake_);
  if (worker->thread_ != nullptr) {
    DWORD waited;
    while ((waited = WaitForSingleObject(worker->thread_, 1000)) == WAIT_TIMEOUT) {
    }
    CloseHandle(worker->thread_);
  }
  delete worker;
}

// --- protection query ----------------------------------------------------------------

namespace {

// The few Windows Runtime interfaces the query needs, declared by their
// table layout: IUnknown (3 slots), IInspectable (3), then their own methods.
const IID kIidStorageFileStatics = {
    0x5984C710, 0xDAF2, 0x43C8, {0x8B, 0xB4, 0xA4, 0xD3, 0xEA, 0xCF, 0xD0, 0x3F}};
const IID kIidStorageItem = {
    0x4207A996, 0xCA2F, 0x42F7, {0xBD, 0xE8, 0x8B, 0x10, 0x45, 0x7A, 0x7F, 0x30}};
const IID kIidFileProtectionManagerStatics = {
    0x5846FC9B, 0xE613, 0x426B, {0xBB, 0x38, 0x88, 0xCB, 0xA1, 0xDC, 0x9A, 0xDB}};
// The completion handlers of the two operations: of a file lookup, and of a
// protection-information query.
const IID kIidFileCompletedHandler = {
    0xE521C894, 0x2C26, 0x5946, {0x9E, 0x61, 0x2B, 0x5E, 0x18, 0x8D, 0x01, 0xED}};
const IID kIidInformationCompletedHandler = {
    0x2918FFEA, 0xE091, 0x53E2, {0xBD, 0xE5, 0x61, 0x7C, 0x9B, 0xB3, 0xD8, 0xFE}};
// The handlers may be called on any thread.
const IID kIidAgileObject = {
    0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};

using HString = void*;

struct InspectableTable {
  void* queryInterface;
  void* addRef;
  void* release;
  void* getIids;
  void* getRuntimeClassName;
  void* getTrustLevel;
};

struct StorageFileStatics {  // GetFileFromPathAsync is its first method
  struct Table {
    InspectableTable base;
    HRESULT(STDMETHODCALLTYPE* getFileFromPathAsync)
    (void* self, HString path, IUnknown** operation);
  } * table;
};

struct FileProtectionManagerStatics {  // ProtectAsync, CopyProtectionAsync, GetProtectionInfoAsync
  struct Table {
    InspectableTable base;
    void* protectAsync;
    void* copyProtectionAsync;
    HRESULT(STDMETHODCALLTYPE* getProtectionInfoAsync)
    (void* self, IUnknown* item, IUnknown** operation);
  } * table;
};

struct AsyncOperation {  // put_Completed, get_Completed, GetResults
  struct Table {
    InspectableTable base;
    HRESULT(STDMETHODCALLTYPE* putCompleted)(void* self, IUnknown* handler);
    void* getCompleted;
    HRESULT(STDMETHODCALLTYPE* getResults)(void* self, IUnknown** result);
  } * table;
};

struct FileProtectionInfo {  // get_Status, get_IsRoamable, get_Identity
  struct Table {
    InspectableTable base;
    HRESULT(STDMETHODCALLTYPE* getStatus)(void* self, int* status);
    void* getIsRoamable;
    HRESULT(STDMETHODCALLTYPE* getIdentity)(void* self, HString* identity);
  } * table;
};

constexpr int kAsyncCompleted = 1;

// Protected, protected by another user, to another enterprise, or to another
// identity. Every other status (undetermined, unprotected, revoked, not
// protectable, and those added later) leaves the file unprotected.
bool CountsAsProtected(int status) {
  return status == 3 || status == 4 || status == 5 || status == 7;
}

// Owns one reference of a runtime object, whatever its interface.
class RuntimeRef {
 public:
  RuntimeRef() = default;
  explicit RuntimeRef(void* object) : object_(static_cast<IUnknown*>(object)) {}
  ~RuntimeRef() { Reset(); }
  RuntimeRef(const RuntimeRef&) = delete;
  RuntimeRef& operator=(const RuntimeRef&) = delete;

  explicit operator bool() const { return object_ != nullptr; }
  IUnknown* Get() const { return object_; }
  template <typename T>
  T* As() const {
    return reinterpret_cast<T*>(object_);
  }
  // For an out-parameter: the reference it receives.
  IUnknown** Receive() {
    Reset();
    return &object_;
  }
  void Reset() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  IUnknown* object_ = nullptr;
};

HRESULT Attach(IUnknown* operation, IUnknown* handler) {
  return reinterpret_cast<AsyncOperation*>(operation)->table->putCompleted(operation, handler);
}

// The result of a completed operation; empty when it did not complete.
void TakeResult(IUnknown* operation, int status, RuntimeRef& result) {
  auto* completed = reinterpret_cast<AsyncOperation*>(operation);
  if (status != kAsyncCompleted || operation == nullptr ||
      FAILED(completed->table->getResults(operation, result.Receive()))) {
    result.Reset();
  }
}

// The runtime's completion handler interface: IUnknown, then Invoke.
class CompletedHandler : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Invoke(IUnknown* operation, int status) = 0;
};

// A handler's IUnknown: its own interface, IUnknown and IAgileObject (the
// runtime calls it from any thread); freed at its last release.
class AgileCompletedHandler : public CompletedHandler {
 public:
  explicit AgileCompletedHandler(const IID& iid) : iid_(iid) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_) ||
        IsEqualIID(iid, kIidAgileObject)) {
      AddRef();
      *object = static_cast<CompletedHandler*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~AgileCompletedHandler() = default;

 private:
  IID iid_;
  volatile LONG references_ = 1;
};

// Hands a completed operation to one step of a query. Holds no reference
// to the query: the query lives until its last step has finished it.
class QueryStep final : public AgileCompletedHandler {
 public:
  using Step = void (BrokerFileProtectionInfo::*)(IUnknown*, int);
  QueryStep(BrokerFileProtectionInfo* query, const IID& iid, Step step)
      : AgileCompletedHandler(iid), query_(query), step_(step) {}

  HRESULT STDMETHODCALLTYPE Invoke(IUnknown* operation, int status) override {
    // A handler runs once; a second call would reach a finished query.
    BrokerFileProtectionInfo* query = static_cast<BrokerFileProtectionInfo*>(
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&query_), nullptr));
    if (query != nullptr) (query->*step_)(operation, status);
    return S_OK;
  }

 private:
  ~QueryStep() override = default;
  BrokerFileProtectionInfo* volatile query_;
  Step step_;
};

}  // namespace

// The runtime's entry points, bound from combase.dll in the system folder.
struct ProtectionRuntime {
  using InitializeFn = HRESULT(WINAPI*)(int);
  using UninitializeFn = void(WINAPI*)();
  using GetFactoryFn = HRESULT(WINAPI*)(HString, REFIID, void**);
  using CreateStringFn = HRESULT(WINAPI*)(const wchar_t*, UINT32, HString*);
  using DeleteStringFn = HRESULT(WINAPI*)(HString);
  using RawBufferFn = const wchar_t*(WINAPI*)(HString, UINT32*);

  SystemModule combase;
  InitializeFn initialize = nullptr;
  UninitializeFn uninitialize = nullptr;
  GetFactoryFn getFactory = nullptr;
  CreateStringFn createString = nullptr;
  DeleteStringFn deleteString = nullptr;
  RawBufferFn rawBuffer = nullptr;

  ProtectionRuntime() {
    if (!combase.Load(MString(u"combase.dll"))) return;
    initialize = combase.ResolveAs<InitializeFn>("RoInitialize");
    uninitialize = combase.ResolveAs<UninitializeFn>("RoUninitialize");
    getFactory = combase.ResolveAs<GetFactoryFn>("RoGetActivationFactory");
    createString = combase.ResolveAs<CreateStringFn>("WindowsCreateString");
    deleteString = combase.ResolveAs<DeleteStringFn>("WindowsDeleteString");
    rawBuffer = combase.ResolveAs<RawBufferFn>("WindowsGetStringRawBuffer");
  }
  bool Complete() const {
    return initialize && uninitialize && getFactory && createString && deleteString && rawBuffer;
  }
  // An activation factory by class name, as the interface asked for.
  template <typename T>
  T* Factory(const wchar_t* name, const IID& iid) {
    HString className = nullptr;
    void* factory = nullptr;
    if (SUCCEEDED(createString(name, static_cast<UINT32>(wcslen(name)), &className))) {
      if (FAILED(getFactory(className, iid, &factory))) factory = nullptr;
      deleteString(className);
    }
    return static_cast<T*>(factory);
  }
};

BrokerFileProtectionInfo::BrokerFileProtectionInfo(const std::wstring& path)
    : path_(path.substr(0, MAX_PATH)) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (kernel32_.GetFileAttributesExW == nullptr ||
      !kernel32_.GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
    state_ = kFailed;
    return;
  }
  runtime_.reset(new (std::nothrow) ProtectionRuntime);
  done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TaskWorker* worker = TaskWorker::Shared(true);
  if (runtime_ == nullptr || done_ == nullptr || worker == nullptr || !worker->Post(this)) {
    state_ = kFailed;
    return;
  }
  // No time limit: an answer that has not come is not "not protected".
  while (WaitForSingleObject(done_, INFINITE) != WAIT_OBJECT_0) {
    if (state_ == kDone || state_ == kFailed) break;
  }
}

BrokerFileProtectionInfo::~BrokerFileProtectionInfo() {
  if (done_ != nullptr) CloseHandle(done_);
}

void BrokerFileProtectionInfo::Finish(State state) {
  InterlockedExchange(&state_, state);
  if (done_ != nullptr) SetEvent(done_);
}

void BrokerFileProtectionInfo::Run() {
  // The query goes through the Windows Runtime's storage and enterprise-data
  // classes; where the runtime or either class is missing the file counts as
  // not protected.
  ProtectionRuntime& runtime = *runtime_;
  if (!runtime.Complete() || FAILED(runtime.initialize(1 /* multithreaded */))) {
    Finish(kFailed);
    return;
  }
  const ProtectionRuntime::UninitializeFn uninitialize = runtime.uninitialize;
  HRESULT attached = E_FAIL;
  {
    RuntimeRef files(
        runtime.Factory<IUnknown>(L"Windows.Storage.StorageFile", kIidStorageFileStatics));
    manager_ = runtime.Factory<IUnknown>(L"Windows.Security.EnterpriseData.FileProtectionManager",
                                         kIidFileProtectionManagerStatics);
    HString path = nullptr;
    RuntimeRef lookup;
    if (files && manager_ != nullptr &&
        SUCCEEDED(runtime.createString(path_.c_str(), static_cast<UINT32>(path_.size()), &path))) {
      auto* statics = files.As<StorageFileStatics>();
      if (FAILED(statics->table->getFileFromPathAsync(statics, path, lookup.Receive()))) {
        lookup.Reset();
      }
    }
    if (path != nullptr) runtime.deleteString(path);
    RuntimeRef handler(lookup ? new (std::nothrow) QueryStep(this, kIidFileCompletedHandler,
                                                             &BrokerFileProtectionInfo::FileFound)
                              : nullptr);
    if (handler) {
      InterlockedExchange(&state_, kFileLookup);
      attached = Attach(lookup.Get(), handler.Get());
    }
    // Once attached, the handler may already have finished the query: only
    // locals from here on.
  }
  if (FAILED(attached)) {
    RuntimeRef unused(manager_);
    manager_ = nullptr;
    Finish(kFailed);
  }
  uninitialize();
}

void BrokerFileProtectionInfo::FileFound(IUnknown* operation, int status) {
  HRESULT attached = E_FAIL;
  {
    RuntimeRef manager(manager_);
    manager_ = nullptr;
    RuntimeRef file, item, query;
    TakeResult(operation, status, file);
    if (file && manager &&
        SUCCEEDED(file.Get()->QueryInterface(kIidStorageItem,
                                             reinterpret_cast<void**>(item.Receive())))) {
      auto* statics = manager.As<FileProtectionManagerStatics>();
      if (FAILED(statics->table->getProtectionInfoAsync(statics, item.Get(), query.Receive()))) {
        query.Reset();
      }
    }
    RuntimeRef handler(query ? new (std::nothrow)
                                   QueryStep(this, kIidInformationCompletedHandler,
                                             &BrokerFileProtectionInfo::InformationArrived)
                             : nullptr);
    if (handler) {
      InterlockedExchange(&state_, kProtectionQuery);
      attached = Attach(query.Get(), handler.Get());
    }
  }
  if (FAILED(attached)) Finish(kFailed);
}

void BrokerFileProtectionInfo::InformationArrived(IUnknown* operation, int status) {
  State outcome = kFailed;
  {
    RuntimeRef result;
    TakeResult(operation, status, result);
    auto* information = result.As<FileProtectionInfo>();
    int protection = 0;
    if (information != nullptr &&
        SUCCEEDED(information->table->getStatus(information, &protection)) &&
        CountsAsProtected(protection)) {
      HString identity = nullptr;
      if (SUCCEEDED(information->table->getIdentity(information, &identity)) &&
          identity != nullptr) {
        UINT32 length = 0;
        const wchar_t* text = runtime_->rawBuffer(identity, &length);
        if (text != nullptr) identity_.assign(text, length);
        runtime_->deleteString(identity);
      }
      isProtected_ = 1;
      outcome = kDone;
    }
  }
  Finish(outcome);
}

// --- audited access request ---------------------------------------------------------

namespace {

const IID kIidAuditInfoFactory = {
    0x7ED4180B, 0x92E8, 0x42D5, {0x83, 0xD4, 0x25, 0x44, 0x0B, 0x42, 0x35, 0x49}};
const IID kIidManagerInterop2 = {
    0x157CFBE4, 0xA78D, 0x4156, {0xB3, 0x84, 0x61, 0xFD, 0xAC, 0x41, 0xE6, 0x86}};
// IAsyncOperation<ProtectionPolicyEvaluationResult> and its completion handler.
const IID kIidEvaluationOperation = {
    0xE8D81715, 0xC56C, 0x5A6B, {0xB7, 0x38, 0x5D, 0xF6, 0xC2, 0x77, 0x5B, 0x7B}};
const IID kIidEvaluationCompletedHandler = {
    0x2833BA54, 0xA4E1, 0x5C2D, {0x8A, 0x7A, 0x13, 0x6E, 0x85, 0x10, 0xC7, 0x8B}};

constexpr int kAuditActionOther = 3;

struct AuditInfoFactory {  // Create is its first method
  struct Table {
    InspectableTable base;
    HRESULT(STDMETHODCALLTYPE* create)
    (void* self, int action, HString data, HString source, HString target, IUnknown** info);
  } * table;
};

struct ManagerInterop2 {  // the window forms of the access requests
  struct Table {
    InspectableTable base;
    void* requestAccessForAppWithWindowAsync;
    HRESULT(STDMETHODCALLTYPE* requestAccessWithAuditingInfoForWindowAsync)
    (void* self, HWND window, HString sourceIdentity, HString targetIdentity, IUnknown* auditInfo,
     REFIID iid, void** operation);
  } * table;
};

struct EvaluationOperation {  // put_Completed, get_Completed, GetResults
  struct Table {
    InspectableTable base;
    HRESULT(STDMETHODCALLTYPE* putCompleted)(void* self, IUnknown* handler);
    void* getCompleted;
    HRESULT(STDMETHODCALLTYPE* getResults)(void* self, int* result);
  } * table;
};

// Stores the evaluation and signals; owns its event, so that an answer that
// comes after the caller stopped waiting touches only this object.
class EvaluationHandler final : public AgileCompletedHandler {
 public:
  EvaluationHandler()
      : AgileCompletedHandler(kIidEvaluationCompletedHandler),
        done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  HANDLE Done() const { return done_; }
  LONG Result() const { return result_; }

  HRESULT STDMETHODCALLTYPE Invoke(IUnknown* operation, int status) override {
    int value = DialogRules::kEvaluationBlocked;
    auto* evaluation = reinterpret_cast<EvaluationOperation*>(operation);
    if (status == kAsyncCompleted && operation != nullptr &&
        SUCCEEDED(evaluation->table->getResults(operation, &value))) {
      InterlockedExchange(&result_, value);
    }
    if (done_ != nullptr) SetEvent(done_);
    return S_OK;
  }

 private:
  ~EvaluationHandler() override {
    if (done_ != nullptr) CloseHandle(done_);
  }
  HANDLE done_;
  volatile LONG result_ = DialogRules::kEvaluationBlocked;
};

// A runtime string, deleted with this.
class RuntimeString {
 public:
  RuntimeString(ProtectionRuntime& runtime, const wchar_t* text, size_t length)
      : runtime_(runtime) {
    made_ = SUCCEEDED(runtime.createString(text, static_cast<UINT32>(length), &string_));
  }
  ~RuntimeString() {
    if (string_ != nullptr) runtime_.deleteString(string_);
  }
  RuntimeString(const RuntimeString&) = delete;
  RuntimeString& operator=(const RuntimeString&) = delete;
  bool Made() const { return made_; }
  HString Get() const { return string_; }

 private:
  ProtectionRuntime& runtime_;
  HString string_ = nullptr;
  bool made_ = false;
};

std::wstring WideOf(const DialogRules::Text& text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

// Waits for the event while dispatching every message of this thread; false
// when the wait itself fails. A quit message that arrives meanwhile is the
// server's and is posted again afterwards.
bool PumpUntil(HANDLE event) {
  bool quit = false;
  int quitCode = 0;
  bool signalled = false;
  while (true) {
    DWORD waited = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
    if (waited == WAIT_OBJECT_0) {
      signalled = true;
      break;
    }
    if (waited != WAIT_OBJECT_0 + 1) break;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (quit) PostQuitMessage(quitCode);
  return signalled;
}

// The request itself, once the runtime is up: false unless Allowed.
bool AskForAccess(ProtectionRuntime& runtime, const DialogRules::AuditDescriptions& parts,
                  const wchar_t* fileIdentity, const std::wstring& remoteUrl,
                  const wchar_t* clientIdentity, HWND window) {
  const std::wstring data = WideOf(parts.data), source = WideOf(parts.source);
  RuntimeString dataText(runtime, data.c_str(), data.size());
  RuntimeString sourceText(runtime, source.c_str(), source.size());
  RuntimeString targetText(runtime, remoteUrl.c_str(), remoteUrl.size());
  RuntimeString fileId(runtime, fileIdentity, wcslen(fileIdentity));
  RuntimeString clientId(runtime, clientIdentity, wcslen(clientIdentity));
  if (!dataText.Made() || !sourceText.Made() || !targetText.Made() || !fileId.Made() ||
      !clientId.Made()) {
    return false;
  }
  RuntimeRef factory(runtime.Factory<IUnknown>(
      L"Windows.Security.EnterpriseData.ProtectionPolicyAuditInfo", kIidAuditInfoFactory));
  RuntimeRef manager(runtime.Factory<IUnknown>(
      L"Windows.Security.EnterpriseData.ProtectionPolicyManager", kIidManagerInterop2));
  if (!factory || !manager) return false;
  RuntimeRef audit;
  auto* auditFactory = factory.As<AuditInfoFactory>();
  if (FAILED(auditFactory->table->create(auditFactory, kAuditActionOther, dataText.Get(),
                                         sourceText.Get(), targetText.Get(), audit.Receive())) ||
      !audit) {
    return false;
  }
  RuntimeRef operation;
  auto* interop = manager.As<ManagerInterop2>();
  if (FAILED(interop->table->requestAccessWithAuditingInfoForWindowAsync(
          interop, window, fileId.Get(), clientId.Get(), audit.Get(), kIidEvaluationOperation,
          reinterpret_cast<void**>(operation.Receive()))) ||
      !operation) {
    return false;
  }
  auto* answer = new (std::nothrow) EvaluationHandler;
  RuntimeRef handler(static_cast<CompletedHandler*>(answer));
  if (answer == nullptr || answer->Done() == nullptr) return false;
  auto* evaluation = operation.As<EvaluationOperation>();
  if (FAILED(evaluation->table->putCompleted(evaluation, handler.Get()))) return false;
  return PumpUntil(answer->Done()) && answer->Result() == DialogRules::kEvaluationAllowed;
}

}  // namespace

bool RequestAccessWithAuditing(const std::wstring& path, const wchar_t* fileIdentity,
                               const std::wstring& remoteUrl, const wchar_t* clientIdentity,
                               ULONG window) {
  if (!DialogRules::MayRequestAudit(reinterpret_cast<const char16_t*>(fileIdentity),
                                    reinterpret_cast<const char16_t*>(clientIdentity), window)) {
    return false;
  }
  std::optional<DialogRules::AuditDescriptions> parts = DialogRules::SplitAuditPath(
      DialogRules::Text(reinterpret_cast<const char16_t*>(path.data()), path.size()));
  if (!parts) return false;
  ProtectionRuntime runtime;
  if (!runtime.Complete()) return false;
  const HRESULT initialized = runtime.initialize(0 /* single-threaded */);
  const bool allowed =
      AskForAccess(runtime, *parts, fileIdentity, remoteUrl, clientIdentity, PlayerWindow(window));
  if (SUCCEEDED(initialized)) runtime.uninitialize();
  return allowed;
}

// --- zone marking --------------------------------------------------------------------

namespace {

// The class registrations of the machine and of the user. A change below
// either starts a new generation; generation 0 is never current.
class ClassRegistrations {
 public:
  ClassRegistrations() {
    watches_[0].Open(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID");
    watches_[1].Open(HKEY_CURRENT_USER, L"Software\\Classes");
  }
  unsigned Generation() {
    for (Watch& watch : watches_) {
      if (watch.Fired()) ++generation_;
    }
    return generation_;
  }

 private:
  struct Watch {
    void Open(HKEY root, const wchar_t* path) {
      if (RegOpenKeyExW(root, path, 0, KEY_NOTIFY, key.Receive()) != ERROR_SUCCESS) return;
      changed.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
      Arm();
    }
    void Arm() {
      armed = changed && RegNotifyChangeKeyValue(
                             key.Get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                             changed.Get(), TRUE) == ERROR_SUCCESS;
    }
    // A registration the key cannot tell about counts as a change.
    bool Fired() {
      if (!key) return false;
      if (armed && WaitForSingleObject(changed.Get(), 0) != WAIT_OBJECT_0) return false;
      Arm();
      return true;
    }
    UniqueRegKey key;
    UniqueHandle changed;
    bool armed = false;
  };
  Watch watches_[2];
  unsigned generation_ = 1;
};

// A system class that lives in an in-process server and that some systems
// lack. It is created as an in-process server only: asking for any context
// also makes COM look for a local server, a round trip that some platforms
// pay with registry handles they never close. A class found missing is not
// asked for again until class registrations change, so a system without it
// pays for one failed activation, not one per file.
class SystemClass {
 public:
  explicit SystemClass(const CLSID& clsid) : clsid_(clsid) {}
  HRESULT Create(REFIID iid, void** object) {
    *object = nullptr;
    unsigned generation;
    {
      std::lock_guard<std::mutex> hold(Lock());
      generation = Registrations().Generation();
      if (missingIn_ == generation) return REGDB_E_CLASSNOTREG;
    }
    HRESULT result = CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    if (result == REGDB_E_CLASSNOTREG) {
      std::lock_guard<std::mutex> hold(Lock());
      missingIn_ = generation;
    }
    return result;
  }

 private:
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static ClassRegistrations& Registrations() {
    static ClassRegistrations registrations;
    return registrations;
  }
  const CLSID& clsid_;
  unsigned missingIn_ = 0;
};

SystemClass& ZoneIdentifierClass() {
  static SystemClass zoneIdentifier(kClsidPersistentZoneIdentifier);
  return zoneIdentifier;
}
SystemClass& AttachmentServicesClass() {
  static SystemClass attachmentServices(kClsidAttachmentServices);
  return attachmentServices;
}

}  // namespace

GlintBrokerZoneIdentifier::GlintBrokerZoneIdentifier()
    : comReady_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

GlintBrokerZoneIdentifier::~GlintBrokerZoneIdentifier() {
  if (comReady_) CoUninitialize();
}

bool GlintBrokerZoneIdentifier::HasInternetZone(const wchar_t* path) {
  ComPtr<IPersistFile> file;
  if (FAILED(ZoneIdentifierClass().Create(IID_IPersistFile, file.Out())) ||
      FAILED(file.p->Load(path, STGM_READ))) {
    return false;
  }
  ComPtr<IZoneIdentifier> zone;
  DWORD id = kUrlZoneLocalMachine;
  return SUCCEEDED(file.p->QueryInterface(kIidZoneIdentifier, zone.Out())) &&
         SUCCEEDED(zone.p->GetId(&id)) && id != kUrlZoneLocalMachine;
}

bool GlintBrokerZoneIdentifier::Mark(const wchar_t* path) {
  if (!comReady_ || path == nullptr) return false;
  if (HasInternetZone(path)) return true;
  ComPtr<IZoneIdentifier> zone;
  if (FAILED(ZoneIdentifierClass().Create(kIidZoneIdentifier, zone.Out()))) {
    return true;  // no zone identifiers on this system: nothing to write
  }
  ComPtr<IPersistFile> file;
  return SUCCEEDED(zone.p->SetId(kUrlZoneInternet)) &&
         SUCCEEDED(zone.p->QueryInterface(IID_IPersistFile, file.Out())) &&
         SUCCEEDED(file.p->Save(path, TRUE));
}

bool GlintBrokerAttachmentExecute::Mark(const wchar_t* path) {
  if (!comReady_ || path == nullptr) return false;
  wchar_t full[MAX_PATH];
  DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
  if (HasInternetZone(full)) return true;
  ComPtr<IAttachmentExecute> attachment;
  if (FAILED(AttachmentServicesClass().Create(kIidAttachmentExecute, attachment.Out()))) {
    return true;
  }
  return SUCCEEDED(attachment.p->SetLocalPath(full)) &&
         SUCCEEDED(attachment.p->SetSource(L"http://")) && SUCCEEDED(attachment.p->Save());
}

HRESULT ProtectFileToEnterpriseIdentity(const Edpwin32DllHelper& helper, const wchar_t* path,
                                        const wchar_t* identity) {
  // Without the system's function nothing is protected, and nothing fails.
  if (helper.ProtectFileToEnterpriseIdentity == nullptr) return S_FALSE;
  return helper.ProtectFileToEnterpriseIdentity(path, identity);
}
