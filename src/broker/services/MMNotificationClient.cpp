#include "broker/services/MMNotificationClient.h"

#include <utility>

namespace {

// The audio classes' GUIDs, kept here rather than taken from a library that
// may lack them.
const CLSID kClsidDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIidDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidNotificationClient = {
    0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
const IID kIidEndpoint = {
    0x1BE09788, 0x6894, 0x4089, {0x85, 0x86, 0x9A, 0x2A, 0x6C, 0x26, 0x5A, 0xC5}};

class SharedLock {
 public:
  explicit SharedLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockShared(lock_); }
  ~SharedLock() { ReleaseSRWLockShared(lock_); }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  SRWLOCK* lock_;
};

class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK* lock_;
};

// A source process that is the broker itself would let the player name the
// broker's own handles. Handles are compared as objects where the system
// can (no access right needed); elsewhere by process id, and a handle whose
// id cannot be read is taken for the broker's.
bool NamesThisProcess(HANDLE process) {
  using CompareFn = BOOL(WINAPI*)(HANDLE, HANDLE);
  static const auto compare = reinterpret_cast<CompareFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")));
  if (process == GetCurrentProcess()) return true;
  if (compare != nullptr) return compare(process, GetCurrentProcess()) != FALSE;
  const DWORD id = GetProcessId(process);
  return id == 0 || id == GetCurrentProcessId();
}

template <typename T>
void ReleaseCom(T*& pointer) {
  if (pointer != nullptr) std::exchange(pointer, nullptr)->Release();
}

}  // namespace

MMNotificationClient::MMNotificationClient(HANDLE sourceProcess) : sourceProcess_(sourceProcess) {
  if (FAILED(CoCreateInstance(kClsidDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              kIidDeviceEnumerator, reinterpret_cast<void**>(&enumerator_)))) {
    enumerator_ = nullptr;
    return;
  }
  registered_ = SUCCEEDED(enumerator_->RegisterEndpointNotificationCallback(this));
}

MMNotificationClient::~MMNotificationClient() {
  // The system waits for callbacks under way before it lets the client go.
  if (registered_) enumerator_->UnregisterEndpointNotificationCallback(this);
  for (HANDLE event : {defaultEvent_, stateEvent_}) {
    if (event != nullptr) CloseHandle(event);
  }
  ReleaseCom(enumerator_);
}

HRESULT STDMETHODCALLTYPE MMNotificationClient::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidNotificationClient)) {
    *object = static_cast<IMMNotificationClient*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MMNotificationClient::AddRef() {
  return ++references_;
}

ULONG STDMETHODCALLTYPE MMNotificationClient::Release() {
  const ULONG count = --references_;
  if (count == 0) delete this;
  return count;
}

HRESULT STDMETHODCALLTYPE MMNotificationClient::OnDeviceStateChanged(LPCWSTR deviceId, DWORD) {
  if (enumerator_ == nullptr || deviceId == nullptr) return S_OK;
  IMMDevice* device = nullptr;
  if (FAILED(enumerator_->GetDevice(deviceId, &device)) || device == nullptr) return S_OK;
  IMMEndpoint* endpoint = nullptr;
  EDataFlow flow = eAll;
  const bool known =
      SUCCEEDED(device->QueryInterface(kIidEndpoint, reinterpret_cast<void**>(&endpoint))) &&
      endpoint != nullptr && SUCCEEDED(endpoint->GetDataFlow(&flow));
  ReleaseCom(endpoint);
  ReleaseCom(device);
  if (known && flow == eRender) Signal(Role::DeviceState);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MMNotificationClient::OnDeviceAdded(LPCWSTR) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MMNotificationClient::OnDeviceRemoved(LPCWSTR) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MMNotificationClient::OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                                       LPCWSTR) {
  if (flow == eRender || role == eMultimedia) Signal(Role::DefaultDevice);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE MMNotificationClient::OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) {
  return S_OK;
}

void MMNotificationClient::Signal(Role role) {
  SharedLock hold(&eventLock_);
  if (HANDLE event = Slot(role)) SetEvent(event);
}

bool MMNotificationClient::Install(Role role, LONG_PTR event) {
  if (event == 0 || NamesThisProcess(sourceProcess_)) return false;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(sourceProcess_, reinterpret_cast<HANDLE>(event), GetCurrentProcess(), &copy,
                       0, FALSE, DUPLICATE_SAME_ACCESS) ||
      copy == nullptr) {
    return false;
  }
  ExclusiveLock hold(&eventLock_);
  if (HANDLE previous = std::exchange(Slot(role), copy)) CloseHandle(previous);
  return true;
}

MMNotificationClientTable::~MMNotificationClientTable() {
  for (const Entry& entry : entries_) entry.client->Release();
}

LONG_PTR MMNotificationClientTable::Add(MMNotificationClient* client) {
  // One sequence for the whole process: a cookie of one broker object is
  // never listed by another.
  static std::atomic<LONG_PTR> last{0};
  if (client == nullptr) return 0;
  const LONG_PTR cookie = ++last;
  entries_.push_back({cookie, client});
  return cookie;
}

MMNotificationClient* MMNotificationClientTable::Find(LONG_PTR cookie) const {
  for (const Entry& entry : entries_) {
    if (cookie != 0 && entry.cookie == cookie) return entry.client;
  }
  return nullptr;
}

bool MMNotificationClientTable::Remove(LONG_PTR cookie) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (cookie == 0 || it->cookie != cookie) continue;
    MMNotificationClient* client = it->client;
    entries_.erase(it);
    client->Release();
    return true;
  }
  return false;
}
