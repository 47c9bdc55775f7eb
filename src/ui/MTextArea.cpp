#include <cstring>
#include <new>
#include <vector>

#include "ui/Controls.h"
#include "ui/MWindow.h"
#include "ui/ZavuzER.h"

TextFontChoice TextFontFor(LCID locale, int32_t size) {
  switch (locale) {
    case 1028:
      return {"Mingliu", size - 3};
    case 1041:
      return {"Mincho", size - 2};
    case 2052:
      return {"SimSun", size - 3};
    default:
      return {"Arial", size};
  }
}

namespace {

HFONT MakeFont(const TextFontChoice& choice, int weight) {
  return CreateFontA(choice.height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, VARIABLE_PITCH,
                     choice.face);
}

// Bitmap sides grow to the next multiple of 128 past the size asked for.
int32_t GrownSide(int32_t wanted, int32_t current) {
  const int32_t grown = wanted / 128 * 128 + 128;
  return grown > current ? grown : current;
}

}  // namespace

// The layout walk's drawing: GDI text into the area's DIB, and the link
// elements over linked pieces.
class MTextArea::Painter final : public TextPainter {
 public:
  Painter(MTextArea* area, int32_t width, int32_t height)
      : area_(area), width_(width), height_(height) {}

  size_t Measure(std::u16string_view text, const TextRun& run, int32_t room,
                 int32_t* widths) override {
    HDC dc = area_->surface_.dc;
    UseFont(dc, run.bold);
    int fit = 0;
    SIZE size{};
    partial_.resize(text.size());
    if (!GetTextExtentExPointW(dc, reinterpret_cast<const wchar_t*>(text.data()),
                               static_cast<int>(text.size()), room, &fit, partial_.data(), &size)) {
      return 0;
    }
    for (int i = 0; i < fit; ++i) widths[i] = partial_[i];
    return static_cast<size_t>(fit);
  }

  int32_t Draw(std::u16string_view piece, const TextRun& run, int32_t x, int32_t y,
               int32_t width) override {
    HDC dc = area_->surface_.dc;
    UseFont(dc, run.bold);
    const bool link = IsLinkRun(run);
    const COLORREF colour = link ? area_->linkText_ : 0xFFFFFF;
    if (colour != colour_) colour_ = SetTextColor(dc, colour) != CLR_INVALID ? colour : CLR_INVALID;
    const int32_t top = y + area_->verticalOffset_;
    int32_t lineHeight = 0;
    if (piece.empty()) {
      TEXTMETRICW metrics{};
      GetTextMetricsW(dc, &metrics);
      lineHeight = metrics.tmHeight;
    } else {
      RECT area{x, top, width_, height_};
      lineHeight = DrawTextW(dc, reinterpret_cast<const wchar_t*>(piece.data()),
                             static_cast<int>(piece.size()), &area,
                             area_->format_ | DT_SINGLELINE | DT_NOCLIP);
    }
    if (link && !piece.empty()) {
      MHTMLLink* element =
          run.kind == TextRunKind::CommandLink
              ? new (std::nothrow)
                    MNCPLink(area_->owner_, run.target, area_->linkUnderline_, area_->linkHover_)
              : new (std::nothrow)
                    MHTMLLink(area_->owner_, run.target, area_->linkUnderline_, area_->linkHover_);
      if (element != nullptr) {
        SetRectXYWH(element, x, top, width, lineHeight);
        AddChild(area_, element);
        element->Layout();
        area_->links_.push_back(element);
      }
      const RECT underline{x, top + lineHeight - 1, x + width, top + lineHeight};
      FillRect(dc, &underline, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    return lineHeight;
  }

 private:
  // Runs change fonts and colours rarely; the calls are saved for when they do.
  void UseFont(HDC dc, bool bold) {
    HFONT font = area_->Font(bold);
    if (font != font_) SelectObject(dc, font_ = font);
  }

  MTextArea* area_;
  int32_t width_, height_;
  HFONT font_ = nullptr;
  COLORREF colour_ = CLR_INVALID;
  std::vector<int> partial_;
};

MTextArea::MTextArea(MWindow* window, int32_t size, bool markup, bool bold)
    : owner_(window), bold_(bold), markup_(markup) {
  const TextFontChoice choice = TextFontFor(GetThreadLocale(), size);
  regularFont_ = MakeFont(choice, FW_NORMAL);
  boldFont_ = MakeFont(choice, FW_BOLD);
  HWND hwnd = window != nullptr ? window->Handle() : nullptr;
  HDC windowDc = GetDC(hwnd);
  surface_.dc = CreateCompatibleDC(windowDc);
  ReleaseDC(hwnd, windowDc);
  if (surface_.dc != nullptr) {
    SetBkMode(surface_.dc, TRANSPARENT);
    surface_.replaced = GetCurrentObject(surface_.dc, OBJ_BITMAP);
  }
  EnsureBitmap(0, 0);
  SetMode(DrawMode::AlphaBlend);
  SetImage(&surface_);
}

MTextArea::~MTextArea() {
  RemoveLinks();
  if (surface_.dc != nullptr) SelectObject(surface_.dc, GetStockObject(SYSTEM_FONT));
  surface_.Reset();
  DeleteObject(regularFont_);
  DeleteObject(boldFont_);
}

void MTextArea::SetText(const MString& text) {
  text_ = text;
  reparse_ = true;
}

bool MTextArea::EnsureBitmap(int32_t width, int32_t height) {
  if (surface_.dib != nullptr && width <= bitmapWidth_ && height <= bitmapHeight_) return true;
  if (surface_.dc == nullptr) return false;
  if (surface_.dib != nullptr) {
    bitmapWidth_ = GrownSide(width, bitmapWidth_);
    bitmapHeight_ = GrownSide(height, bitmapHeight_);
  }
  void* bits = nullptr;
  HBITMAP dib = CreateDib32(surface_.dc, bitmapWidth_, bitmapHeight_, &bits);
  if (dib == nullptr) return false;
  SelectObject(surface_.dc, dib);
  if (surface_.dib != nullptr) DeleteObject(surface_.dib);
  surface_.dib = dib;
  surface_.bits = static_cast<uint8_t*>(bits);
  surface_.width = bitmapWidth_;
  surface_.height = bitmapHeight_;
  return true;
}

void MTextArea::RemoveLinks() {
  for (MHTMLLink* link : links_) delete link;  // leaves the tree on the way
  links_.clear();
}

int32_t MTextArea::Render() {
  const int32_t width = Width(), height = Height();
  if (width <= 0 || height <= 0 || !EnsureBitmap(width, height)) return 0;
  if (reparse_) {
    runs_ = MakeTextRuns(text_, markup_, bold_);
    reparse_ = false;
  }
  RemoveLinks();
  GdiFlush();
  std::memset(surface_.bits, 0, static_cast<size_t>(bitmapWidth_) * bitmapHeight_ * 4);

  int32_t lines = 0;
  if (!runs_.empty()) {
    Painter painter(this, width, height);
    lines = LayOutTextRuns(runs_, width, painter);
    GdiFlush();
    const ptrdiff_t stride = static_cast<ptrdiff_t>(bitmapWidth_) * 4;
    uint8_t* topRow = surface_.bits + (bitmapHeight_ - 1) * stride;
    ApplyTextAlpha(topRow, -stride, width, height, alpha);
  }
  source = UiSourceRect{0, 0, width, height};
  RepositionProxy(this);
  InvalidateElement(window, this);
  SetElementText(this, text_);
  return lines;
}
