// A stand-in for the system's audio device enumerator: an in-process server
// that the device tests make the enumerator class's TreatAs. It keeps the
// endpoint listeners registered with any of its enumerators, serves devices
// from a table, and when its trigger event is signalled calls every
// registered listener, on a thread of its own, with the configured
// notifications. Like the system, it holds no reference on a listener and
// lets an unregistration wait for a call under way.
//
// Settings (TaskStandInSettings.h):
//   AudioLog      log file: "register", "unregister", after the rounds of a
//                 trigger "round N" (listeners called), and "rounds M" with AudioUntil
//   AudioTrigger  name of the event that starts a round of calls
//   AudioDone     name of the event set when a round has ended
//   AudioRounds   how many times the calls are repeated per trigger (1)
//   AudioUntil    name of an event: the rounds also go on until it is set
//   AudioCalls    "default,FLOW,ROLE,ID;state,ID,STATE;added,ID;removed,ID;property,ID"
//   AudioDevices  "ID=FLOW;…"; FLOW "x" is a device without an endpoint interface
#include <windows.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "StandInObject.h"
#include "TaskStandInSettings.h"

namespace {

const IID kIidEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidDevice = {
    0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
const IID kIidEndpoint = {
    0x1BE09788, 0x6894, 0x4089, {0x85, 0x86, 0x9A, 0x2A, 0x6C, 0x26, 0x5A, 0xC5}};

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  std::wstringstream stream(text);
  for (std::wstring part; std::getline(stream, part, separator);) parts.push_back(part);
  return parts;
}

// Listeners of every enumerator of the process.
CRITICAL_SECTION g_lock;
std::vector<IMMNotificationClient*> g_listeners;
INIT_ONCE g_started = INIT_ONCE_STATIC_INIT;

using standin::Unknown;

// A device of the table; one without an endpoint interface when `endpoint` is false.
class Device final : public Unknown<IMMDevice, kIidDevice>, public IMMEndpoint {
 public:
  Device(EDataFlow flow, bool endpoint) : flow_(flow), endpoint_(endpoint) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return Unknown::QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Unknown::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Unknown::Release(); }
  HRESULT STDMETHODCALLTYPE Activate(REFIID, DWORD, PROPVARIANT*, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* flow) override {
    *flow = flow_;
    return S_OK;
  }

 private:
  void* Other(REFIID iid) override {
    return endpoint_ && IsEqualIID(iid, kIidEndpoint) ? static_cast<IMMEndpoint*>(this) : nullptr;
  }
  EDataFlow flow_;
  bool endpoint_;
};

// One round of the configured calls to every listener.
void CallListeners() {
  const std::vector<std::wstring> calls = Split(standin::Text(L"AudioCalls"), L';');
  const DWORD rounds = standin::Number(L"AudioRounds", 1);
  const std::wstring until = standin::Text(L"AudioUntil");
  HANDLE stop = until.empty() ? nullptr : OpenEventW(SYNCHRONIZE, FALSE, until.c_str());
  auto more = [&](DWORD round) {
    return round < rounds || (stop != nullptr && WaitForSingleObject(stop, 0) != WAIT_OBJECT_0);
  };
  size_t called = 0;
  DWORD round = 0;
  for (; more(round); ++round) {
    EnterCriticalSection(&g_lock);
    for (IMMNotificationClient* listener : g_listeners) {
      for (const std::wstring& call : calls) {
        const std::vector<std::wstring> f = Split(call, L',');
        if (f.empty()) continue;
        auto number = [&](size_t i) { return i < f.size() ? _wtoi(f[i].c_str()) : 0; };
        auto text = [&](size_t i) { return i < f.size() ? f[i].c_str() : L""; };
        if (f[0] == L"default") {
          listener->OnDefaultDeviceChanged(static_cast<EDataFlow>(number(1)),
                                           static_cast<ERole>(number(2)), text(3));
        } else if (f[0] == L"state") {
          listener->OnDeviceStateChanged(text(1), static_cast<DWORD>(number(2)));
        } else if (f[0] == L"added") {
          listener->OnDeviceAdded(text(1));
        } else if (f[0] == L"removed") {
          listener->OnDeviceRemoved(text(1));
        } else if (f[0] == L"property") {
          listener->OnPropertyValueChanged(text(1), PROPERTYKEY{});
        }
      }
    }
    called = g_listeners.size();
    LeaveCriticalSection(&g_lock);
  }
  standin::Log("round " + std::to_string(called), L"AudioLog");
  if (stop != nullptr) {
    standin::Log("rounds " + std::to_string(round), L"AudioLog");
    CloseHandle(stop);
  }
}

DWORD WINAPI Dispatcher(void*) {
  const std::wstring trigger = standin::Text(L"AudioTrigger", L"GlintAudioStandInTrigger");
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, trigger.c_str());
  if (event == nullptr) return 1;
  while (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) {
    CallListeners();
    const std::wstring done = standin::Text(L"AudioDone", L"GlintAudioStandInDone");
    if (HANDLE finished = OpenEventW(EVENT_MODIFY_STATE, FALSE, done.c_str())) {
      SetEvent(finished);
      CloseHandle(finished);
    }
  }
  return 0;
}

BOOL CALLBACK StartDispatcher(PINIT_ONCE, void*, void**) {
  InitializeCriticalSection(&g_lock);
  HANDLE thread = CreateThread(nullptr, 0, Dispatcher, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  return TRUE;
}

class Enumerator final : public Unknown<IMMDeviceEnumerator, kIidEnumerator> {
 public:
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override {
    *device = nullptr;
    for (const std::wstring& entry : Split(standin::Text(L"AudioDevices"), L';')) {
      const size_t equals = entry.find(L'=');
      if (equals == std::wstring::npos || entry.compare(0, equals, id) != 0) continue;
      const std::wstring flow = entry.substr(equals + 1);
      *device = new Device(static_cast<EDataFlow>(_wtoi(flow.c_str())), flow != L"x");
      return S_OK;
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE
  RegisterEndpointNotificationCallback(IMMNotificationClient* listener) override {
    InitOnceExecuteOnce(&g_started, StartDispatcher, nullptr, nullptr);
    EnterCriticalSection(&g_lock);
    g_listeners.push_back(listener);
    LeaveCriticalSection(&g_lock);
    standin::Log("register", L"AudioLog");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  UnregisterEndpointNotificationCallback(IMMNotificationClient* listener) override {
    InitOnceExecuteOnce(&g_started, StartDispatcher, nullptr, nullptr);
    EnterCriticalSection(&g_lock);  // waits for a round under way
    auto found = std::find(g_listeners.begin(), g_listeners.end(), listener);
    const bool known = found != g_listeners.end();
    if (known) g_listeners.erase(found);
    LeaveCriticalSection(&g_lock);
    standin::Log(known ? "unregister" : "unregister unknown", L"AudioLog");
    return known ? S_OK : E_INVALIDARG;
  }
};

class Factory final : public Unknown<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    *out = nullptr;
    Enumerator* enumerator = new Enumerator;
    const HRESULT result = enumerator->QueryInterface(iid, out);
    enumerator->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** out) {
  Factory* factory = new Factory;
  const HRESULT result = factory->QueryInterface(iid, out);
  factory->Release();
  return result;
}

// The dispatcher thread runs code of this library until the process ends.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return S_FALSE;
}
