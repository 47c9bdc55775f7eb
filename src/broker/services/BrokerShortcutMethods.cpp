// Icons, internet shortcuts and desktop shortcuts.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/server/CoGlintBrokerServer.h"

HRESULT CoGlintBrokerServer::BrokerCreateIconPath(BSTR /*p_fileName*/, BSTR* p_iconPath) {
  if (p_iconPath == nullptr) return E_INVALIDARG;
  *p_iconPath = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerCreateInternetShortcut(BSTR /*fileName*/, BSTR /*url*/,
                                                          BSTR /*iconPath*/,
                                                          SAFEARRAY* /*p_signed_auth_data*/,
                                                          SAFEARRAY* /*p_strings*/,
                                                          ULONG /*flags*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerCreateIconPathV2(BSTR /*p_fileName*/, BSTR* p_iconPath,
                                                    LONG /*p_overwrite*/) {
  if (p_iconPath == nullptr) return E_INVALIDARG;
  *p_iconPath = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerCreateDesktopShortcut(BSTR /*fileName*/, BSTR /*url*/,
                                                         BSTR /*iconPath*/, ULONG /*flags*/) {
  return E_NOTIMPL;
}
