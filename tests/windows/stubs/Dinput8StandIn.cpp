// A stand-in for the system's DirectInput 8 library, copied over the system
// folder's placeholder by the device tests and loaded only by programs whose
// settings prefer the native copy. It reports a configured number of game
// controllers and records what it was asked.
//
// Settings (TaskStandInSettings.h):
//   DinputLog     log file: "create version=0xVVVV interface=wide|other module=main|other",
//                 "enum class=C flags=F reported=N"
//   DinputCount   controllers reported (0)
//   DinputCreate  HRESULT that DirectInput8Create answers (S_OK)
#include <windows.h>
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>

#include <cstdio>
#include <string>

#include "StandInObject.h"
#include "TaskStandInSettings.h"

namespace {

const IID kIidWide = {0xBF798031, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};

class Input final : public standin::Unknown<IDirectInput8W, kIidWide> {
 public:
  HRESULT STDMETHODCALLTYPE CreateDevice(REFGUID, LPDIRECTINPUTDEVICE8W*, LPUNKNOWN) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EnumDevices(DWORD kind, LPDIENUMDEVICESCALLBACKW callback,
                                        LPVOID context, DWORD flags) override {
    const DWORD count = standin::Number(L"DinputCount", 0);
    DWORD reported = 0;
    DIDEVICEINSTANCEW device{};
    device.dwSize = sizeof device;
    device.dwDevType = DI8DEVTYPE_GAMEPAD;
    while (reported < count) {
      ++reported;
      if (callback(&device, context) != DIENUM_CONTINUE) break;
    }
    standin::Log("enum class=" + std::to_string(kind) + " flags=" + std::to_string(flags) +
                     " reported=" + std::to_string(reported),
                 L"DinputLog");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDeviceStatus(REFGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RunControlPanel(HWND, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindDevice(REFGUID, LPCWSTR, LPGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDevicesBySemantics(LPCWSTR, LPDIACTIONFORMATW,
                                                   LPDIENUMDEVICESBYSEMANTICSCBW, LPVOID,
                                                   DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK,
                                             LPDICONFIGUREDEVICESPARAMSW, DWORD, LPVOID) override {
    return E_NOTIMPL;
  }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    DirectInput8Create(HINSTANCE instance, DWORD version, REFIID iid, LPVOID* out,
                       LPUNKNOWN outer) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04lX", static_cast<unsigned long>(version));
  standin::Log("create version=" + std::string(hex) +
                   " interface=" + (IsEqualIID(iid, kIidWide) ? "wide" : "other") +
                   " module=" + (instance == GetModuleHandleW(nullptr) ? "main" : "other") +
                   " outer=" + (outer == nullptr ? "none" : "given"),
               L"DinputLog");
  *out = nullptr;
  const HRESULT result = static_cast<HRESULT>(standin::Number(L"DinputCreate", S_OK));
  if (FAILED(result)) return result;
  Input* input = new Input;
  const HRESULT asked = input->QueryInterface(iid, out);
  input->Release();
  return asked;
}
