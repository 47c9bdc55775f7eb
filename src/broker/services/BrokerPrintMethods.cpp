// Printing: the print dialog and a GDI proxy for the printer device context.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include "broker/server/CoGlintBrokerServer.h"

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
