// The broker's printing methods on the fixture's printer (scripts/printer-
// fixture.sh). Cases that need the broker's GDI in this process use a broker
// object made here; the rest go through the proxy to a live broker.
#include <windows.h>
#include <commdlg.h>
#include <mlang.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "BrokerTestSupport.h"
#include "OwnerProgram.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"

namespace {

constexpr ULONG kDefaultDc = PD_RETURNDEFAULT | PD_RETURNDC;

struct Box {
  int x, y, width, height;
};

template <typename T>
std::string Raw(const T* values, size_t count) {
  return std::string(reinterpret_cast<const char*>(values), count * sizeof(T));
}
template <typename T>
std::string Raw(const T& value) {
  return Raw(&value, 1);
}
UniqueSafeArray Bytes(const std::string& data) {
  return UniqueSafeArray(ByteArray(data));
}
UniqueSafeArray Zeros(size_t count) {
  return Bytes(std::string(count, '\0'));
}

// A bitmap header and `entries` colour entries (1 opaque, 2 transparent).
std::string HeaderBlob(LONG width, LONG height, WORD bits, int entries,
                       const std::string& colours = "") {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  h.biCompression = BI_RGB;
  std::string blob = Raw(h) + colours;
  blob.resize(sizeof(h) + 4 * entries, '\x7F');
  return blob;
}
std::string FontBlob(const wchar_t* face, LONG height, LONG weight = FW_NORMAL) {
  LOGFONTW font{};
  font.lfHeight = height;
  font.lfWeight = weight;
  wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return Raw(font);
}
const std::string kIdentity = Raw(XFORM{1, 0, 0, 1, 0, 0});
// A handle from its number, sign-extended.
HGDIOBJ Handle(ULONG number) {
  return reinterpret_cast<HGDIOBJ>(static_cast<INT_PTR>(static_cast<LONG>(number)));
}

// The DC number of the default printer through the broker's dialog; 0 on failure.
ULONG BrokerDc(IGlintBroker6* broker) {
  ULONG from = 1, to = 1, flags = kDefaultDc, dc = 0;
  return broker->BrokerPrintDialog(0, &from, &to, &flags, &dc) == S_OK ? dc : 0;
}
HRESULT StartDoc(IGlintBroker6* broker, ULONG dc, ULONG (&m)[8]) {
  return broker->BrokerStartDoc(dc, &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]);
}
// The test's own DC of the same printer (delete it with DeleteDC).
HDC OwnDc() {
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.Flags = kDefaultDc;
  dialog.nCopies = 1;
  if (!PrintDlgW(&dialog)) return nullptr;
  GlobalFree(dialog.hDevMode);
  GlobalFree(dialog.hDevNames);
  return dialog.hDC;
}
// A file of the fixture printer's output folder, and its job file, which
// is written at EndDoc: removed before a job, read after it.
std::wstring OutFile(const std::wstring& name) {
  return std::wstring(GLINT_PRINTER_OUT) + L"\\" + name;
}
void ForgetJob() {
  DeleteFileW(OutFile(L"printed.ps").c_str());
}
std::string TakeJob() {
  return WaitForContent(OutFile(L"printed.ps"));
}
HRESULT BitmapFill(IGlintBroker6* b, ULONG dc, SAFEARRAY* header, size_t pixels, bool transparent) {
  UniqueSafeArray target = Bytes(Raw(Box{0, 0, 10, 10})), source = Bytes(Raw(Box{0, 0, 1, 1}));
  UniqueSafeArray data = Zeros(pixels);
  return transparent
             ? b->BrokerPathToTransparentBitmapFill(dc, target.Get(), source.Get(), data.Get(),
                                                    header, 0, SRCCOPY)
             : b->BrokerPathToBitmapFill(dc, target.Get(), source.Get(), data.Get(), header, 0);
}
// A blob a method returned: one dimension from 0, `bytes` long.
std::string ReturnedBlob(VARIANT& value, LONG bytes) {
  EXPECT_EQ(V_VT(&value), VT_ARRAY | VT_UI1);
  if (V_VT(&value) != (VT_ARRAY | VT_UI1)) return "";
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(V_ARRAY(&value), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&value), 1, &upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, bytes - 1);
  return TakeBytes(V_ARRAY(&value), static_cast<ULONG>(bytes));
}

class Print : public BrokerSuite {
 protected:
  void SetUp() override {
    broker_ = new CoGlintBrokerServer(nullptr);
    dc_ = BrokerDc(broker_);
    ASSERT_NE(dc_, 0u) << "no printer: run the printer fixture";
  }
  void TearDown() override {
    if (broker_ != nullptr) broker_->Release();
  }
  IGlintBroker6* broker_ = nullptr;
  ULONG dc_ = 0;
};

// Cases through the proxy, with a live broker's DC of the default printer.
class PrintLive : public BrokerSuite {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(session_.created);
    dc_ = BrokerDc(session_.broker);
    ASSERT_NE(dc_, 0u);
  }
  Session session_;
  ULONG dc_ = 0;
};

const IID kIidFontLink = {
    0x359F3441, 0xBD4A, 0x11D0, {0xB1, 0x88, 0x00, 0xAA, 0x00, 0x38, 0xC9, 0x69}};

// What a page case draws, said once: through the broker on its DC number,
// or with the GDI calls the broker makes on the test's own DC.
class Canvas {
 public:
  Canvas(IGlintBroker6* broker, ULONG dc) : b_(broker), n_(dc) {}
  explicit Canvas(HDC dc) : dc_(dc) {}
  // Once the DC is gone: the font link's fonts go back, then the fonts.
  ~Canvas() {
    for (ULONG font : mapped_) {
      if (b_) {
        Expect(b_->BrokerIMLangFontLinkReleaseFont(font));
      } else {
        link_->ReleaseFont(static_cast<HFONT>(Handle(font)));
      }
    }
    for (ULONG font : fonts_) {
      if (b_) {
        b_->BrokerDeleteObject(font, &rc_);
      } else {
        DeleteObject(Handle(font));
      }
    }
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  void Rect(RECT r, COLORREF colour) {
    if (b_) {
      UniqueSafeArray a = Bytes(Raw(r));
      return Expect(b_->BrokerAddRectangle(n_, a.Get(), colour));
    }
    HBRUSH brush = CreateSolidBrush(colour);
    WithSelected(brush, [&] { FillRect(dc_, &r, brush); });
  }
  // A path of lines from the first point, then a curve through `curve`.
  void Path(const std::vector<POINT>& line, const std::vector<POINT>& curve = {}) {
    if (!b_) {
      BeginPath(dc_);
      MoveToEx(dc_, line[0].x, line[0].y, nullptr);
      for (size_t i = 1; i < line.size(); ++i) LineTo(dc_, line[i].x, line[i].y);
      if (!curve.empty()) PolyBezierTo(dc_, curve.data(), static_cast<DWORD>(curve.size()));
      EndPath(dc_);
      return;
    }
    Expect(b_->BrokerBeginPath(n_));
    Expect(b_->BrokerMoveTo(n_, line[0].x, line[0].y));
    for (size_t i = 1; i < line.size(); ++i) Expect(b_->BrokerLineTo(n_, line[i].x, line[i].y));
    if (!curve.empty()) {
      UniqueSafeArray a = Bytes(Raw(curve.data(), curve.size()));
      Expect(b_->BrokerPolyBezierTo(n_, a.Get(), static_cast<ULONG>(curve.size())));
    }
    Expect(b_->BrokerEndPath(n_));
  }
  void Fill(COLORREF colour) {
    if (b_) return Expect(b_->BrokerPathToSolidFill(n_, colour));
    WithSelected(CreateSolidBrush(colour), [this] { FillPath(dc_); });
  }
  void Stroke(int width, COLORREF colour) {
    if (b_) return Expect(b_->BrokerPathToStrokedLine(n_, width, colour));
    LOGBRUSH brush = {BS_SOLID, colour, 0};
    WithSelected(ExtCreatePen(PS_GEOMETRIC, width, &brush, 0, nullptr),
                 [this] { StrokePath(dc_); });
  }
  // Clipped to `r`, or not clipped at all without it.
  void Clip(std::optional<RECT> r) {
    if (b_ && r) {
      Expect(b_->BrokerIntersectClipRect(n_, r->left, r->top, r->right, r->bottom, &rc_));
    } else if (b_) {
      Expect(b_->BrokerSelectClipRgnNULL(n_, &rc_));
    } else if (r) {
      IntersectClipRect(dc_, r->left, r->top, r->right, r->bottom);
    } else {
      SelectClipRgn(dc_, nullptr);
    }
  }
  // Opaque (clipped to the path with `clip`), or with a transparent
  // colour's brush and raster operation, always clipped.
  void Bitmap(Box t, Box s, const std::string& header, const std::string& pixels, bool clip,
              std::optional<std::pair<COLORREF, DWORD>> transparent = std::nullopt) {
    if (b_) {
      UniqueSafeArray ta = Bytes(Raw(t)), sa = Bytes(Raw(s)), h = Bytes(header), p = Bytes(pixels);
      return Expect(
          transparent
              ? b_->BrokerPathToTransparentBitmapFill(n_, ta.Get(), sa.Get(), p.Get(), h.Get(),
                                                      transparent->first, transparent->second)
              : b_->BrokerPathToBitmapFill(n_, ta.Get(), sa.Get(), p.Get(), h.Get(), clip));
    }
    const int saved = clip || transparent ? SaveDC(dc_) : 0;
    WithSelected(transparent ? CreateSolidBrush(transparent->first) : nullptr, [&] {
      if (saved != 0) SelectClipPath(dc_, RGN_AND);
      StretchDIBits(dc_, t.x, t.y, t.width, t.height, s.x, s.y, s.width, s.height, pixels.data(),
                    reinterpret_cast<const BITMAPINFO*>(header.data()), DIB_RGB_COLORS,
                    transparent ? transparent->second : SRCCOPY);
    });
    if (saved != 0) RestoreDC(dc_, saved);
  }
  // ASCII text, narrow or wide, sent with its terminator.
  void Text(int x, int y, const std::wstring& text, bool wide, const std::vector<INT>& dx = {}) {
    const std::string narrow(text.begin(), text.end());
    const UINT count = static_cast<UINT>(text.size());
    if (b_) {
      UniqueSafeArray r = Zeros(16), d = Bytes(Raw(dx.data(), dx.size()));
      UniqueSafeArray s = Bytes(wide ? Raw(text.c_str(), count + 1) : narrow + '\0');
      auto method = wide ? &IGlintBroker6::BrokerExtTextOutW : &IGlintBroker6::BrokerExtTextOutA;
      Expect((b_->*method)(n_, x, y, 0, 1, r.Get(), s.Get(), count, dx.empty(), d.Get(), &rc_));
      EXPECT_EQ(rc_, 1u);
      return;
    }
    const INT* advances = dx.empty() ? nullptr : dx.data();
    if (wide) {
      ExtTextOutW(dc_, x, y, 0, nullptr, text.c_str(), count, advances);
    } else {
      ExtTextOutA(dc_, x, y, 0, nullptr, narrow.c_str(), count, advances);
    }
  }
  // A new font selected, and the text's colour.
  void Font(const std::string& description, COLORREF colour) {
    if (b_) {
      UniqueSafeArray a = Bytes(description);
      ULONG created = 0, previous = 0;
      Expect(b_->BrokerCreateFontIndirect(a.Get(), &created));
      Expect(b_->BrokerSelectObject(n_, created, &previous));
      fonts_.push_back(created);
      return Expect(b_->BrokerSetTextColor(n_, colour, &rc_));
    }
    HFONT created = CreateFontIndirectW(reinterpret_cast<const LOGFONTW*>(description.data()));
    SelectObject(dc_, created);
    fonts_.push_back(Number(created));
    SetTextColor(dc_, colour);
  }
  void Transform(const XFORM& transform) {
    if (b_) {
      UniqueSafeArray a = Bytes(Raw(transform));
      Expect(b_->BrokerSetGraphicsMode(n_, GM_ADVANCED, &rc_));
      return Expect(b_->BrokerSetWorldTransform(n_, a.Get(), &rc_));
    }
    SetGraphicsMode(dc_, GM_ADVANCED);
    SetWorldTransform(dc_, &transform);
  }
  // The font link's font for `codePages` in place of the selected font.
  void MappedFont(DWORD codePages) {
    if (b_) {
      ULONG current = 0, mapped = 0, previous = 0;
      Expect(b_->BrokerGetCurrentObject(n_, OBJ_FONT, &current));
      Expect(b_->BrokerIMLangFontLinkMapFont(n_, codePages, current, &mapped));
      Expect(b_->BrokerSelectObject(n_, mapped, &previous));
      mapped_.push_back(mapped);
      return;
    }
    if (!link_) {
      ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_INPROC_SERVER,
                                                kIidFontLink, link_.Receive()));
    }
    HFONT mapped = nullptr;
    ASSERT_HRESULT_SUCCEEDED(link_->MapFont(
        dc_, codePages, static_cast<HFONT>(GetCurrentObject(dc_, OBJ_FONT)), &mapped));
    SelectObject(dc_, mapped);
    mapped_.push_back(Number(mapped));
  }

 private:
  static void Expect(HRESULT hr) { EXPECT_EQ(hr, S_OK); }
  // `object` selected for `draw`, then put back and deleted, as the broker
  // does it; nothing is selected without one.
  void WithSelected(HGDIOBJ object, const std::function<void()>& draw) {
    HGDIOBJ old = object ? SelectObject(dc_, object) : nullptr;
    draw();
    if (object) {
      SelectObject(dc_, old);
      DeleteObject(object);
    }
  }
  static ULONG Number(HGDIOBJ handle) {
    return static_cast<ULONG>(reinterpret_cast<UINT_PTR>(handle));
  }
  IGlintBroker6* b_ = nullptr;
  ULONG n_ = 0, rc_ = 0;
  HDC dc_ = nullptr;
  ComRef<IMLangFontLink> link_;
  std::vector<ULONG> fonts_, mapped_;
};

// A 2 x 2 top-down image: red, green / blue, white (blue, green, red, unused per pixel).
const std::string kQuad("\x00\x00\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\x00", 16);
const std::vector<POINT> kTriangle = {{300, 300}, {900, 300}, {600, 900}, {300, 300}};

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
  const std::string font = FontBlob(L"Arial", -80, FW_BOLD);
  const std::string quadHeader = HeaderBlob(2, -2, 32, 1);
  return {
      {"rectangle",
       [](Canvas& c) {
         c.Rect({200, 200, 800, 600}, RGB(255, 0, 0));
       },
       {{500, 400, 0xFF0000}, {900, 700, 0xFFFFFF}}},
      {"solid-path",
       [](Canvas& c) {
         c.Path(kTriangle);
         c.Fill(RGB(0, 160, 0));
       },
       {{600, 400, 0x00A000}, {320, 850, 0xFFFFFF}}},
      {"stroked-bezier",
       [](Canvas& c) {
         c.Path({{200, 600}}, {{400, 200}, {800, 1000}, {1000, 600}});
         c.Stroke(20, RGB(0, 0, 255));
       },
       {{200, 600, 0x0000FF}, {1000, 600, 0x0000FF}}},
      {"clip",
       [](Canvas& c) {
         c.Clip(RECT{300, 300, 500, 500});
         c.Rect({200, 200, 800, 800}, RGB(255, 0, 0));
         c.Clip(std::nullopt);
         c.Rect({900, 900, 1000, 1000}, RGB(0, 0, 255));
       },
       {{400, 400, 0xFF0000}, {700, 700, 0xFFFFFF}, {950, 950, 0x0000FF}}},
      {"bitmap-clipped",
       [quadHeader](Canvas& c) {
         c.Path(kTriangle);
         c.Bitmap({300, 300, 600, 600}, {0, 0, 2, 2}, quadHeader, kQuad, true);
         c.Rect({1000, 1000, 1100, 1100}, RGB(0, 0, 0));
       },
       {{450, 350, 0xFF0000}, {320, 850, 0xFFFFFF}, {1050, 1050, 0x000000}}},
      {"bitmap-unclipped",
       [quadHeader](Canvas& c) {
         c.Path(kTriangle);
         c.Bitmap({300, 300, 600, 600}, {0, 0, 2, 2}, quadHeader, kQuad, false);
         c.Rect({1000, 1000, 1100, 1100}, RGB(0, 0, 0));
       },
       {{320, 850, 0x0000FF}, {1050, 1050, 0x000000}}},
      {"transparent-rop",
       [](Canvas& c) {
         c.Rect({200, 200, 1000, 1000}, RGB(255, 255, 0));
         c.Path(kTriangle);
         // A 1 bpp mask: black where the bitmap is 0, white where 1.
         c.Bitmap({300, 300, 600, 600}, {0, 0, 8, 2},
                  HeaderBlob(8, -2, 1, 2, std::string("\0\0\0\0\xFF\xFF\xFF\0", 8)),
                  std::string("\xF0\0\0\0\xF0\0\0\0", 8), true,
                  std::pair{RGB(0, 0, 255), MERGECOPY});
       },
       // Wine's PostScript driver draws the mask's source colours (white,
       // black) inside the path; outside it the page stays yellow.
       {{400, 350, 0xFFFFFF}, {850, 350, 0x000000}, {320, 850, 0xFFFF00}}},
      {"text",
       [font](Canvas& c) {
         c.Font(font, RGB(200, 0, 0));
         c.Text(200, 200, L"Glint", false);
         c.Text(200, 500, L"Glint", true, {60, 60, 60, 60, 60});
       },
       {{215, 260, 0xC80000}}},
      {"mapped-font",
       [font](Canvas& c) {
         c.Font(font, RGB(0, 0, 200));
         c.MappedFont(0x1);  // Latin 1
         c.Text(200, 200, L"Mapped", true);
       },
       {{215, 260, 0x0000C8}}},
      {"transform",
       [](Canvas& c) {
         c.Transform({0.5f, 0, 0, 0.5f, 100, 100});
         c.Rect({200, 200, 800, 600}, RGB(255, 0, 255));
       },
       {{300, 300, 0xFF00FF}, {500, 380, 0xFFFFFF}}},
  };
}

// Keeps a file beside the printer's output.
void Keep(const std::string& name, const std::string& content) {
  if (FILE* file = _wfopen(OutFile(std::wstring(name.begin(), name.end())).c_str(), L"wb")) {
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
  }
}

// One job: the document, one page and what `draw` puts on it.
std::string PrintWithBroker(IGlintBroker6* broker, const std::function<void(Canvas&)>& draw) {
  const ULONG dc = BrokerDc(broker);
  ULONG m[8] = {}, rc = 0;
  ForgetJob();
  EXPECT_EQ(StartDoc(broker, dc, m), S_OK);
  EXPECT_EQ(broker->BrokerStartPage(dc), S_OK);
  Canvas canvas(broker, dc);
  draw(canvas);
  EXPECT_EQ(broker->BrokerEndPage(dc), S_OK);
  EXPECT_EQ(broker->BrokerEndDoc(dc), S_OK);
  EXPECT_EQ(broker->BrokerDeleteDC(dc, &rc), S_OK);  // then the fonts it held
  return TakeJob();
}

std::string PrintDirectly(const std::function<void(Canvas&)>& draw) {
  HDC dc = OwnDc();
  ForgetJob();
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Glint";
  EXPECT_GT(StartDocW(dc, &document), 0);
  EXPECT_GT(StartPage(dc), 0);
  Canvas canvas(dc);
  draw(canvas);
  EndPage(dc);
  EndDoc(dc);
  DeleteDC(dc);
  return TakeJob();
}

// Each page through a live broker has the PostScript bytes of the same page
// printed here, not those of an empty page; both jobs and the colour probes
// are kept for print.render. It runs first: after a document aborted in this
// process, Wine fails other processes' pages for about 20 seconds.
TEST_F(PrintLive, BrokerPagesEqualDirectPages) {
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
    const std::string viaBroker = PrintWithBroker(session_.broker, c.draw);
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

// One method per blob, called with a given array in that blob's place and
// valid arguments elsewhere.
struct BlobUse {
  const char* name;
  std::string exact;  // a valid blob of the exact length
  std::function<HRESULT(IGlintBroker6*, ULONG dc, SAFEARRAY*)> call;
};
std::vector<BlobUse> BlobUses() {
  static ULONG out;  // out-values no case reads
  return {
      {"rectangle", Raw(RECT{0, 0, 5, 5}),
       [](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) { return b->BrokerAddRectangle(dc, a, 0); }},
      {"opaque header", HeaderBlob(1, 1, 32, 1),
       [](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) { return BitmapFill(b, dc, a, 4, false); }},
      {"transparent header", HeaderBlob(1, 1, 32, 2),
       [](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) { return BitmapFill(b, dc, a, 4, true); }},
      {"font", FontBlob(L"Arial", 20),
       [](IGlintBroker6* b, ULONG, SAFEARRAY* a) { return b->BrokerCreateFontIndirect(a, &out); }},
      {"transform", kIdentity,
       [](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) {
         return b->BrokerSetWorldTransform(dc, a, &out);
       }},
  };
}

// A shape other than one dimension of bytes from 0 is refused even when its
// byte length is right; a signed byte array is bytes. Lengths are exact.
// Through the proxy: the marshaller delivers arrays as they were built.
TEST_F(PrintLive, BlobShapesAndLengthsThroughTheProxy) {
  for (const BlobUse& use : BlobUses()) {
    const ULONG n = static_cast<ULONG>(use.exact.size());
    SAFEARRAYBOUND lowerOne = {n, 1}, square[2] = {{2, 0}, {n / 2, 0}};
    // Lower bound 1, two dimensions, 16-bit elements, none, empty; signed bytes last.
    SAFEARRAY* shapes[] = {
        SafeArrayCreate(VT_UI1, 1, &lowerOne),   SafeArrayCreate(VT_UI1, 2, square),
        SafeArrayCreateVector(VT_UI2, 0, n / 2), nullptr,
        SafeArrayCreateVector(VT_UI1, 0, 0),     SafeArrayCreateVector(VT_I1, 0, n)};
    for (size_t i = 0; i < std::size(shapes); ++i) {
      SCOPED_TRACE(std::string(use.name) + " shape " + std::to_string(i));
      UniqueSafeArray array(shapes[i]);
      if (array.Valid() && array.Get()->rgsabound[0].cElements != 0) {
        void* data = nullptr;
        ASSERT_HRESULT_SUCCEEDED(SafeArrayAccessData(array.Get(), &data));
        std::memcpy(data, use.exact.data(), n);
        SafeArrayUnaccessData(array.Get());
      }
      EXPECT_EQ(use.call(session_.broker, dc_, array.Get()), i == 5 ? S_OK : E_FAIL);
    }
    for (int delta : {-1, 0, 1}) {
      SCOPED_TRACE(std::string(use.name) + " length " + std::to_string(delta));
      std::string blob = use.exact;
      blob.resize(blob.size() + delta, '\0');
      UniqueSafeArray array = Bytes(blob);
      EXPECT_EQ(use.call(session_.broker, dc_, array.Get()), delta == 0 ? S_OK : E_FAIL);
    }
  }
  ULONG rc = 0;
  EXPECT_EQ(session_.broker->BrokerGetBkMode(dc_, &rc), S_OK);  // alive
}

TEST_F(Print, TextLengthsAndCounts) {
  struct Case {
    const char* name;
    bool wide;
    ULONG count, rectNull;
    int rectBytes, stringBytes, dxBytes;  // -1: no array; advances never passed
    HRESULT expected;
  } cases[] = {
      {"W 3 units in 6 bytes", true, 3, 0, 16, 6, 0, E_FAIL},
      {"W 3 units in 8 bytes", true, 3, 0, 16, 8, 0, S_OK},
      {"A 3 in 4", false, 3, 0, 16, 4, 0, S_OK},
      {"8192 proceeds", true, 8192, 0, 16, 16386, 0, S_OK},
      {"8193 before any array", true, 8193, 0, -1, -1, -1, E_INVALIDARG},
      {"8193 narrow", false, 8193, 0, 16, 8194, 0, E_INVALIDARG},
      {"no rectangle passed, none sent", true, 3, 1, -1, 8, 0, E_FAIL},
      {"no advances still needs the array", true, 3, 0, 16, 8, -1, E_FAIL},
  };
  auto array = [](int bytes) { return bytes < 0 ? UniqueSafeArray() : Zeros(bytes); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueSafeArray rect = array(c.rectBytes), text = array(c.stringBytes), dx = array(c.dxBytes);
    ULONG rc = 0xDEAD;
    auto method = c.wide ? &IGlintBroker6::BrokerExtTextOutW : &IGlintBroker6::BrokerExtTextOutA;
    EXPECT_EQ((broker_->*method)(dc_, 10, 10, 0, c.rectNull, rect.Get(), text.Get(), c.count, 1,
                                 dx.Get(), &rc),
              c.expected);
    if (c.expected != S_OK) {
      EXPECT_EQ(rc, 0xDEADu);
    }
    // The extent takes the same string rule.
    if (c.rectBytes == 16 && c.dxBytes >= 0) {
      ULONG cx = 0xDEAD, cy = 0xDEAD;
      auto extent = c.wide ? &IGlintBroker6::BrokerGetTextExtentPoint32W
                           : &IGlintBroker6::BrokerGetTextExtentPoint32A;
      EXPECT_EQ((broker_->*extent)(dc_, text.Get(), c.count, &cx, &cy), c.expected);
      if (c.expected == S_OK) {
        EXPECT_GT(cy, 0u);
      }
    }
  }
}

TEST_F(Print, CurveAndPointCounts) {
  struct Case {
    ULONG count;
    int bytes;
    HRESULT expected;
  } cases[] = {{3, 24, S_OK}, {3, 23, E_FAIL}, {0, 0, S_OK}, {0x20000000, 8, E_FAIL}};
  ASSERT_EQ(broker_->BrokerBeginPath(dc_), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " points in " + std::to_string(c.bytes));
    UniqueSafeArray points = Zeros(c.bytes);
    EXPECT_EQ(broker_->BrokerPolyBezierTo(dc_, points.Get(), c.count), c.expected);
  }
  EXPECT_EQ(broker_->BrokerEndPath(dc_), S_OK);
  // DPtoLP carries one point: counts 0 and 1 reach GDI, more are refused.
  for (ULONG count : {0u, 1u, 2u}) {
    SCOPED_TRACE(count);
    ULONG x = 100, y = 200, rc = 0xDEAD;
    EXPECT_EQ(broker_->BrokerDPtoLP(dc_, &x, &y, count, &rc), count <= 1 ? S_OK : E_INVALIDARG);
    EXPECT_EQ(rc, count > 1 ? 0xDEADu : count == 1 ? 1u : rc);
  }
}

TEST_F(Print, BitmapSizeRule) {
  struct Case {
    const char* name;
    std::string header;
    size_t pixels;
    bool transparent;
    HRESULT expected;
  } cases[] = {
      {"32 bpp 100 x -50, 19999", HeaderBlob(100, -50, 32, 1), 19999, false, E_FAIL},
      {"32 bpp 100 x -50, 20000", HeaderBlob(100, -50, 32, 1), 20000, false, S_OK},
      {"1 bpp transparent: two colours", HeaderBlob(8, 1, 1, 2), 4, true, S_OK},
      {"height INT32_MIN", HeaderBlob(1, INT32_MIN, 32, 1), 4, false, E_FAIL},
      {"width x bpp beyond 32 bits", HeaderBlob(0x7FFFFFFF, 1, 32, 1), 64, false, E_FAIL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueSafeArray header = Bytes(c.header);
    EXPECT_EQ(BitmapFill(broker_, dc_, header.Get(), c.pixels, c.transparent), c.expected);
  }
}

// Numbers this object never got, into every handle parameter, answer
// E_INVALIDARG without reaching GDI, and the broker stays.
TEST_F(PrintLive, UnknownNumbersRefusedReturnedStockObjectsUsable) {
  IGlintBroker6* b = session_.broker;
  ULONG font = 0;
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ASSERT_EQ(b->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
  // Another object's font and DC, and a stock object this one never saw.
  IGlintBroker6* other = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&other));
  const ULONG otherDc = BrokerDc(other);
  ULONG otherFont = 0;
  ASSERT_EQ(other->BrokerCreateFontIndirect(description.Get(), &otherFont), S_OK);
  const ULONG stock = static_cast<ULONG>(reinterpret_cast<UINT_PTR>(GetStockObject(BLACK_BRUSH)));
  const ULONG numbers[] = {0, 1, 0x80000000, 0xFFFFFFFF, otherDc, otherFont, stock};
  UniqueSafeArray rect = Zeros(16), text = Zeros(2), xform = Bytes(kIdentity);
  for (ULONG n : numbers) {
    SCOPED_TRACE(Hex(static_cast<HRESULT>(n)));
    ULONG v = 0, x = 0, y = 0, a[8] = {};
    VARIANT out;
    VariantInit(&out);
    const HRESULT answers[] = {
        b->BrokerDeleteDC(n, &v),
        b->BrokerSaveDC(n, &v),
        b->BrokerRestoreDC(n, 1),
        StartDoc(b, n, a),
        b->BrokerStartPage(n),
        b->BrokerEndPage(n),
        b->BrokerEndDoc(n),
        b->BrokerAddRectangle(n, rect.Get(), 0),
        b->BrokerIntersectClipRect(n, 0, 0, 1, 1, &v),
        b->BrokerBeginPath(n),
        b->BrokerMoveTo(n, 0, 0),
        b->BrokerLineTo(n, 1, 1),
        b->BrokerPathToSolidFill(n, 0),
        b->BrokerPathToStrokedLine(n, 1, 0),
        b->BrokerSetTextColor(n, 0, &v),
        b->BrokerGetDeviceCaps(n, HORZRES, &v),
        b->BrokerDPtoLP(n, &x, &y, 1, &v),
        b->BrokerGetObjectType(n, &v),
        b->BrokerGetCurrentObject(n, OBJ_FONT, &v),
        b->BrokerSelectObject(n, font, &v),
        b->BrokerSelectObject(dc_, n, &v),
        b->BrokerDeleteObject(n, &v),
        b->BrokerExtTextOutA(n, 0, 0, 0, 1, rect.Get(), text.Get(), 1, 1, rect.Get(), &v),
        b->BrokerGetTextMetrics(n, &out),
        b->BrokerSetWorldTransform(n, xform.Get(), &v),
        b->BrokerGetWorldTransform(n, &out),
        b->BrokerIMLangFontLinkGetFontCodePages(n, font, &v),
        b->BrokerIMLangFontLinkGetFontCodePages(dc_, n, &v),
        b->BrokerIMLangFontLinkMapFont(dc_, 1, n, &v),
        b->BrokerIMLangFontLinkReleaseFont(n),
    };
    for (size_t i = 0; i < std::size(answers); ++i) EXPECT_EQ(answers[i], E_INVALIDARG) << i;
  }
  ULONG type = 0;
  EXPECT_EQ(b->BrokerGetObjectType(font, &type), S_OK);
  EXPECT_EQ(type, static_cast<ULONG>(OBJ_FONT));
  EXPECT_EQ(other->BrokerGetObjectType(otherFont, &type), S_OK);  // untouched
  EXPECT_EQ(type, static_cast<ULONG>(OBJ_FONT));
  other->Release();
  // A stock object becomes usable once the object's DC returned it, but is
  // not the player's to delete; the DC is not an object and a pen is not a DC.
  ULONG pen = 0;
  ASSERT_EQ(b->BrokerGetCurrentObject(dc_, OBJ_PEN, &pen), S_OK);
  EXPECT_EQ(b->BrokerGetObjectType(pen, &type), S_OK);
  EXPECT_EQ(type, static_cast<ULONG>(OBJ_PEN));
  EXPECT_EQ(b->BrokerDeleteObject(pen, &type), E_INVALIDARG);
  EXPECT_EQ(b->BrokerSelectObject(dc_, dc_, &type), E_INVALIDARG);
  EXPECT_EQ(b->BrokerDeleteDC(pen, &type), E_INVALIDARG);
}

// Slots are reused with a growing generation in the top byte: create and
// delete until a font number has its top bit set, then use it.
TEST_F(Print, FontNumberWithTheTopBitSet) {
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ULONG font = 0, rc = 0;
  for (int round = 0; round < 2000; ++round) {
    ASSERT_EQ(broker_->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
    if (font >= 0x80000000u) break;
    ASSERT_EQ(broker_->BrokerDeleteObject(font, &rc), S_OK);
  }
  ASSERT_GE(font, 0x80000000u) << "no generation reached the top bit";
  ULONG type = 0, previous = 0, selected = 0;
  ASSERT_EQ(broker_->BrokerSelectObject(dc_, font, &previous), S_OK);
  EXPECT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_FONT, &selected), S_OK);
  EXPECT_EQ(selected, font);
  // Selected, it is not deleted.
  EXPECT_EQ(broker_->BrokerDeleteObject(font, &rc), S_OK);
  EXPECT_EQ(rc, 0u);
  EXPECT_EQ(broker_->BrokerSelectObject(dc_, previous, &selected), S_OK);
  EXPECT_EQ(selected, font);
  EXPECT_EQ(broker_->BrokerDeleteObject(font, &rc), S_OK);
  EXPECT_EQ(rc, 1u);
  EXPECT_EQ(broker_->BrokerGetObjectType(font, &type), E_INVALIDARG);  // gone from the table
}

// After 10 000 calls an object's fonts, font mappings and DC go with it.
TEST_F(Print, ObjectsGoWithTheBrokerObject) {
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  std::set<ULONG> fonts;
  ULONG v = 0;
  for (int call = 0; fonts.size() < 2000 && call < 10000; ++call) {
    ULONG font = 0;
    if (call % 5 == 0) {
      ASSERT_EQ(broker_->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
      fonts.insert(font);
    } else {
      ASSERT_EQ(broker_->BrokerSetTextColor(dc_, static_cast<ULONG>(call), &v), S_OK);
    }
  }
  const HGDIOBJ dc = Handle(dc_);
  EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_DC));
  broker_->Release();
  broker_ = nullptr;
  EXPECT_EQ(GetObjectType(dc), 0u);
  size_t left = 0;
  for (ULONG font : fonts) left += GetObjectType(Handle(font)) ? 1 : 0;
  EXPECT_EQ(left, 0u) << "of " << fonts.size();
}

// The font link goes through the server object's IMLangFontLink: with the
// stand-in (stubs/MLangStandIn.cpp) as the system class's TreatAs it sees
// sign-extended handles, and its fonts and HRESULTs come back as it gave them.
class FontLink : public Print {
 protected:
  void SetUp() override {
    const std::wstring classes = L"Software\\Classes\\CLSID\\";
    const std::wstring standIn = L"{6A1D4E2B-3C5F-4B7A-8E9D-1F2C3B4A5D72}";
    const std::wstring server = classes + standIn + L"\\InprocServer32";
    registry_.SetString(HKEY_LOCAL_MACHINE, server, L"", ProgramFolder() + L"\\mlang-standin.dll");
    registry_.SetString(HKEY_LOCAL_MACHINE, server, L"ThreadingModel", L"Both");
    registry_.SetString(HKEY_LOCAL_MACHINE,
                        classes + L"{275C23E2-3747-11D0-9FEA-00AA003F8646}\\TreatAs", L"", standIn);
    DeleteFileW(log_.c_str());
    standIns_.Text(L"MLangLog", log_);
    Print::SetUp();
  }
  ScratchRegistry registry_;
  StandIns standIns_;
  std::wstring log_ = OutFile(L"mlang-standin.log");  // in the fixture's scratch folder
};

TEST_F(FontLink, HandlesSignExtendedAnswersPassedBackMappingsReleased) {
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ULONG font = 0, mapped = 0, pages = 0;
  ASSERT_EQ(broker_->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
  standIns_.Text(L"MLangFont", L"FFFFFFFF80001234");
  ASSERT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 0x20000, font, &mapped), S_OK);
  EXPECT_EQ(mapped, 0x80001234u);
  // The mapped font's number goes back sign-extended.
  ASSERT_EQ(broker_->BrokerIMLangFontLinkGetFontCodePages(dc_, mapped, &pages), S_OK);
  EXPECT_EQ(pages, 1u);
  standIns_.Result(L"MLangResult", 0x80041234);
  ULONG untouched = 0xDEAD;
  EXPECT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 1, font, &untouched),
            static_cast<HRESULT>(0x80041234));
  EXPECT_EQ(broker_->BrokerIMLangFontLinkGetFontCodePages(dc_, font, &untouched),
            static_cast<HRESULT>(0x80041234));
  EXPECT_EQ(untouched, 0xDEADu);
  standIns_.Result(L"MLangResult", S_OK);
  EXPECT_EQ(broker_->BrokerIMLangFontLinkReleaseFont(mapped), S_OK);
  EXPECT_EQ(broker_->BrokerIMLangFontLinkReleaseFont(mapped), E_INVALIDARG);  // released once
  // Mappings the player did not release go back with the object, once each.
  standIns_.Text(L"MLangFont", L"A0042");
  ASSERT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 1, font, &mapped), S_OK);
  ASSERT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 1, font, &mapped), S_OK);
  char dcText[32];
  snprintf(dcText, sizeof dcText, "%llX", reinterpret_cast<unsigned long long>(Handle(dc_)));
  broker_->Release();
  broker_ = nullptr;
  const std::string log = ReadAll(log_);
  EXPECT_NE(log.find(std::string("codepages ") + dcText + " FFFFFFFF80001234\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("release 0 FFFFFFFF80001234\n"), std::string::npos) << log;
  size_t releases = 0;
  for (size_t at = log.find("release 0 A0042\n"); at != std::string::npos;
       at = log.find("release 0 A0042\n", at + 1))
    ++releases;
  EXPECT_EQ(releases, 2u) << log;
}

// Without the class, or without its font link, the three methods answer E_FAIL.
TEST_F(FontLink, NoInterfaceAnswersFail) {
  for (const wchar_t* refusal : {L"MLangCreate", L"MLangNoLink"}) {
    SCOPED_TRACE(Utf8Of(refusal));
    standIns_.Result(refusal, refusal == std::wstring(L"MLangCreate") ? E_OUTOFMEMORY : 1);
    IGlintBroker6* broker = new CoGlintBrokerServer(nullptr);
    const ULONG dc = BrokerDc(broker);
    ULONG v = 0xDEAD;
    EXPECT_EQ(broker->BrokerIMLangFontLinkMapFont(dc, 1, 1, &v), E_FAIL);
    EXPECT_EQ(broker->BrokerIMLangFontLinkGetFontCodePages(dc, 1, &v), E_FAIL);
    EXPECT_EQ(broker->BrokerIMLangFontLinkReleaseFont(1), E_FAIL);
    EXPECT_EQ(v, 0xDEADu);
    broker->Release();
    standIns_.Remove(refusal);
  }
}

// Refusals and failures change no value: in the broker's process nothing is
// written; through the proxy the [in, out] values come back as sent, and the
// [out] DC number as 0 (the proxy's own answer for a failed call).
TEST_F(Print, DialogDefaultsPagesAndRefusedFlags) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  struct Case {
    const char* name;
    ULONG owner, from, to, flags;
    HRESULT expected;
    ULONG fromAfter, toAfter;
  } cases[] = {
      {"page 70000 keeps its low 16 bits", 0, 70000, 70001, kDefaultDc, S_OK, 4464, 4465},
      {"invalid owner", 0x00123456, 1, 1, PD_RETURNDC, E_FAIL, 1, 1},
      {"print hook", 0, 1, 1, kDefaultDc | PD_ENABLEPRINTHOOK, E_INVALIDARG, 1, 1},
  };
  for (bool live : {false, true}) {
    IGlintBroker6* broker = live ? session.broker : broker_;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (live ? ", through the proxy" : ", in process"));
      ULONG from = c.from, to = c.to, flags = c.flags, dc = 0xDEAD;
      EXPECT_EQ(broker->BrokerPrintDialog(c.owner, &from, &to, &flags, &dc), c.expected);
      EXPECT_EQ(from, c.fromAfter);
      EXPECT_EQ(to, c.toAfter);
      if (c.expected == S_OK) {
        ULONG type = 0;
        EXPECT_EQ(broker->BrokerGetObjectType(dc, &type), S_OK);
        EXPECT_EQ(type, static_cast<ULONG>(OBJ_DC));
      } else {
        EXPECT_EQ(dc, live ? 0u : 0xDEADu);
        EXPECT_EQ(flags, c.flags);
      }
    }
  }
}

// The dialog opens in the broker, owned by the player's window; OK gives a
// DC, Cancel E_FAIL with nothing written.
TEST_F(PrintLive, DialogAnsweredFromAThread) {
  const std::vector<DWORD> servers = ProcessesNamed(kServer);
  ASSERT_EQ(servers.size(), 1u);
  HWND owner = CreateWindowExW(0, L"STATIC", L"player", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                               100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  for (int button : {IDOK, IDCANCEL}) {
    SCOPED_TRACE(button == IDOK ? "OK" : "Cancel");
    HWND ownerSeen = nullptr;
    std::thread clicker([&] {
      for (int tries = 0; tries < 200; ++tries) {
        if (HWND dialog = VisibleDialog(servers[0])) {
          ownerSeen = GetWindow(dialog, GW_OWNER);
          SendMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
          return;
        }
        Sleep(50);
      }
    });
    ULONG from = 1, to = 1, flags = PD_RETURNDC, dc = 0xDEAD;
    const HRESULT hr = session_.broker->BrokerPrintDialog(
        static_cast<ULONG>(reinterpret_cast<UINT_PTR>(owner)), &from, &to, &flags, &dc);
    clicker.join();
    EXPECT_EQ(ownerSeen, owner);
    if (button == IDOK) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_NE(dc, 0u);  // an [out] the broker did not write comes back as 0
    } else {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_EQ(flags, static_cast<ULONG>(PD_RETURNDC));
    }
  }
  DestroyWindow(owner);
}

TEST_F(Print, DialogWithoutPrinterFails) {
  const std::wstring setup = L"\"" + ProgramFolder() + L"\\printer-setup.exe\" ";
  EXPECT_EQ(RunProgram(setup + L"remove", 30000).code, 0u);
  ULONG from = 1, to = 1, flags = kDefaultDc, dc = 0xDEAD;
  EXPECT_EQ(broker_->BrokerPrintDialog(0, &from, &to, &flags, &dc), E_FAIL);
  EXPECT_EQ(dc, 0xDEADu);
  EXPECT_EQ(flags, kDefaultDc);
  EXPECT_EQ(RunProgram(setup + L"install", 30000).code, 0u);
}

// The metrics are the test's own DC's; a transform set before the document
// halves the device size (2, 3), rounded. Failures write no out-value. Wine
// answers a second StartDocW with 0, which is no SP_ERROR and so a success:
// the refusal here is a DC the object does not own.
TEST_F(Print, DocumentMetricsAndRefusals) {
  Canvas(broker_, dc_).Transform({0.5f, 0, 0, 0.5f, 0, 0});
  ULONG m[8], untouched = 0xDEAD;
  std::fill(std::begin(m), std::end(m), 0xDEADu);
  EXPECT_EQ(StartDoc(broker_, 0x00BADBAD, m), E_INVALIDARG);
  for (ULONG value : m) EXPECT_EQ(value, 0xDEADu);
  EXPECT_EQ(broker_->BrokerGetTextColor(0x00BADBAD, &untouched), E_INVALIDARG);
  EXPECT_EQ(untouched, 0xDEADu);
  ASSERT_EQ(StartDoc(broker_, dc_, m), S_OK);
  HDC own = OwnDc();
  const int caps[8] = {HORZRES,       VERTRES,        HORZRES,    VERTRES,
                       PHYSICALWIDTH, PHYSICALHEIGHT, LOGPIXELSX, LOGPIXELSY};
  for (int i = 0; i < 8; ++i) {
    const bool half = i == 2 || i == 3;
    const int got = static_cast<int>(m[i]) * (half ? 2 : 1);
    EXPECT_LE(std::abs(got - GetDeviceCaps(own, caps[i])), half ? 1 : 0) << i;
  }
  DeleteDC(own);
  EXPECT_EQ(StartDoc(broker_, dc_, m), S_OK);
}

TEST_F(Print, StateKeptAcrossFillsAndRoundTrips) {
  ULONG brush = 0, pen = 0, after = 0;
  ASSERT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_BRUSH, &brush), S_OK);
  ASSERT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_PEN, &pen), S_OK);
  Canvas canvas(broker_, dc_);
  const RECT box = {10, 10, 50, 50};
  UniqueSafeArray header = Bytes(HeaderBlob(1, 1, 32, 2));
  const std::function<void()> draws[] = {
      [&] { canvas.Rect(box, 0xFF); },
      [&] { canvas.Fill(0xFF00); },
      [&] { canvas.Stroke(3, 0xFF0000); },
      [&] { EXPECT_EQ(BitmapFill(broker_, dc_, header.Get(), 4, true), S_OK); },
  };
  for (const auto& draw : draws) {
    canvas.Path({{10, 10}, {40, 40}});
    draw();
    EXPECT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_BRUSH, &after), S_OK);
    EXPECT_EQ(after, brush);
    EXPECT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_PEN, &after), S_OK);
    EXPECT_EQ(after, pen);
  }
  // The transform comes back byte for byte.
  const XFORM odd = {1.25f, 0.5f, -0.75f, 3.0e-3f, 17.5f, -2.25f};
  canvas.Transform(odd);
  VARIANT back;
  VariantInit(&back);
  ASSERT_EQ(broker_->BrokerGetWorldTransform(dc_, &back), S_OK);
  EXPECT_EQ(ReturnedBlob(back, 24), Raw(odd));
}

// Text metrics through the broker equal the test's own on the same printer
// and font, through the proxy.
TEST_F(PrintLive, TextMetricsEqualTheTestsOwn) {
  const std::string description = FontBlob(L"Arial", -40);
  Canvas viaBroker(session_.broker, dc_);
  viaBroker.Font(description, 0);
  VARIANT metrics;
  VariantInit(&metrics);
  ASSERT_EQ(session_.broker->BrokerGetTextMetrics(dc_, &metrics), S_OK);
  const std::string got = ReturnedBlob(metrics, 60);
  HDC own = OwnDc();
  Canvas direct(own);  // its font goes after the DC
  direct.Font(description, 0);
  TEXTMETRICW expected{};
  ASSERT_TRUE(GetTextMetricsW(own, &expected));
  EXPECT_EQ(got, Raw(expected));
  DeleteDC(own);
}

}  // namespace
