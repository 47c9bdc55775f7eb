// File access for the player: files, folders and searches in its storage
// folders, behind the storage path policy.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/CoGlintBrokerServer.h"

HRESULT CoGlintBrokerServer::BrokerCreateFile(BSTR /*pFileName*/, LONG /*p_readOnly*/,
                                              LONG /*p_truncateOnOpen*/, ULONG* p_fileCookie) {
  if (p_fileCookie == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerCloseHandle(ULONG /*p_fileCookie*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetFilePointer(ULONG /*p_fileCookie*/, LONG /*p_distanceToMove*/,
                                                  ULONG /*p_moveMethod*/, ULONG* p_newPosition) {
  if (p_newPosition == nullptr) return E_INVALIDARG;
  *p_newPosition = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerReadFile(ULONG /*p_fileCookie*/, ULONG /*p_numToRead*/,
                                            ULONG* p_numRead, SAFEARRAY** p_data) {
  if (p_numRead == nullptr || p_data == nullptr) return E_INVALIDARG;
  *p_numRead = 0;
  *p_data = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerWriteFile(ULONG /*p_fileCookie*/, SAFEARRAY* /*p_data*/,
                                             ULONG* p_numWritten) {
  if (p_numWritten == nullptr) return E_INVALIDARG;
  *p_numWritten = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerDeleteFile(BSTR /*p_fileName*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerRemoveDirectory(BSTR /*p_dirName*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMoveFileEx(BSTR /*p_oldFileName*/, BSTR /*p_newFileName*/,
                                              LONG /*dwFlags*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerCreateDirectory(BSTR /*p_dirName*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetFileAttributesEx(
    BSTR /*p_fileName*/, ULONG* p_dwFileAttributes, ULONG* p_ftCreationTimeLo,
    ULONG* p_ftCreationTimeHi, ULONG* p_ftLastAccessTimeLo, ULONG* p_ftLastAccessTimeHi,
    ULONG* p_ftLastWriteTimeLo, ULONG* p_ftLastWriteTimeHi, ULONG* p_nFileSizeLo,
    ULONG* p_nFileSizeHi) {
  if (p_dwFileAttributes == nullptr || p_ftCreationTimeLo == nullptr ||
      p_ftCreationTimeHi == nullptr || p_ftLastAccessTimeLo == nullptr ||
      p_ftLastAccessTimeHi == nullptr || p_ftLastWriteTimeLo == nullptr ||
      p_ftLastWriteTimeHi == nullptr || p_nFileSizeLo == nullptr || p_nFileSizeHi == nullptr)
    return E_INVALIDARG;
  *p_dwFileAttributes = 0;
  *p_ftCreationTimeLo = 0;
  *p_ftCreationTimeHi = 0;
  *p_ftLastAccessTimeLo = 0;
  *p_ftLastAccessTimeHi = 0;
  *p_ftLastWriteTimeLo = 0;
  *p_ftLastWriteTimeHi = 0;
  *p_nFileSizeLo = 0;
  *p_nFileSizeHi = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerFindFirstFile(BSTR /*p_searchPath*/, BSTR* p_fileLeafName,
                                                 ULONG* p_fileAttrs, ULONG* p_findCookie) {
  if (p_fileLeafName == nullptr || p_fileAttrs == nullptr || p_findCookie == nullptr)
    return E_INVALIDARG;
  *p_fileLeafName = nullptr;
  *p_fileAttrs = 0;
  *p_findCookie = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerFindNextFile(ULONG /*p_findCookie*/, BSTR* p_fileLeafName,
                                                ULONG* p_fileAttrs) {
  if (p_fileLeafName == nullptr || p_fileAttrs == nullptr) return E_INVALIDARG;
  *p_fileLeafName = nullptr;
  *p_fileAttrs = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerFindClose(ULONG /*p_findCookie*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIsDriveAvailable(LPWSTR /*p_lpwRootPathName*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIsWritablePath(BSTR /*p_path*/, LONG /*p_alsoCheckExtension*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerDeleteBrowsingHistory(BSTR /*pRootPathName*/) {
  return E_NOTIMPL;
}
