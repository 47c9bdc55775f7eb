// Printing: paths, fills, bitmaps and text on the player's printer DC.
//
// A null out-pointer answers E_INVALIDARG; out-values are written only on
// success. The DC number must be one this broker object's print dialog gave
// (else E_INVALIDARG before GDI). Every byte array is read through ByteBlob
// and measured by PrintRules before GDI reads a byte of it, so that GDI
// never reads past what the player sent.
#include <windows.h>

#include <cstring>

#include "broker/server/ByteBlob.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/PrintGdi.h"
#include "broker/services/PrintRules.h"

using PrintGdi::Dc;
using PrintRules::FixedBlob;
using PrintRules::Verdict;

namespace {

constexpr HRESULT kUnknownHandle = E_INVALIDARG;

bool Fits(const ByteBlob& blob, FixedBlob kind) {
  return blob.Valid() && PrintRules::CheckFixedBlob(kind, blob.Bytes().size()) == Verdict::Accept;
}

// A GDI object made for one call, selected into the DC and put back.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) : dc_(dc), object_(object) {
    if (object_ != nullptr) previous_ = SelectObject(dc_, object_);
  }
  ~Selected() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
    if (object_ != nullptr) DeleteObject(object_);
  }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ object_;
  HGDIOBJ previous_ = nullptr;
};

// A DC state saved for one call and restored on every path.
class SavedState {
 public:
  SavedState(HDC dc, bool save) : dc_(dc), state_(save ? SaveDC(dc) : 0) {}
  ~SavedState() {
    if (state_ != 0) RestoreDC(dc_, state_);
  }
  SavedState(const SavedState&) = delete;
  SavedState& operator=(const SavedState&) = delete;

 private:
  HDC dc_;
  int state_;
};

struct Placement {
  int x, y, width, height;
};
Placement PlacementFrom(const ByteBlob& blob) {
  Placement placement;
  std::memcpy(&placement, blob.Bytes().data(), sizeof(placement));
  return placement;
}

// The bitmap fills' common checks: the two placements, the header (44 or
// 48 bytes) and the pixels the header describes.
bool BitmapFits(const ByteBlob& target, const ByteBlob& source, const ByteBlob& header,
                FixedBlob headerKind, const ByteBlob& pixelBlob) {
  if (!Fits(target, FixedBlob::BitmapRectangle) || !Fits(source, FixedBlob::BitmapRectangle) ||
      !Fits(header, headerKind) || !pixelBlob.Valid())
    return false;
  auto parsed = PrintRules::ReadBitmapHeader(header.Bytes());
  if (!parsed ||
      PrintRules::CheckBitmap(*parsed, header.Bytes().size(), pixelBlob.Bytes().size()) !=
          PrintRules::BitmapVerdict::Fits)
    return false;
  return true;
}

void StretchBitmap(HDC dc, const ByteBlob& target, const ByteBlob& source, const ByteBlob& pixels,
                   const ByteBlob& header, DWORD rop) {
  const Placement t = PlacementFrom(target), s = PlacementFrom(source);
  StretchDIBits(dc, t.x, t.y, t.width, t.height, s.x, s.y, s.width, s.height, pixels.Bytes().data(),
                reinterpret_cast<const BITMAPINFO*>(header.Bytes().data()), DIB_RGB_COLORS, rop);
}

}  // namespace

HRESULT CoGlintBrokerServer::BrokerAddRectangle(ULONG dwHDC, SAFEARRAY* p_RectArray, ULONG dwRGB) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  ByteBlob blob(p_RectArray);
  if (!Fits(blob, FixedBlob::Rectangle)) return E_FAIL;
  RECT rect;
  std::memcpy(&rect, blob.Bytes().data(), sizeof(rect));
  HDC dc = Dc(dwHDC);
  HBRUSH brush = CreateSolidBrush(dwRGB);
  Selected selected(dc, brush);
  FillRect(dc, &rect, brush);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerBeginPath(ULONG dwHDC) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return BeginPath(Dc(dwHDC)) ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerEndPath(ULONG dwHDC) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return EndPath(Dc(dwHDC)) ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerMoveTo(ULONG dwHDC, ULONG dwX, ULONG dwY) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return MoveToEx(Dc(dwHDC), static_cast<int>(dwX), static_cast<int>(dwY), nullptr) ? S_OK : E_FAIL;
}

// The two values are the end point itself, not an offset.
HRESULT CoGlintBrokerServer::BrokerLineTo(ULONG dwHDC, ULONG dwDeltaX, ULONG dwDeltaY) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return LineTo(Dc(dwHDC), static_cast<int>(dwDeltaX), static_cast<int>(dwDeltaY)) ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerSelectClipPath(ULONG dwHDC, ULONG dwMode) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  return SelectClipPath(Dc(dwHDC), static_cast<int>(dwMode)) ? S_OK : E_FAIL;
}

// FillPath and StrokePath may report failure on a printer DC that drew
// correctly: their results are not reported.
HRESULT CoGlintBrokerServer::BrokerPathToSolidFill(ULONG dwHDC, ULONG dwRGB) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  HDC dc = Dc(dwHDC);
  Selected selected(dc, CreateSolidBrush(dwRGB));
  FillPath(dc);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerPathToStrokedLine(ULONG dwHDC, ULONG dwThickness, ULONG dwRGB) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  HDC dc = Dc(dwHDC);
  LOGBRUSH brush = {BS_SOLID, dwRGB, 0};
  // Solid, round caps and joins: all zero bits beside PS_GEOMETRIC.
  Selected selected(dc, ExtCreatePen(PS_GEOMETRIC, dwThickness, &brush, 0, nullptr));
  StrokePath(dc);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerPolyBezierTo(ULONG dwHDC, SAFEARRAY* p_CubicArray,
                                                ULONG dwCount) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  ByteBlob blob(p_CubicArray);
  if (!blob.Valid() || PrintRules::CheckBezier(dwCount, blob.Bytes().size()) != Verdict::Accept)
    return E_FAIL;
  PolyBezierTo(Dc(dwHDC), reinterpret_cast<const POINT*>(blob.Bytes().data()), dwCount);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerPathToBitmapFill(ULONG dwHDC, SAFEARRAY* p_tRectArray,
                                                    SAFEARRAY* p_sRectArray,
                                                    SAFEARRAY* p_BitmapArray,
                                                    SAFEARRAY* p_BitmapInfoArray,
                                                    ULONG dwSaveRestore) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  ByteBlob target(p_tRectArray), source(p_sRectArray), header(p_BitmapInfoArray);
  ByteBlob pixels(p_BitmapArray);
  if (!BitmapFits(target, source, header, FixedBlob::OpaqueBitmapHeader, pixels)) return E_FAIL;
  HDC dc = Dc(dwHDC);
  SavedState saved(dc, dwSaveRestore != 0);
  if (dwSaveRestore != 0) SelectClipPath(dc, RGN_AND);
  StretchBitmap(dc, target, source, pixels, header, SRCCOPY);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerPathToTransparentBitmapFill(ULONG dwHDC, SAFEARRAY* p_tRectArray,
                                                               SAFEARRAY* p_sRectArray,
                                                               SAFEARRAY* p_BitmapArray,
                                                               SAFEARRAY* p_BitmapInfoArray,
                                                               ULONG dwRGB, ULONG dwROP) {
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  ByteBlob target(p_tRectArray), source(p_sRectArray), header(p_BitmapInfoArray);
  ByteBlob pixels(p_BitmapArray);
  if (!BitmapFits(target, source, header, FixedBlob::TransparentBitmapHeader, pixels))
    return E_FAIL;
  HDC dc = Dc(dwHDC);
  SavedState saved(dc, true);
  {
    // The raster operation combines this brush, the bitmap and the page.
    Selected brush(dc, CreateSolidBrush(dwRGB));
    SelectClipPath(dc, RGN_AND);
    StretchBitmap(dc, target, source, pixels, header, dwROP);
  }
  return S_OK;
}

// ------------------------------------------------------------ text

HRESULT CoGlintBrokerServer::BrokerExtTextOutA(ULONG dwHDC, ULONG dwX, ULONG dwY, ULONG dwOptions,
                                               ULONG dwIsRectNULL, SAFEARRAY* p_RectArray,
                                               SAFEARRAY* p_StrArray, ULONG dwCount,
                                               ULONG dwIsDxNULL, SAFEARRAY* p_DxArray,
                                               ULONG* p_dwRC) {
  return TextOutput(false, dwHDC, dwX, dwY, dwOptions, dwIsRectNULL, p_RectArray, p_StrArray,
                    dwCount, dwIsDxNULL, p_DxArray, p_dwRC);
}

HRESULT CoGlintBrokerServer::BrokerExtTextOutW(ULONG dwHDC, ULONG dwX, ULONG dwY, ULONG dwOptions,
                                               ULONG dwIsRectNULL, SAFEARRAY* p_RectArray,
                                               SAFEARRAY* p_StrArray, ULONG dwCount,
                                               ULONG dwIsDxNULL, SAFEARRAY* p_DxArray,
                                               ULONG* p_dwRC) {
  return TextOutput(true, dwHDC, dwX, dwY, dwOptions, dwIsRectNULL, p_RectArray, p_StrArray,
                    dwCount, dwIsDxNULL, p_DxArray, p_dwRC);
}

HRESULT CoGlintBrokerServer::TextOutput(bool wide, ULONG dwHDC, ULONG dwX, ULONG dwY,
                                        ULONG dwOptions, ULONG dwIsRectNULL, SAFEARRAY* p_RectArray,
                                        SAFEARRAY* p_StrArray, ULONG dwCount, ULONG dwIsDxNULL,
                                        SAFEARRAY* p_DxArray, ULONG* p_dwRC) {
  if (p_dwRC == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  // The count is refused before any blob is touched.
  if (dwCount > PrintRules::kMaxTextCount) return E_INVALIDARG;
  ByteBlob rect(p_RectArray), text(p_StrArray), advances(p_DxArray);
  if (!rect.Valid() || !text.Valid() || !advances.Valid()) return E_FAIL;
  const PrintRules::TextOutCall call = {dwCount, dwOptions, wide, dwIsRectNULL != 0,
                                        dwIsDxNULL != 0};
  const PrintRules::TextOutPlan plan = PrintRules::CheckTextOut(
      call, rect.Bytes().size(), text.Bytes().size(), advances.Bytes().size());
  if (plan.verdict != Verdict::Accept) return PrintGdi::ResultOf(plan.verdict);
  RECT area;
  std::memcpy(&area, rect.Bytes().data(), sizeof(area));
  const RECT* passedArea = plan.passRectangle ? &area : nullptr;
  const INT* passedAdvances =
      plan.passAdvances ? reinterpret_cast<const INT*>(advances.Bytes().data()) : nullptr;
  HDC dc = Dc(dwHDC);
  const int x = static_cast<int>(dwX), y = static_cast<int>(dwY);
  const BOOL drawn =
      wide ? ExtTextOutW(dc, x, y, dwOptions, passedArea,
                         reinterpret_cast<LPCWSTR>(text.Bytes().data()), dwCount, passedAdvances)
           : ExtTextOutA(dc, x, y, dwOptions, passedArea,
                         reinterpret_cast<LPCSTR>(text.Bytes().data()), dwCount, passedAdvances);
  *p_dwRC = static_cast<ULONG>(drawn);
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerGetTextExtentPoint32A(ULONG dwHDC, SAFEARRAY* p_StrArray,
                                                         ULONG dwCount, ULONG* p_dwCx,
                                                         ULONG* p_dwCy) {
  return TextMeasure(false, dwHDC, p_StrArray, dwCount, p_dwCx, p_dwCy);
}

HRESULT CoGlintBrokerServer::BrokerGetTextExtentPoint32W(ULONG dwHDC, SAFEARRAY* p_StrArray,
                                                         ULONG dwCount, ULONG* p_dwCx,
                                                         ULONG* p_dwCy) {
  return TextMeasure(true, dwHDC, p_StrArray, dwCount, p_dwCx, p_dwCy);
}

HRESULT CoGlintBrokerServer::TextMeasure(bool wide, ULONG dwHDC, SAFEARRAY* p_StrArray,
                                         ULONG dwCount, ULONG* p_dwCx, ULONG* p_dwCy) {
  if (p_dwCx == nullptr || p_dwCy == nullptr) return E_INVALIDARG;
  if (!gdiHandles_.IsDc(dwHDC)) return kUnknownHandle;
  if (dwCount > PrintRules::kMaxTextCount) return E_INVALIDARG;
  ByteBlob text(p_StrArray);
  if (!text.Valid()) return E_FAIL;
  if (HRESULT refused =
          PrintGdi::ResultOf(PrintRules::CheckTextExtent(dwCount, wide, text.Bytes().size()));
      FAILED(refused))
    return refused;
  SIZE size{};
  HDC dc = Dc(dwHDC);
  const int count = static_cast<int>(dwCount);
  const BOOL measured =
      wide ? GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.Bytes().data()), count, &size)
           : GetTextExtentPoint32A(dc, reinterpret_cast<LPCSTR>(text.Bytes().data()), count, &size);
  if (!measured) return E_FAIL;
  *p_dwCx = static_cast<ULONG>(size.cx);
  *p_dwCy = static_cast<ULONG>(size.cy);
  return S_OK;
}
