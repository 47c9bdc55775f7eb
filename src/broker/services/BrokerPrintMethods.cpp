// Printing: the print dialog, the document, the DC's state, GDI objects and
// the font link, relayed to GDI for the player's printer DC.
//
// A null out-pointer answers E_INVALIDARG. Out-values are written only when
// the method succeeds. Every handle number must be one this broker object
// created or returned (GdiHandleTable); any other answers E_INVALIDARG
// before GDI sees it.
#include <windows.h>
#include <commdlg.h>
#include <mlang.h>

#include <cstring>

#include "broker/server/ByteBlob.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/PrintGdi.h"
#include "broker/services/PrintRules.h"
#include "foundation/ComRef.h"

using PrintGdi::Dc;
using PrintGdi::FromNumber;
using PrintGdi::Number;

namespace {

constexpr HRESULT kUnknownHandle = E_INVALIDARG;
constexpr wchar_t kDocumentName[] = L"Glint";

// The dialog's device-mode and device-names blocks: the broker keeps no
// printer settings between dialogs.
struct DialogMemory {
  explicit DialogMemory(PRINTDLGW& dialog) : dialog(dialog) {}
  ~DialogMemory() {
    if (dialog.hDevMode != nullptr) GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames != nullptr) GlobalFree(dialog.hDevNames);
  }
  PRINTDLGW& dialog;
};

// A structure GDI filled, as a new byte array in a VARIANT.
HRESULT ReturnBlob(const void* data, ULONG bytes, VARIANT* out) {
  UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, bytes));
  if (!array.Valid()) return E_OUTOFMEMORY;
  void* target = nullptr;
  if (FAILED(SafeArrayAccessData(array.Get(), &target))) return E_FAIL;
  std::memcpy(target, data, bytes);
  SafeArrayUnaccessData(array.Get());
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_ARRAY | VT_UI1;
  V_ARRAY(&value) = array.Get();
  // The caller's VARIANT gets its own copy; the local array goes with `array`.
  VARIANT copy;
  VariantInit(&copy);
  HRESULT copied = VariantCopy(&copy, &value);
  if (FAILED(copied)) return copied;
  VariantClear(out);
  *out = copy;
  return S_OK;
}

}  // namespace

void CoGlintBrokerServer::NoteReturnedObject(ULONG dc, HGDIOBJ object) {
  gdiHandles_.Add(Number(object), GdiKind::Received, dc);
}

bool CoGlintBrokerServer::SelectedInOwnDc(ULONG object) {
  for (ULONG dc : gdiHandles_.Dcs()) {
    for (UINT type : {OBJ_FONT, OBJ_BRUSH, OBJ_PEN}) {
      if (Number(GetCurrentObject(Dc(dc), type)) == object) return true;
    }
  }
  return false;
}

void CoGlintBrokerServer::ReleasePrintObjects() {
  for (const GdiHandleTable::Owned& owned : gdiHandles_.TakeOwned()) {
    switch (owned.kind) {
      case GdiKind::PrinterDc: {
        HDC dc = Dc(owned.number);
        AbortDoc(dc);  // a document left open is dropped, not printed
        DeleteDC(dc);
        break;
      }
      case GdiKind::Font:
        DeleteObject(FromNumber(owned.number));
        break;
      case GdiKind::MappedFont:
        if (fontLink_ != nullptr) fontLink_->ReleaseFont(FromNumber<HFONT>(owned.number));
        break;
      case GdiKind::Received:
        break;
    }
  }
}

// ------------------------------------------------------------ the document

HRESULT CoGlintBrokerServer::BrokerPrintDialog(ULONG p_hwnd, ULONG* p_nFromPage, ULONG* p_nToPage,
                                               ULONG* p_dwFlags, ULONG* p_hdc) {
  if (p_nFromPage == nullptr || p_nToPage == nullptr || p_dwFlags == nullptr || p_hdc == nullptr)
    return E_INVALIDARG;
  // Hooks and templates are the caller's to supply, and the broker supplies
  // none: the dialog would call them at address 0.
  if (PrintRules::CheckDialogFlags(*p_dwFlags) != PrintRules::Verdict::Accept) return E_INVALIDARG;
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = FromNumber<HWND>(p_hwnd);
  dialog.Flags = *p_dwFlags;
  dialog.nFromPage = dialog.nMinPage = static_cast<WORD>(*p_nFromPage);
  dialog.nToPage = dialog.nMaxPage = static_cast<WORD>(*p_nToPage);
  dialog.nCopies = 1;
  DialogMemory memory(dialog);
  if (!PrintDlgW(&dialog)) return E_FAIL;
  gdiHandles_.Add(Number(dialog.hDC), GdiKind::PrinterDc);
  *p_nFromPage = dialog.nFromPage;
  *p_nToPage = dialog.nToPage;
  *p_dwFlags = dialog.Flags;
  *p_hdc = Number(dialog.hDC);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerDeleteDC(ULONG dwHDC, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  const BOOL deleted = DeleteDC(Dc(dwHDC));
  if (deleted) gdiHandles_.Remove(dwHDC);
  *p_dwRC = static_cast<ULONG>(deleted);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerSaveDC(ULONG dwHDC, ULONG* p_dwState) {
  if (p_dwState == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  *p_dwState = static_cast<ULONG>(SaveDC(Dc(dwHDC)));
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerRestoreDC(ULONG dwHDC, ULONG dwSavedDC) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return RestoreDC(Dc(dwHDC), static_cast<int>(dwSavedDC)) ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerStartDoc(ULONG dwHDC, ULONG* p_pixelWidth, ULONG* p_pixelHeight,
                                            ULONG* p_deviceWidth, ULONG* p_deviceHeight,
                                            ULONG* p_paperPixelWidth, ULONG* p_paperPixelHeight,
                                            ULONG* p_hRes, ULONG* p_vRes) {
  if (p_pixelWidth == nullptr || p_pixelHeight == nullptr || p_deviceWidth == nullptr ||
      p_deviceHeight == nullptr || p_paperPixelWidth == nullptr || p_paperPixelHeight == nullptr ||
      p_hRes == nullptr || p_vRes == nullptr)
    return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  HDC dc = Dc(dwHDC);
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = kDocumentName;
  if (StartDocW(dc, &document) == SP_ERROR) return E_FAIL;
  const int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
  POINT corners[2] = {{0, 0}, {width, height}};
  LPtoDP(dc, corners, 2);
  *p_pixelWidth = static_cast<ULONG>(width);
  *p_pixelHeight = static_cast<ULONG>(height);
  *p_deviceWidth = static_cast<ULONG>(corners[1].x);
  *p_deviceHeight = static_cast<ULONG>(corners[1].y);
  *p_paperPixelWidth = static_cast<ULONG>(GetDeviceCaps(dc, PHYSICALWIDTH));
  *p_paperPixelHeight = static_cast<ULONG>(GetDeviceCaps(dc, PHYSICALHEIGHT));
  *p_hRes = static_cast<ULONG>(GetDeviceCaps(dc, LOGPIXELSX));
  *p_vRes = static_cast<ULONG>(GetDeviceCaps(dc, LOGPIXELSY));
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerStartPage(ULONG dwHDC) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return StartPage(Dc(dwHDC)) > 0 ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerEndPage(ULONG dwHDC) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return EndPage(Dc(dwHDC)) > 0 ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerEndDoc(ULONG dwHDC) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return EndDoc(Dc(dwHDC)) > 0 ? S_OK : E_FAIL;
}

// ------------------------------------------------------------ the DC's state

namespace {
// The "value" methods: GDI's answer as a 32-bit number, S_OK whatever it is.
template <typename Call>
HRESULT DcValue(const GdiHandleTable& handles, ULONG number, ULONG* out, Call call) {
  if (out == nullptr) return E_INVALIDARG;
  if (!handles.IsDc(number)) return kUnknownHandle;
  *out = static_cast<ULONG>(call(Dc(number)));
  return S_OK;
}
}  // namespace

HRESULT CoGlintBrokerServer::BrokerIntersectClipRect(ULONG dwHDC, ULONG dwLeft, ULONG dwTop,
                                                     ULONG dwRight, ULONG dwBottom, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [=](HDC dc) {
    return IntersectClipRect(dc, static_cast<int>(dwLeft), static_cast<int>(dwTop),
                             static_cast<int>(dwRight), static_cast<int>(dwBottom));
  });
}

HRESULT CoGlintBrokerServer::BrokerSetPolyFillMode(ULONG dwHDC, ULONG dwMode, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC,
                 [=](HDC dc) { return SetPolyFillMode(dc, static_cast<int>(dwMode)); });
}

HRESULT CoGlintBrokerServer::BrokerGetTextAlign(ULONG dwHDC, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [](HDC dc) { return GetTextAlign(dc); });
}

HRESULT CoGlintBrokerServer::BrokerSetTextAlign(ULONG dwHDC, ULONG dwAlign, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [=](HDC dc) { return SetTextAlign(dc, dwAlign); });
}

HRESULT CoGlintBrokerServer::BrokerGetBkMode(ULONG dwHDC, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [](HDC dc) { return GetBkMode(dc); });
}

HRESULT CoGlintBrokerServer::BrokerSetBkMode(ULONG dwHDC, ULONG dwMode, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC,
                 [=](HDC dc) { return SetBkMode(dc, static_cast<int>(dwMode)); });
}

HRESULT CoGlintBrokerServer::BrokerGetTextColor(ULONG dwHDC, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [](HDC dc) { return GetTextColor(dc); });
}

HRESULT CoGlintBrokerServer::BrokerSetTextColor(ULONG dwHDC, ULONG dwColor, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [=](HDC dc) { return SetTextColor(dc, dwColor); });
}

HRESULT CoGlintBrokerServer::BrokerGetDeviceCaps(ULONG dwHDC, ULONG dwIndex, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC,
                 [=](HDC dc) { return GetDeviceCaps(dc, static_cast<int>(dwIndex)); });
}

HRESULT CoGlintBrokerServer::BrokerSetTextCharacterExtra(ULONG dwHDC, ULONG dwCharExtra,
                                                         ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC,
                 [=](HDC dc) { return SetTextCharacterExtra(dc, static_cast<int>(dwCharExtra)); });
}

HRESULT CoGlintBrokerServer::BrokerSelectClipRgnNULL(ULONG dwHDC, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC, [](HDC dc) { return SelectClipRgn(dc, nullptr); });
}

HRESULT CoGlintBrokerServer::BrokerSetGraphicsMode(ULONG dwHDC, ULONG dwMode, ULONG* p_dwRC) {
  return DcValue(gdiHandles_, dwHDC, p_dwRC,
                 [=](HDC dc) { return SetGraphicsMode(dc, static_cast<int>(dwMode)); });
}

HRESULT CoGlintBrokerServer::BrokerDPtoLP(ULONG dwHDC, ULONG* p_dwX, ULONG* p_dwY, ULONG dwCount,
                                          ULONG* p_dwRC) {
  if (p_dwX == nullptr || p_dwY == nullptr || p_dwRC == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  // One point is carried: GDI is never asked for more.
  if (HRESULT refused = PrintGdi::ResultOf(PrintRules::CheckPointCount(dwCount)); FAILED(refused))
    return refused;
  POINT point = {static_cast<LONG>(*p_dwX), static_cast<LONG>(*p_dwY)};
  const BOOL converted = DPtoLP(Dc(dwHDC), &point, static_cast<int>(dwCount));
  *p_dwX = static_cast<ULONG>(point.x);
  *p_dwY = static_cast<ULONG>(point.y);
  *p_dwRC = static_cast<ULONG>(converted);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerGetWorldTransform(ULONG dwHDC, VARIANT* p_VarXformArray) {
  if (p_VarXformArray == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  XFORM transform{};
  static_assert(sizeof(transform) == 24);
  if (!GetWorldTransform(Dc(dwHDC), &transform)) return E_FAIL;
  return ReturnBlob(&transform, sizeof(transform), p_VarXformArray);
}

HRESULT CoGlintBrokerServer::BrokerSetWorldTransform(ULONG dwHDC, SAFEARRAY* p_XformArray,
                                                     ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  ByteBlob blob(p_XformArray);
  if (!blob.Valid() ||
      PrintRules::CheckFixedBlob(PrintRules::FixedBlob::WorldTransform, blob.Bytes().size()) !=
          PrintRules::Verdict::Accept)
    return E_FAIL;
  XFORM transform;
  std::memcpy(&transform, blob.Bytes().data(), sizeof(transform));
  *p_dwRC = static_cast<ULONG>(SetWorldTransform(Dc(dwHDC), &transform));
  return S_OK;
}

// ------------------------------------------------------------ objects

HRESULT CoGlintBrokerServer::BrokerCreateFontIndirect(SAFEARRAY* p_LogFontArray, ULONG* p_dwFont) {
  if (p_dwFont == nullptr) return E_INVALIDARG;
  ByteBlob blob(p_LogFontArray);
  if (!blob.Valid()) return E_FAIL;
  // A local copy whose face name ends inside it.
  auto description = PrintRules::FontDescriptionFrom(blob.Bytes());
  if (!description) return E_FAIL;
  LOGFONTW font;
  static_assert(sizeof(font) == PrintRules::kFontDescriptionBytes);
  std::memcpy(&font, description->data(), sizeof(font));
  HFONT created = CreateFontIndirectW(&font);
  gdiHandles_.Add(Number(created), GdiKind::Font);
  *p_dwFont = Number(created);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerGetObjectType(ULONG dwHandle, ULONG* p_dwType) {
  if (p_dwType == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsObject(dwHandle) && !gdiHandles_.IsDc(dwHandle)) return kUnknownHandle;
  *p_dwType = GetObjectType(FromNumber(dwHandle));
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerGetCurrentObject(ULONG dwHDC, ULONG dwObjectType,
                                                    ULONG* p_dwHGDIObj) {
  if (p_dwHGDIObj == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  HGDIOBJ current = GetCurrentObject(Dc(dwHDC), dwObjectType);
  NoteReturnedObject(dwHDC, current);
  *p_dwHGDIObj = Number(current);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerSelectObject(ULONG dwHDC, ULONG dwHGDI, ULONG* p_dwHGDIOld) {
  if (p_dwHGDIOld == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC) || !gdiHandles_.IsObject(dwHGDI)) return kUnknownHandle;
  HGDIOBJ previous = SelectObject(Dc(dwHDC), FromNumber(dwHGDI));
  NoteReturnedObject(dwHDC, previous);
  *p_dwHGDIOld = Number(previous);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerDeleteObject(ULONG dwHandle, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  // Only its own fonts; mapped fonts go back through the font link.
  if (!gdiHandles_.IsKind(dwHandle, GdiKind::Font)) return kUnknownHandle;
  // GDI would put off deleting a selected font, and the number, gone from
  // the table, could come back through the DC after another object got it.
  if (SelectedInOwnDc(dwHandle)) {
    *p_dwRC = FALSE;
    return S_OK;
  }
  const BOOL deleted = DeleteObject(FromNumber(dwHandle));
  if (deleted) gdiHandles_.Remove(dwHandle);
  *p_dwRC = static_cast<ULONG>(deleted);
  return S_OK;
}

// ------------------------------------------------------------ text metrics

HRESULT CoGlintBrokerServer::BrokerGetTextMetrics(ULONG dwHDC, VARIANT* p_VarTextmetricArray) {
  if (p_VarTextmetricArray == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  TEXTMETRICW metrics{};
  static_assert(sizeof(metrics) == 60);
  if (!GetTextMetricsW(Dc(dwHDC), &metrics)) return E_FAIL;
  return ReturnBlob(&metrics, sizeof(metrics), p_VarTextmetricArray);
}

// ------------------------------------------------------------ font link

HRESULT CoGlintBrokerServer::BrokerIMLangFontLinkMapFont(ULONG dwDC, ULONG dwCodePages,
                                                         ULONG dwhSrcFont, ULONG* p_dwhDestFont) {
  if (p_dwhDestFont == nullptr) return E_INVALIDARG;
  if (fontLink_ == nullptr) return E_FAIL;
  if (!gdiHandles_.IsDc(dwDC) || !gdiHandles_.IsObject(dwhSrcFont)) return kUnknownHandle;
  HFONT mapped = nullptr;
  const HRESULT result =
      fontLink_->MapFont(Dc(dwDC), dwCodePages, FromNumber<HFONT>(dwhSrcFont), &mapped);
  if (FAILED(result)) return result;
  gdiHandles_.Add(Number(mapped), GdiKind::MappedFont);
  *p_dwhDestFont = Number(mapped);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerIMLangFontLinkGetFontCodePages(ULONG dwDC, ULONG dwhFont,
                                                                  ULONG* p_dwCodePages) {
  if (p_dwCodePages == nullptr) return E_INVALIDARG;
  if (fontLink_ == nullptr) return E_FAIL;
  if (!gdiHandles_.IsDc(dwDC) || !gdiHandles_.IsObject(dwhFont)) return kUnknownHandle;
  DWORD codePages = 0;
  const HRESULT result =
      fontLink_->GetFontCodePages(Dc(dwDC), FromNumber<HFONT>(dwhFont), &codePages);
  if (FAILED(result)) return result;
  *p_dwCodePages = codePages;
  return result;
}

HRESULT CoGlintBrokerServer::BrokerIMLangFontLinkReleaseFont(ULONG dwhFont) {
  if (fontLink_ == nullptr) return E_FAIL;
  if (!gdiHandles_.IsKind(dwhFont, GdiKind::MappedFont)) return kUnknownHandle;
  const HRESULT result = fontLink_->ReleaseFont(FromNumber<HFONT>(dwhFont));
  if (SUCCEEDED(result)) gdiHandles_.ReleaseMapping(dwhFont);
  return result;
}
