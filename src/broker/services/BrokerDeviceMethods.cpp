// Device services: screensaver, game controllers, audio device notifications.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include <windows.h>
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>

#include <new>

#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/MMNotificationClient.h"
#include "foundation/DynamicLoadLibraryHelper.h"

namespace {

const IID kIidDirectInput8Wide = {
    0xBF798031, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};

BOOL CALLBACK CountDevice(LPCDIDEVICEINSTANCEW, LPVOID count) {
  ++*static_cast<ULONG*>(count);
  return DIENUM_CONTINUE;
}

}  // namespace

HRESULT CoGlintBrokerServer::BrokerDelayScreensaver() {
  UINT timeout = 0;
  if (!SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout, 0) || timeout == 0) {
    return E_FAIL;
  }
  // Setting the timeout restarts the idle count; the profile keeps its value.
  SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, 0, nullptr, 0);
  SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, timeout, nullptr, 0);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerGetDirectInputCount(ULONG* p_count) {
  if (p_count == nullptr) return E_INVALIDARG;
  *p_count = 0;
  Dinput8DllHelper dinput8;
  if (dinput8.DirectInput8Create == nullptr) return S_OK;
  IDirectInput8W* input = nullptr;
  if (FAILED(dinput8.DirectInput8Create(GetModuleHandleW(nullptr), DIRECTINPUT_VERSION,
                                        kIidDirectInput8Wide, reinterpret_cast<void**>(&input),
                                        nullptr)) ||
      input == nullptr) {
    return S_OK;
  }
  ULONG count = 0;
  if (FAILED(input->EnumDevices(DI8DEVCLASS_GAMECTRL, CountDevice, &count, DIEDFL_ATTACHEDONLY))) {
    count = 0;
  }
  input->Release();
  *p_count = count;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientCreate(LONG_PTR sourceProcessHandle,
                                                              LONG_PTR* lpClientCookie) {
  if (lpClientCookie == nullptr) return E_INVALIDARG;
  *lpClientCookie = audioClients_.Add(
      new (std::nothrow) MMNotificationClient(reinterpret_cast<HANDLE>(sourceProcessHandle)));
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientSetDefaultDeviceChangeEvent(
    LONG_PTR clientCookie, LONG_PTR defaultDeviceChangeEvent) {
  MMNotificationClient* client = audioClients_.Find(clientCookie);
  return client != nullptr && client->Install(MMNotificationClient::Role::DefaultDevice,
                                              defaultDeviceChangeEvent)
             ? S_OK
             : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientSetDeviceStateChangeEvent(
    LONG_PTR clientCookie, LONG_PTR deviceStateChangeEvent) {
  MMNotificationClient* client = audioClients_.Find(clientCookie);
  return client != nullptr &&
                 client->Install(MMNotificationClient::Role::DeviceState, deviceStateChangeEvent)
             ? S_OK
             : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientDestroy(LONG_PTR clientCookie) {
  return audioClients_.Remove(clientCookie) ? S_OK : S_FALSE;
}
