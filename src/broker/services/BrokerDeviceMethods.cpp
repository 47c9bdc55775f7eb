// Device services: screensaver, game controllers, audio device notifications.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/server/CoGlintBrokerServer.h"

HRESULT CoGlintBrokerServer::BrokerDelayScreensaver() {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetDirectInputCount(ULONG* p_count) {
  if (p_count == nullptr) return E_INVALIDARG;
  *p_count = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientCreate(LONG_PTR /*sourceProcessHandle*/,
                                                              LONG_PTR* lpClientCookie) {
  if (lpClientCookie == nullptr) return E_INVALIDARG;
  *lpClientCookie = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientSetDefaultDeviceChangeEvent(
    LONG_PTR /*clientCookie*/, LONG_PTR /*defaultDeviceChangeEvent*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientSetDeviceStateChangeEvent(
    LONG_PTR /*clientCookie*/, LONG_PTR /*deviceStateChangeEvent*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMMNotificationClientDestroy(LONG_PTR /*clientCookie*/) {
  return E_NOTIMPL;
}
