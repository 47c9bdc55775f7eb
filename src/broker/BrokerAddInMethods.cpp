// Add-in applications: download, install, verify, start, version and
// running check.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/CoGlintBrokerServer.h"

HRESULT CoGlintBrokerServer::BrokerLMOpenDownload(BSTR /*p_url*/, ULONG* p_lmCookie) {
  if (p_lmCookie == nullptr) return E_INVALIDARG;
  *p_lmCookie = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLMUpdateDownload(ULONG /*p_lmCookie*/, ULONG* p_pos,
                                                    ULONG* p_len) {
  if (p_pos == nullptr || p_len == nullptr) return E_INVALIDARG;
  *p_pos = 0;
  *p_len = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLMCloseDownload(ULONG /*p_lmCookie*/, BSTR /*p_applicationName*/,
                                                   ULONG* p_resultCode) {
  if (p_resultCode == nullptr) return E_INVALIDARG;
  *p_resultCode = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLMLaunch(BSTR /*p_applicationName*/,
                                            BSTR /*p_applicationParams*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLMGetVersion(BSTR /*p_applicationName*/, ULONG* p_fileVersionMS,
                                                ULONG* p_fileVersionLS) {
  if (p_fileVersionMS == nullptr || p_fileVersionLS == nullptr) return E_INVALIDARG;
  *p_fileVersionMS = 0;
  *p_fileVersionLS = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLMIsRunning(BSTR /*p_applicationName*/) {
  return E_NOTIMPL;
}
