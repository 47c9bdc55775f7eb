// Pages printed through a live broker, each next to the same page printed by
// the test with the same GDI calls on its own DC of the same printer: the
// fixture's printer writes both jobs as PostScript, which must be the same
// bytes, and must differ from an empty page. Both jobs stay beside the
// printer's output (page-NAME-broker.ps, page-NAME-direct.ps) with a line
// per colour probe in probes.txt, which scripts/print-render.sh renders to
// PNG and checks.
#include <windows.h>
#include <mlang.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "PrintTestSupport.h"
#include "WineTestSupport.h"

using namespace print_test;

namespace {

struct Box {
  int x, y, width, height;
};

// What a page case draws, said once for both printers.
class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void Rect(RECT r, COLORREF colour) = 0;
  virtual void Begin() = 0;
  virtual void End() = 0;
  virtual void Move(int x, int y) = 0;
  virtual void Line(int x, int y) = 0;
  virtual void Bezier(const std::vector<POINT>& points) = 0;
  virtual void Fill(COLORREF colour) = 0;
  virtual void Stroke(int width, COLORREF colour) = 0;
  virtual void ClipRect(int l, int t, int r, int b) = 0;
  virtual void ClipNone() = 0;
  virtual void Bitmap(Box target, Box source, const std::string& header, const std::string& pixels,
                      bool saveRestore) = 0;
  virtual void Transparent(Box target, Box source, const std::string& header,
                           const std::string& pixels, COLORREF colour, DWORD rop) = 0;
  // Narrow or wide text of `count` units (terminator included in `text`).
  virtual void Text(bool wide, int x, int y, UINT options, const std::string& text, UINT count,
                    const std::vector<INT>& advances) = 0;
  virtual void Font(const LOGFONTW& font) = 0;
  virtual void Transform(const XFORM& transform) = 0;
  virtual void TextColour(COLORREF colour) = 0;
  // The font link's font for `codePages` in place of the selected font.
  virtual void MappedFont(DWORD codePages) = 0;
};

const CLSID kClsidMultiLanguage = {
    0x275C23E2, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
const IID kIidFontLink = {
    0x359F3441, 0xBD4A, 0x11D0, {0xB1, 0x88, 0x00, 0xAA, 0x00, 0x38, 0xC9, 0x69}};

std::string Placement(Box b) {
  return std::string(reinterpret_cast<const char*>(&b), sizeof b);
}

class BrokerCanvas final : public Canvas {
 public:
  BrokerCanvas(IGlintBroker6* broker, ULONG dc) : b_(broker), dc_(dc) {}
  ~BrokerCanvas() override {
    for (ULONG font : fonts_) b_->BrokerDeleteObject(font, &rc_);
  }
  void Rect(RECT r, COLORREF colour) override {
    UniqueSafeArray a = Bytes(Raw(r));
    Expect(b_->BrokerAddRectangle(dc_, a.Get(), colour));
  }
  void Begin() override { Expect(b_->BrokerBeginPath(dc_)); }
  void End() override { Expect(b_->BrokerEndPath(dc_)); }
  void Move(int x, int y) override { Expect(b_->BrokerMoveTo(dc_, x, y)); }
  void Line(int x, int y) override { Expect(b_->BrokerLineTo(dc_, x, y)); }
  void Bezier(const std::vector<POINT>& points) override {
    UniqueSafeArray a = Bytes(
        std::string(reinterpret_cast<const char*>(points.data()), points.size() * sizeof(POINT)));
    Expect(b_->BrokerPolyBezierTo(dc_, a.Get(), static_cast<ULONG>(points.size())));
  }
  void Fill(COLORREF colour) override { Expect(b_->BrokerPathToSolidFill(dc_, colour)); }
  void Stroke(int width, COLORREF colour) override {
    Expect(b_->BrokerPathToStrokedLine(dc_, width, colour));
  }
  void ClipRect(int l, int t, int r, int b) override {
    Expect(b_->BrokerIntersectClipRect(dc_, l, t, r, b, &rc_));
  }
  void ClipNone() override { Expect(b_->BrokerSelectClipRgnNULL(dc_, &rc_)); }
  void Bitmap(Box target, Box source, const std::string& header, const std::string& pixels,
              bool saveRestore) override {
    UniqueSafeArray t = Bytes(Placement(target)), s = Bytes(Placement(source)), h = Bytes(header),
                    p = Bytes(pixels);
    Expect(b_->BrokerPathToBitmapFill(dc_, t.Get(), s.Get(), p.Get(), h.Get(), saveRestore));
  }
  void Transparent(Box target, Box source, const std::string& header, const std::string& pixels,
                   COLORREF colour, DWORD rop) override {
    UniqueSafeArray t = Bytes(Placement(target)), s = Bytes(Placement(source)), h = Bytes(header),
                    p = Bytes(pixels);
    Expect(b_->BrokerPathToTransparentBitmapFill(dc_, t.Get(), s.Get(), p.Get(), h.Get(), colour,
                                                 rop));
  }
  void Text(bool wide, int x, int y, UINT options, const std::string& text, UINT count,
            const std::vector<INT>& advances) override {
    UniqueSafeArray r = Zeros(16), s = Bytes(text),
                    d = Bytes(std::string(reinterpret_cast<const char*>(advances.data()),
                                          advances.size() * sizeof(INT)));
    auto method = wide ? &IGlintBroker6::BrokerExtTextOutW : &IGlintBroker6::BrokerExtTextOutA;
    Expect((b_->*method)(dc_, x, y, options, 1, r.Get(), s.Get(), count, advances.empty(), d.Get(),
                         &rc_));
    EXPECT_EQ(rc_, 1u);
  }
  void Font(const LOGFONTW& font) override {
    UniqueSafeArray a = Bytes(Raw(font));
    ULONG created = 0, previous = 0;
    Expect(b_->BrokerCreateFontIndirect(a.Get(), &created));
    Expect(b_->BrokerSelectObject(dc_, created, &previous));
    fonts_.push_back(created);
  }
  void Transform(const XFORM& transform) override {
    Expect(b_->BrokerSetGraphicsMode(dc_, GM_ADVANCED, &rc_));
    UniqueSafeArray a = Bytes(Raw(transform));
    Expect(b_->BrokerSetWorldTransform(dc_, a.Get(), &rc_));
  }
  void TextColour(COLORREF colour) override { Expect(b_->BrokerSetTextColor(dc_, colour, &rc_)); }
  void MappedFont(DWORD codePages) override {
    ULONG current = 0, mapped = 0, previous = 0;
    Expect(b_->BrokerGetCurrentObject(dc_, OBJ_FONT, &current));
    Expect(b_->BrokerIMLangFontLinkMapFont(dc_, codePages, current, &mapped));
    Expect(b_->BrokerSelectObject(dc_, mapped, &previous));
    mapped_.push_back(mapped);
  }
  void Finish() {
    for (ULONG font : mapped_) Expect(b_->BrokerIMLangFontLinkReleaseFont(font));
  }

 private:
  static void Expect(HRESULT hr) { EXPECT_EQ(hr, S_OK); }
  std::vector<ULONG> mapped_;
  IGlintBroker6* b_;
  ULONG dc_;
  ULONG rc_ = 0;
  std::vector<ULONG> fonts_;
};

// The same GDI calls the broker makes, made here.
class DirectCanvas final : public Canvas {
 public:
  explicit DirectCanvas(HDC dc) : dc_(dc) {}
  ~DirectCanvas() override {
    for (HFONT font : fonts_) DeleteObject(font);
  }
  void Rect(RECT r, COLORREF colour) override {
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ old = SelectObject(dc_, brush);
    FillRect(dc_, &r, brush);
    SelectObject(dc_, old);
    DeleteObject(brush);
  }
  void Begin() override { BeginPath(dc_); }
  void End() override { EndPath(dc_); }
  void Move(int x, int y) override { MoveToEx(dc_, x, y, nullptr); }
  void Line(int x, int y) override { LineTo(dc_, x, y); }
  void Bezier(const std::vector<POINT>& points) override {
    PolyBezierTo(dc_, points.data(), static_cast<DWORD>(points.size()));
  }
  void Fill(COLORREF colour) override {
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ old = SelectObject(dc_, brush);
    FillPath(dc_);
    SelectObject(dc_, old);
    DeleteObject(brush);
  }
  void Stroke(int width, COLORREF colour) override {
    LOGBRUSH brush = {BS_SOLID, colour, 0};
    HPEN pen = ExtCreatePen(PS_GEOMETRIC, width, &brush, 0, nullptr);
    HGDIOBJ old = SelectObject(dc_, pen);
    StrokePath(dc_);
    SelectObject(dc_, old);
    DeleteObject(pen);
  }
  void ClipRect(int l, int t, int r, int b) override { IntersectClipRect(dc_, l, t, r, b); }
  void ClipNone() override { SelectClipRgn(dc_, nullptr); }
  void Bitmap(Box t, Box s, const std::string& header, const std::string& pixels,
              bool saveRestore) override {
    const int saved = saveRestore ? SaveDC(dc_) : 0;
    if (saveRestore) SelectClipPath(dc_, RGN_AND);
    StretchDIBits(dc_, t.x, t.y, t.width, t.height, s.x, s.y, s.width, s.height, pixels.data(),
                  reinterpret_cast<const BITMAPINFO*>(header.data()), DIB_RGB_COLORS, SRCCOPY);
    if (saveRestore) RestoreDC(dc_, saved);
  }
  void Transparent(Box t, Box s, const std::string& header, const std::string& pixels,
                   COLORREF colour, DWORD rop) override {
    const int saved = SaveDC(dc_);
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ old = SelectObject(dc_, brush);
    SelectClipPath(dc_, RGN_AND);
    StretchDIBits(dc_, t.x, t.y, t.width, t.height, s.x, s.y, s.width, s.height, pixels.data(),
                  reinterpret_cast<const BITMAPINFO*>(header.data()), DIB_RGB_COLORS, rop);
    SelectObject(dc_, old);
    DeleteObject(brush);
    RestoreDC(dc_, saved);
  }
  void Text(bool wide, int x, int y, UINT options, const std::string& text, UINT count,
            const std::vector<INT>& advances) override {
    const INT* dx = advances.empty() ? nullptr : advances.data();
    if (wide)
      ExtTextOutW(dc_, x, y, options, nullptr, reinterpret_cast<LPCWSTR>(text.data()), count, dx);
    else
      ExtTextOutA(dc_, x, y, options, nullptr, text.data(), count, dx);
  }
  void Font(const LOGFONTW& font) override {
    HFONT created = CreateFontIndirectW(&font);
    SelectObject(dc_, created);
    fonts_.push_back(created);
  }
  void Transform(const XFORM& transform) override {
    SetGraphicsMode(dc_, GM_ADVANCED);
    SetWorldTransform(dc_, &transform);
  }
  void TextColour(COLORREF colour) override { SetTextColor(dc_, colour); }
  void MappedFont(DWORD codePages) override {
    if (!link_) {
      ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(kClsidMultiLanguage, nullptr, CLSCTX_INPROC_SERVER,
                                                kIidFontLink, link_.Receive()));
    }
    HFONT mapped = nullptr;
    ASSERT_HRESULT_SUCCEEDED(link_->MapFont(
        dc_, codePages, static_cast<HFONT>(GetCurrentObject(dc_, OBJ_FONT)), &mapped));
    SelectObject(dc_, mapped);
    mapped_.push_back(mapped);
  }
  void Finish() {
    for (HFONT font : mapped_) link_->ReleaseFont(font);
  }

 private:
  HDC dc_;
  ComRef<IMLangFontLink> link_;
  std::vector<HFONT> mapped_;
  std::vector<HFONT> fonts_;
};

std::string Header(LONG width, LONG height, WORD bits, int entries, const std::string& colours) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  h.biCompression = BI_RGB;
  std::string blob = Raw(h) + colours;
  blob.resize(sizeof(h) + 4 * entries, '\0');
  return blob;
}
// A 2 x 2 top-down image: red, green / blue, white (blue, green, red, unused per pixel).
const std::string kQuad("\x00\x00\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\x00", 16);

void Triangle(Canvas& c) {
  c.Begin();
  c.Move(300, 300);
  c.Line(900, 300);
  c.Line(600, 900);
  c.Line(300, 300);
  c.End();
}

// A colour the rendered page must show: page coordinates in the printer's
// pixels (origin at the printable area), colour as 0xRRGGBB.
struct Probe {
  int x, y;
  unsigned rgb;
};

struct PageCase {
  const char* name;
  std::function<void(Canvas&)> draw;
  std::vector<Probe> probes;
};

std::vector<PageCase> PageCases() {
  LOGFONTW font{};
  font.lfHeight = -80;
  font.lfWeight = FW_BOLD;
  wcscpy(font.lfFaceName, L"Arial");
  return {
      {"rectangle",
       [](Canvas& c) {
         c.Rect({200, 200, 800, 600}, RGB(255, 0, 0));
       },
       {{500, 400, 0xFF0000}, {900, 700, 0xFFFFFF}}},
      {"solid-path",
       [](Canvas& c) {
         Triangle(c);
         c.Fill(RGB(0, 160, 0));
       },
       {{600, 400, 0x00A000}, {320, 850, 0xFFFFFF}}},
      {"stroked-bezier",
       [](Canvas& c) {
         c.Begin();
         c.Move(200, 600);
         c.Bezier({{400, 200}, {800, 1000}, {1000, 600}});
         c.End();
         c.Stroke(20, RGB(0, 0, 255));
       },
       {{200, 600, 0x0000FF}, {1000, 600, 0x0000FF}}},
      {"clip",
       [](Canvas& c) {
         c.ClipRect(300, 300, 500, 500);
         c.Rect({200, 200, 800, 800}, RGB(255, 0, 0));
         c.ClipNone();
         c.Rect({900, 900, 1000, 1000}, RGB(0, 0, 255));
       },
       {{400, 400, 0xFF0000}, {700, 700, 0xFFFFFF}, {950, 950, 0x0000FF}}},
      {"bitmap-clipped",
       [](Canvas& c) {
         Triangle(c);
         c.Bitmap({300, 300, 600, 600}, {0, 0, 2, 2}, Header(2, -2, 32, 1, ""), kQuad, true);
         c.Rect({1000, 1000, 1100, 1100}, RGB(0, 0, 0));
       },
       {{450, 350, 0xFF0000}, {320, 850, 0xFFFFFF}, {1050, 1050, 0x000000}}},
      {"bitmap-unclipped",
       [](Canvas& c) {
         Triangle(c);
         c.Bitmap({300, 300, 600, 600}, {0, 0, 2, 2}, Header(2, -2, 32, 1, ""), kQuad, false);
         c.Rect({1000, 1000, 1100, 1100}, RGB(0, 0, 0));
       },
       {{320, 850, 0x0000FF}, {1050, 1050, 0x000000}}},
      {"transparent-rop",
       [](Canvas& c) {
         c.Rect({200, 200, 1000, 1000}, RGB(255, 255, 0));
         Triangle(c);
         // A 1 bpp mask: black where the bitmap is 0, white where 1.
         const std::string mask("\xF0\x00\x00\x00\xF0\x00\x00\x00", 8);
         c.Transparent({300, 300, 600, 600}, {0, 0, 8, 2},
                       Header(8, -2, 1, 2, std::string("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8)),
                       mask, RGB(0, 0, 255), MERGECOPY);
       },
       // Wine's PostScript driver draws the mask's source colours (white,
       // black) inside the path; outside it the page stays yellow.
       {{400, 350, 0xFFFFFF}, {850, 350, 0x000000}, {320, 850, 0xFFFF00}}},
      {"text",
       [font](Canvas& c) {
         c.Font(font);
         c.TextColour(RGB(200, 0, 0));
         const std::string narrow("Glint", 6);
         c.Text(false, 200, 200, 0, narrow, 5, {});
         const std::wstring wide = L"Glint";
         c.Text(true, 200, 500, 0,
                std::string(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * 2), 5,
                {60, 60, 60, 60, 60});
       },
       {{215, 260, 0xC80000}}},
      {"mapped-font",
       [font](Canvas& c) {
         c.Font(font);
         c.MappedFont(0x1);  // Latin 1
         c.TextColour(RGB(0, 0, 200));
         const std::wstring text = L"Mapped";
         c.Text(true, 200, 200, 0,
                std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2), 6,
                {});
       },
       {{215, 260, 0x0000C8}}},
      {"transform",
       [](Canvas& c) {
         c.Transform({0.5f, 0, 0, 0.5f, 100, 100});
         c.Rect({200, 200, 800, 600}, RGB(255, 0, 255));
       },
       {{300, 300, 0xFF00FF}, {500, 380, 0xFFFFFF}}},
      {"line-to-absolute",
       [](Canvas& c) {
         c.Begin();
         c.Move(500, 500);
         c.Line(700, 500);  // the point itself, not 500 + 700
         c.End();
         c.Stroke(30, RGB(0, 0, 0));
       },
       {{600, 500, 0x000000}, {1250, 1000, 0xFFFFFF}}},
  };
}

// One job: the document, one page and what `draw` puts on it.
std::string PrintWithBroker(IGlintBroker6* broker, const std::function<void(Canvas&)>& draw) {
  const ULONG dc = BrokerDc(broker);
  EXPECT_NE(dc, 0u);
  ULONG m[8] = {}, rc = 0;
  ForgetJob();
  EXPECT_EQ(StartDoc(broker, dc, m), S_OK);
  EXPECT_EQ(broker->BrokerStartPage(dc), S_OK);
  BrokerCanvas canvas(broker, dc);
  draw(canvas);
  EXPECT_EQ(broker->BrokerEndPage(dc), S_OK);
  EXPECT_EQ(broker->BrokerEndDoc(dc), S_OK);
  EXPECT_EQ(broker->BrokerDeleteDC(dc, &rc), S_OK);  // then the fonts it held
  canvas.Finish();
  return TakeJob();
}

std::string PrintDirectly(const std::function<void(Canvas&)>& draw) {
  HDC dc = OwnDc();
  EXPECT_NE(dc, nullptr);
  ForgetJob();
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Glint";
  EXPECT_GT(StartDocW(dc, &document), 0);
  EXPECT_GT(StartPage(dc), 0);
  DirectCanvas canvas(dc);
  draw(canvas);
  EndPage(dc);
  EndDoc(dc);
  DeleteDC(dc);
  canvas.Finish();
  return TakeJob();
}

// Keeps a file beside the printer's output.
void Keep(const std::string& name, const std::string& content) {
  const std::wstring path =
      std::wstring(GLINT_PRINTER_OUT) + L"\\" + std::wstring(name.begin(), name.end());
  if (FILE* file = _wfopen(path.c_str(), L"wb")) {
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
  }
}

class PrintPage : public BrokerSuite {};

TEST_F(PrintPage, BrokerPagesEqualDirectPages) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  const std::string empty = PrintDirectly([](Canvas&) {});
  ASSERT_FALSE(empty.empty()) << "the printer wrote no job";
  HDC own = OwnDc();
  ASSERT_NE(own, nullptr);
  std::string probes = "dpi " + std::to_string(GetDeviceCaps(own, LOGPIXELSX)) + " offset " +
                       std::to_string(GetDeviceCaps(own, PHYSICALOFFSETX)) + " " +
                       std::to_string(GetDeviceCaps(own, PHYSICALOFFSETY)) + "\n";
  DeleteDC(own);
  for (const PageCase& c : PageCases()) {
    SCOPED_TRACE(c.name);
    const std::string viaBroker = PrintWithBroker(session.broker, c.draw);
    const std::string direct = PrintDirectly(c.draw);
    Keep("page-" + std::string(c.name) + "-broker.ps", viaBroker);
    Keep("page-" + std::string(c.name) + "-direct.ps", direct);
    EXPECT_FALSE(viaBroker.empty());
    EXPECT_NE(viaBroker, empty);
    EXPECT_EQ(viaBroker, direct);
    for (const Probe& p : c.probes) {
      char line[96];
      snprintf(line, sizeof line, "%s %d %d %06X\n", c.name, p.x, p.y, p.rgb);
      probes += line;
    }
  }
  Keep("probes.txt", probes);
}

}  // namespace
