// File dialogs.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/server/CoGlintBrokerServer.h"

// Retired: players use BrokerSaveDialog2.
HRESULT CoGlintBrokerServer::BrokerSaveDialog(ULONG /*p_hwnd*/, LPWSTR /*p_lpwstrInitialFileName*/,
                                              ULONG* /*p_fileCookie*/, BSTR* /*p_chosenFilePath*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerOpenDialog(ULONG /*p_hwnd*/, ULONG /*dwFilterPairs*/,
                                              ULONG /*dwFilterLength*/,
                                              SAFEARRAY* /*p_FilterArray*/, ULONG /*dwFlags*/,
                                              VARIANT* p_chosenFilePathArray) {
  if (p_chosenFilePathArray == nullptr) return E_INVALIDARG;
  VariantInit(p_chosenFilePathArray);
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSaveDialog2(ULONG /*p_hwnd*/, LPWSTR /*p_lpwstrInitialFileName*/,
                                               ULONG /*dwFilterPairs*/, ULONG /*dwFilterLength*/,
                                               SAFEARRAY* /*p_FilterArray*/, ULONG /*dwFlags*/,
                                               ULONG* p_fileCookie, BSTR* p_chosenFilePath) {
  if (p_fileCookie == nullptr || p_chosenFilePath == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  *p_chosenFilePath = nullptr;
  return E_NOTIMPL;
}
