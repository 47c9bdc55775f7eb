// The broker methods. Each applies the common argument checks: a null
// out-pointer answers E_INVALIDARG, and out-values start cleared.
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

HRESULT CoGlintBrokerServer::BrokerPrefGetAndDeleteGlintPlayerVersion(BSTR* p_string) {
  if (p_string == nullptr) return E_INVALIDARG;
  *p_string = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPrefMarkAutoUpdaterForRun(BSTR /*p_xmlFromServer*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPrefGetExceptionDialogSize(ULONG* p_width, ULONG* p_height) {
  if (p_width == nullptr || p_height == nullptr) return E_INVALIDARG;
  *p_width = 0;
  *p_height = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPrefSetExceptionDialogSize(ULONG /*p_width*/,
                                                              ULONG /*p_height*/) {
  return E_NOTIMPL;
}

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

HRESULT CoGlintBrokerServer::BrokerDelayScreensaver() {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPrefGetGlintPlayerVersion(BSTR* p_string) {
  if (p_string == nullptr) return E_INVALIDARG;
  *p_string = nullptr;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPrefDeleteGlintPlayerVersion() {
  return E_NOTIMPL;
}

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

HRESULT CoGlintBrokerServer::BrokerPrintDialog(ULONG /*p_hwnd*/, ULONG* p_nFromPage,
                                               ULONG* p_nToPage, ULONG* p_dwFlags, ULONG* p_hdc) {
  if (p_nFromPage == nullptr || p_nToPage == nullptr || p_dwFlags == nullptr || p_hdc == nullptr)
    return E_INVALIDARG;
  *p_hdc = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerDeleteDC(ULONG /*dwHDC*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSaveDC(ULONG /*dwHDC*/, ULONG* p_dwState) {
  if (p_dwState == nullptr) return E_INVALIDARG;
  *p_dwState = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerRestoreDC(ULONG /*dwHDC*/, ULONG /*dwSavedDC*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerStartDoc(ULONG /*dwHDC*/, ULONG* p_pixelWidth,
                                            ULONG* p_pixelHeight, ULONG* p_deviceWidth,
                                            ULONG* p_deviceHeight, ULONG* p_paperPixelWidth,
                                            ULONG* p_paperPixelHeight, ULONG* p_hRes,
                                            ULONG* p_vRes) {
  if (p_pixelWidth == nullptr || p_pixelHeight == nullptr || p_deviceWidth == nullptr ||
      p_deviceHeight == nullptr || p_paperPixelWidth == nullptr || p_paperPixelHeight == nullptr ||
      p_hRes == nullptr || p_vRes == nullptr)
    return E_INVALIDARG;
  *p_pixelWidth = 0;
  *p_pixelHeight = 0;
  *p_deviceWidth = 0;
  *p_deviceHeight = 0;
  *p_paperPixelWidth = 0;
  *p_paperPixelHeight = 0;
  *p_hRes = 0;
  *p_vRes = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerStartPage(ULONG /*dwHDC*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerAddRectangle(ULONG /*dwHDC*/, SAFEARRAY* /*p_RectArray*/,
                                                ULONG /*dwRGB*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIntersectClipRect(ULONG /*dwHDC*/, ULONG /*dwLeft*/,
                                                     ULONG /*dwTop*/, ULONG /*dwRight*/,
                                                     ULONG /*dwBottom*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetPolyFillMode(ULONG /*dwHDC*/, ULONG /*dwMode*/,
                                                   ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerBeginPath(ULONG /*dwHDC*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerEndPath(ULONG /*dwHDC*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMoveTo(ULONG /*dwHDC*/, ULONG /*dwX*/, ULONG /*dwY*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLineTo(ULONG /*dwHDC*/, ULONG /*dwDeltaX*/, ULONG /*dwDeltaY*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPathToSolidFill(ULONG /*dwHDC*/, ULONG /*dwRGB*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerEndPage(ULONG /*dwHDC*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerEndDoc(ULONG /*dwHDC*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPathToBitmapFill(ULONG /*dwHDC*/, SAFEARRAY* /*p_tRectArray*/,
                                                    SAFEARRAY* /*p_sRectArray*/,
                                                    SAFEARRAY* /*p_BitmapArray*/,
                                                    SAFEARRAY* /*p_BitmapInfoArray*/,
                                                    ULONG /*dwSaveRestore*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPathToTransparentBitmapFill(ULONG /*dwHDC*/,
                                                               SAFEARRAY* /*p_tRectArray*/,
                                                               SAFEARRAY* /*p_sRectArray*/,
                                                               SAFEARRAY* /*p_BitmapArray*/,
                                                               SAFEARRAY* /*p_BitmapInfoArray*/,
                                                               ULONG /*dwRGB*/, ULONG /*dwROP*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPolyBezierTo(ULONG /*dwHDC*/, SAFEARRAY* /*p_CubicArray*/,
                                                ULONG /*dwCount*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerPathToStrokedLine(ULONG /*dwHDC*/, ULONG /*dwThickness*/,
                                                     ULONG /*dwRGB*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSelectClipPath(ULONG /*dwHDC*/, ULONG /*dwMode*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetTextAlign(ULONG /*dwHDC*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetTextAlign(ULONG /*dwHDC*/, ULONG /*dwAlign*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetBkMode(ULONG /*dwHDC*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetBkMode(ULONG /*dwHDC*/, ULONG /*dwMode*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetTextColor(ULONG /*dwHDC*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetTextColor(ULONG /*dwHDC*/, ULONG /*dwColor*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetDeviceCaps(ULONG /*dwHDC*/, ULONG /*dwIndex*/,
                                                 ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerDPtoLP(ULONG /*dwHDC*/, ULONG* p_dwX, ULONG* p_dwY,
                                          ULONG /*dwCount*/, ULONG* p_dwRC) {
  if (p_dwX == nullptr || p_dwY == nullptr || p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerCreateFontIndirect(SAFEARRAY* /*p_LogFontArray*/,
                                                      ULONG* p_dwFont) {
  if (p_dwFont == nullptr) return E_INVALIDARG;
  *p_dwFont = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetObjectType(ULONG /*dwHandle*/, ULONG* p_dwType) {
  if (p_dwType == nullptr) return E_INVALIDARG;
  *p_dwType = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetCurrentObject(ULONG /*dwHDC*/, ULONG /*dwObjectType*/,
                                                    ULONG* p_dwHGDIObj) {
  if (p_dwHGDIObj == nullptr) return E_INVALIDARG;
  *p_dwHGDIObj = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSelectObject(ULONG /*dwHDC*/, ULONG /*dwHGDI*/,
                                                ULONG* p_dwHGDIOld) {
  if (p_dwHGDIOld == nullptr) return E_INVALIDARG;
  *p_dwHGDIOld = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerDeleteObject(ULONG /*dwHandle*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerExtTextOutA(ULONG /*dwHDC*/, ULONG /*dwX*/, ULONG /*dwY*/,
                                               ULONG /*dwOptions*/, ULONG /*dwIsRectNULL*/,
                                               SAFEARRAY* /*p_RectArray*/,
                                               SAFEARRAY* /*p_StrArray*/, ULONG /*dwCount*/,
                                               ULONG /*dwIsDxNULL*/, SAFEARRAY* /*p_DxArray*/,
                                               ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerExtTextOutW(ULONG /*dwHDC*/, ULONG /*dwX*/, ULONG /*dwY*/,
                                               ULONG /*dwOptions*/, ULONG /*dwIsRectNULL*/,
                                               SAFEARRAY* /*p_RectArray*/,
                                               SAFEARRAY* /*p_StrArray*/, ULONG /*dwCount*/,
                                               ULONG /*dwIsDxNULL*/, SAFEARRAY* /*p_DxArray*/,
                                               ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetTextMetrics(ULONG /*dwHDC*/, VARIANT* p_VarTextmetricArray) {
  if (p_VarTextmetricArray == nullptr) return E_INVALIDARG;
  VariantInit(p_VarTextmetricArray);
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetTextExtentPoint32A(ULONG /*dwHDC*/, SAFEARRAY* /*p_StrArray*/,
                                                         ULONG /*dwCount*/, ULONG* p_dwCx,
                                                         ULONG* p_dwCy) {
  if (p_dwCx == nullptr || p_dwCy == nullptr) return E_INVALIDARG;
  *p_dwCx = 0;
  *p_dwCy = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetTextExtentPoint32W(ULONG /*dwHDC*/, SAFEARRAY* /*p_StrArray*/,
                                                         ULONG /*dwCount*/, ULONG* p_dwCx,
                                                         ULONG* p_dwCy) {
  if (p_dwCx == nullptr || p_dwCy == nullptr) return E_INVALIDARG;
  *p_dwCx = 0;
  *p_dwCy = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetTextCharacterExtra(ULONG /*dwHDC*/, ULONG /*dwCharExtra*/,
                                                         ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSelectClipRgnNULL(ULONG /*dwHDC*/, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerGetWorldTransform(ULONG /*dwHDC*/, VARIANT* p_VarXformArray) {
  if (p_VarXformArray == nullptr) return E_INVALIDARG;
  VariantInit(p_VarXformArray);
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetWorldTransform(ULONG /*dwHDC*/, SAFEARRAY* /*p_XformArray*/,
                                                     ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerSetGraphicsMode(ULONG /*dwHDC*/, ULONG /*dwMode*/,
                                                   ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  *p_dwRC = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIMLangFontLinkMapFont(ULONG /*dwDC*/, ULONG /*dwCodePages*/,
                                                         ULONG /*dwhSrcFont*/,
                                                         ULONG* p_dwhDestFont) {
  if (p_dwhDestFont == nullptr) return E_INVALIDARG;
  *p_dwhDestFont = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIMLangFontLinkGetFontCodePages(ULONG /*dwDC*/, ULONG /*dwhFont*/,
                                                                  ULONG* p_dwCodePages) {
  if (p_dwCodePages == nullptr) return E_INVALIDARG;
  *p_dwCodePages = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIMLangFontLinkReleaseFont(ULONG /*dwhFont*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerLcdMessageTimeout(LONG* p_timeout) {
  if (p_timeout == nullptr) return E_INVALIDARG;
  *p_timeout = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerMarkFileUnsafe(BSTR /*p_filePath*/, BSTR /*p_sourceURL*/,
                                                  BSTR /*p_refURL*/) {
  return E_NOTIMPL;
}

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

HRESULT CoGlintBrokerServer::BrokerGetDirectInputCount(ULONG* p_count) {
  if (p_count == nullptr) return E_INVALIDARG;
  *p_count = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerIsDriveAvailable(LPWSTR /*p_lpwRootPathName*/) {
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

HRESULT CoGlintBrokerServer::BrokerIsWritablePath(BSTR /*p_path*/, LONG /*p_alsoCheckExtension*/) {
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

HRESULT CoGlintBrokerServer::BrokerOpenFileWithAuditingInfo(BSTR /*pFileName*/, BSTR /*pRemoteUrl*/,
                                                            ULONG /*p_hwnd*/, ULONG* p_fileCookie) {
  if (p_fileCookie == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerDeleteBrowsingHistory(BSTR /*pRootPathName*/) {
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
