// Local connections: the shared block through which player instances
// exchange messages.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/CoGlintBrokerServer.h"

HRESULT CoGlintBrokerServer::BrokerLcdLock(LONG* p_refCount) {
  if (p_refCount == nullptr) return E_INVALIDARG;
  *p_refCount = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdUnlock(LONG* p_refCount) {
  if (p_refCount == nullptr) return E_INVALIDARG;
  *p_refCount = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdLockTime(LONG* p_lockTime) {
  if (p_lockTime == nullptr) return E_INVALIDARG;
  *p_lockTime = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdFindConnectionFormat(BSTR /*p_string*/, ULONG /*p_realm*/,
                                                           LONG* p_format) {
  if (p_format == nullptr) return E_INVALIDARG;
  *p_format = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdRemoveConnection(BSTR /*p_string*/, ULONG /*p_realm*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdTryAddConnection(BSTR /*p_string*/, ULONG /*p_realmToSeek*/,
                                                       ULONG /*p_realmToAdd*/,
                                                       LONG /*p_msgFormatVersion*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdGetMessageTarget(BSTR* p_string) {
  if (p_string == nullptr) return E_INVALIDARG;
  *p_string = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdDispatchMessage(SAFEARRAY* /*p_msgData*/,
                                                      ULONG /*p_senderGmvVersion*/,
                                                      ULONG /*p_expectedMsgFormat*/,
                                                      ULONG /*p_realm*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdClearMessage() {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdPruneDeadMessage() {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdGetMessageData(SAFEARRAY** p_msgData) {
  if (p_msgData == nullptr) return E_INVALIDARG;
  *p_msgData = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdMessageTimeout(LONG* p_timeout) {
  if (p_timeout == nullptr) return E_INVALIDARG;
  *p_timeout = 0;
  return E_NOTIMPL;
}
