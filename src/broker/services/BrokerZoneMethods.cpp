// Zone marking of downloaded files and audited opens of protected files.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/server/CoGlintBrokerServer.h"

HRESULT CoGlintBrokerServer::BrokerMarkFileUnsafe(BSTR /*p_filePath*/, BSTR /*p_sourceURL*/,
                                                  BSTR /*p_refURL*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerOpenFileWithAuditingInfo(BSTR /*pFileName*/, BSTR /*pRemoteUrl*/,
                                                            ULONG /*p_hwnd*/, ULONG* p_fileCookie) {
  if (p_fileCookie == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  return E_NOTIMPL;
}
