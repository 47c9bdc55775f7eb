// The broker's printing methods on the fixture's printer (scripts/printer-
// fixture.sh): the shapes and lengths of every byte array, the bitmap size
// rule, handle numbers and the per-object handle table, the font link through
// the multi-language stand-in (stubs/MLangStandIn.cpp), the print dialog, the
// document and the DC's state. Cases that need the broker's GDI in this
// process (outs untouched, objects gone) use a broker object made here; the
// rest go through the proxy to a live broker, as the player's calls do.
#include <windows.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "BrokerTestSupport.h"
#include "PrintTestSupport.h"
#include "WineTestSupport.h"

using namespace print_test;

namespace {

constexpr ULONG kNotMine[] = {0, 1, 0x80000000, 0xFFFFFFFF};

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bits, DWORD colours = 0) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  h.biCompression = BI_RGB;
  h.biClrUsed = colours;
  return h;
}
// The header blob: the header and `entries` colour entries (1 opaque, 2 transparent).
std::string HeaderBlob(const BITMAPINFOHEADER& h, int entries) {
  return Raw(h) + std::string(4 * entries, '\x7F');
}
std::string Placement(int x, int y, int w, int h) {
  const int values[4] = {x, y, w, h};
  return std::string(reinterpret_cast<const char*>(values), sizeof values);
}
std::string FontBlob(const wchar_t* face, LONG height) {
  LOGFONTW font{};
  font.lfHeight = height;
  font.lfWeight = FW_NORMAL;
  wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return Raw(font);
}
const std::string kIdentity = [] {
  XFORM identity = {1, 0, 0, 1, 0, 0};
  return Raw(identity);
}();

class Print : public BrokerSuite {
 protected:
  static void SetUpTestSuite() {
    BrokerSuite::SetUpTestSuite();
    HDC probe = OwnDc();
    if (probe == nullptr) GTEST_FAIL() << "no printer: run the printer fixture";
    DeleteDC(probe);
  }
  void SetUp() override {
    broker_ = LocalBroker();
    dc_ = BrokerDc(broker_);
    ASSERT_NE(dc_, 0u);
    ForgetJob();
  }
  void TearDown() override {
    if (broker_ != nullptr) broker_->Release();
  }
  HRESULT BitmapFill(const std::string& header, size_t pixels, bool transparent = false) {
    UniqueSafeArray target = Bytes(Placement(0, 0, 10, 10)), source = Bytes(Placement(0, 0, 1, 1));
    UniqueSafeArray info = Bytes(header), data = Zeros(pixels);
    return transparent ? broker_->BrokerPathToTransparentBitmapFill(
                             dc_, target.Get(), source.Get(), data.Get(), info.Get(), 0, SRCCOPY)
                       : broker_->BrokerPathToBitmapFill(dc_, target.Get(), source.Get(),
                                                         data.Get(), info.Get(), 0);
  }
  IGlintBroker6* broker_ = nullptr;
  ULONG dc_ = 0;
};

// ------------------------------------------------------------------ shapes

// One method per blob, called with a given array in that blob's place and
// valid arguments elsewhere.
struct BlobUse {
  const char* name;
  std::string exact;  // a valid blob of the exact length
  std::function<HRESULT(IGlintBroker6*, ULONG dc, SAFEARRAY*)> call;
};
std::vector<BlobUse> BlobUses() {
  const std::string pixel(4, '\0');
  return {
      {"rectangle", Raw(RECT{0, 0, 5, 5}),
       [](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) { return b->BrokerAddRectangle(dc, a, 0); }},
      {"opaque header", HeaderBlob(Header(1, 1, 32), 1),
       [pixel](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) {
         UniqueSafeArray t = Bytes(Placement(0, 0, 1, 1)), s = Bytes(Placement(0, 0, 1, 1)),
                         p = Bytes(pixel);
         return b->BrokerPathToBitmapFill(dc, t.Get(), s.Get(), p.Get(), a, 0);
       }},
      {"transparent header", HeaderBlob(Header(1, 1, 32), 2),
       [pixel](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) {
         UniqueSafeArray t = Bytes(Placement(0, 0, 1, 1)), s = Bytes(Placement(0, 0, 1, 1)),
                         p = Bytes(pixel);
         return b->BrokerPathToTransparentBitmapFill(dc, t.Get(), s.Get(), p.Get(), a, 0, SRCCOPY);
       }},
      {"font", FontBlob(L"Arial", 20),
       [](IGlintBroker6* b, ULONG, SAFEARRAY* a) {
         ULONG font = 0;
         return b->BrokerCreateFontIndirect(a, &font);
       }},
      {"transform", kIdentity,
       [](IGlintBroker6* b, ULONG dc, SAFEARRAY* a) {
         ULONG rc = 0;
         return b->BrokerSetWorldTransform(dc, a, &rc);
       }},
  };
}

// A shape other than one dimension of bytes from 0 is refused even when its
// byte length is right; a signed byte array is bytes. Lengths are exact.
// Through the proxy: the marshaller delivers arrays as they were built.
TEST_F(Print, BlobShapesAndLengthsThroughTheProxy) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  const ULONG dc = BrokerDc(session.broker);
  ASSERT_NE(dc, 0u);
  for (const BlobUse& use : BlobUses()) {
    for (Shape shape : {Shape::LowerBound1, Shape::TwoDimensions, Shape::Ui2, Shape::Bstr,
                        Shape::Null, Shape::Empty, Shape::I1}) {
      SCOPED_TRACE(std::string(use.name) + " shape " + std::to_string(static_cast<int>(shape)));
      UniqueSafeArray array = Shaped(shape, use.exact.size());
      if (array.Valid() && shape != Shape::Bstr && shape != Shape::Empty) {
        void* data = nullptr;
        ASSERT_HRESULT_SUCCEEDED(SafeArrayAccessData(array.Get(), &data));
        std::memcpy(data, use.exact.data(), use.exact.size());
        SafeArrayUnaccessData(array.Get());
      }
      EXPECT_EQ(use.call(session.broker, dc, array.Get()), shape == Shape::I1 ? S_OK : E_FAIL);
    }
    for (int delta : {-1, 0, 1}) {
      SCOPED_TRACE(std::string(use.name) + " length " + std::to_string(delta));
      std::string blob = use.exact;
      if (delta < 0) blob.pop_back();
      if (delta > 0) blob.push_back('\0');
      UniqueSafeArray array = Bytes(blob);
      EXPECT_EQ(use.call(session.broker, dc, array.Get()), delta == 0 ? S_OK : E_FAIL);
    }
  }
  ULONG rc = 0;
  EXPECT_EQ(session.broker->BrokerGetBkMode(dc, &rc), S_OK);  // alive
}

// ----------------------------------------------------------------- lengths

struct TextCase {
  const char* name;
  bool wide;
  ULONG count, options, rectNull, dxNull;
  int rectBytes, stringBytes, dxBytes;  // -1: no array
  HRESULT expected;
};

TEST_F(Print, TextLengthsAndCounts) {
  const TextCase cases[] = {
      {"W 3 units in 6 bytes", true, 3, 0, 0, 1, 16, 6, 0, E_FAIL},
      {"W 3 units in 8 bytes", true, 3, 0, 0, 1, 16, 8, 0, S_OK},
      {"W 3 units in 10 bytes", true, 3, 0, 0, 1, 16, 10, 0, E_FAIL},
      {"A 3 in 3", false, 3, 0, 0, 1, 16, 3, 0, E_FAIL},
      {"A 3 in 4", false, 3, 0, 0, 1, 16, 4, 0, S_OK},
      {"A 3 in 5", false, 3, 0, 0, 1, 16, 5, 0, E_FAIL},
      {"8192 proceeds", true, 8192, 0, 0, 1, 16, 16386, 0, S_OK},
      {"8193 before any array", true, 8193, 0, 0, 1, -1, -1, -1, E_INVALIDARG},
      {"8193 narrow", false, 8193, 0, 0, 1, 16, 8194, 0, E_INVALIDARG},
      {"advances 3 x 4", true, 3, 0, 0, 0, 16, 8, 12, S_OK},
      {"advances short", true, 3, 0, 0, 0, 16, 8, 11, E_FAIL},
      {"pairs need x 8", true, 3, ETO_PDY, 0, 0, 16, 8, 12, E_FAIL},
      {"pairs 3 x 8", true, 3, ETO_PDY, 0, 0, 16, 8, 24, S_OK},
      {"no rectangle passed, none sent", true, 3, 0, 1, 1, -1, 8, 0, E_FAIL},
      {"no rectangle passed, 15 bytes", true, 3, 0, 1, 1, 15, 8, 0, E_FAIL},
      {"rectangle passed", true, 3, ETO_CLIPPED, 0, 1, 16, 8, 0, S_OK},
      {"no advances still needs the array", true, 3, 0, 0, 1, 16, 8, -1, E_FAIL},
  };
  auto array = [](int bytes) { return bytes < 0 ? UniqueSafeArray() : Zeros(bytes); };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueSafeArray rect = array(c.rectBytes), text = array(c.stringBytes), dx = array(c.dxBytes);
    ULONG rc = 0xDEAD;
    auto method = c.wide ? &IGlintBroker6::BrokerExtTextOutW : &IGlintBroker6::BrokerExtTextOutA;
    EXPECT_EQ((broker_->*method)(dc_, 10, 10, c.options, c.rectNull, rect.Get(), text.Get(),
                                 c.count, c.dxNull, dx.Get(), &rc),
              c.expected);
    if (c.expected != S_OK) {
      EXPECT_EQ(rc, 0xDEADu);
    }
    // The extent takes the same string rule.
    if (c.rectBytes == 16 && c.dxNull == 1 && c.dxBytes >= 0 && c.options == 0) {
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
  } cases[] = {{3, 24, S_OK}, {3, 23, E_FAIL}, {3, 25, E_FAIL},         {3, 0, E_FAIL},
               {0, 5, S_OK},  {0, 0, S_OK},    {0x20000000, 0, E_FAIL}, {0x20000000, 8, E_FAIL}};
  ASSERT_EQ(broker_->BrokerBeginPath(dc_), S_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " points in " + std::to_string(c.bytes));
    UniqueSafeArray points = Zeros(c.bytes);
    EXPECT_EQ(broker_->BrokerPolyBezierTo(dc_, points.Get(), c.count), c.expected);
  }
  EXPECT_EQ(broker_->BrokerEndPath(dc_), S_OK);
  // DPtoLP carries one point: counts 0 and 1 reach GDI, more are refused.
  for (ULONG count : {0u, 1u, 2u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(count);
    ULONG x = 100, y = 200, rc = 0xDEAD;
    const HRESULT hr = broker_->BrokerDPtoLP(dc_, &x, &y, count, &rc);
    EXPECT_EQ(hr, count <= 1 ? S_OK : E_INVALIDARG);
    EXPECT_EQ(rc, count > 1 ? 0xDEADu : count == 1 ? 1u : rc);
  }
}

// ----------------------------------------------------------------- bitmaps

TEST_F(Print, BitmapSizeRule) {
  BITMAPINFOHEADER big = Header(124, 1, 32);
  big.biSize = 124;
  struct Case {
    const char* name;
    std::string header;
    size_t pixels;
    bool transparent;
    HRESULT expected;
  } cases[] = {
      {"32 bpp 100 x -50, 19999", HeaderBlob(Header(100, -50, 32), 1), 19999, false, E_FAIL},
      {"32 bpp 100 x -50, 20000", HeaderBlob(Header(100, -50, 32), 1), 20000, false, S_OK},
      {"24 bpp width 3, rows of 12, 23", HeaderBlob(Header(3, 2, 24), 1), 23, false, E_FAIL},
      {"24 bpp width 3, rows of 12, 24", HeaderBlob(Header(3, 2, 24), 1), 24, false, S_OK},
      {"biSize 124", HeaderBlob(big, 1), 4 * 124, false, E_FAIL},
      {"8 bpp needing 256 colours", HeaderBlob(Header(4, 1, 8), 1), 4, false, E_FAIL},
      {"8 bpp with one colour used", HeaderBlob(Header(4, 1, 8, 1), 1), 4, false, S_OK},
      {"1 bpp opaque: two colours, one sent", HeaderBlob(Header(8, 1, 1), 1), 4, false, E_FAIL},
      {"1 bpp transparent: two colours", HeaderBlob(Header(8, 1, 1), 2), 4, true, S_OK},
      {"height INT32_MIN", HeaderBlob(Header(1, INT32_MIN, 32), 1), 4, false, E_FAIL},
      {"width x bpp beyond 32 bits", HeaderBlob(Header(0x7FFFFFFF, 1, 32), 1), 64, false, E_FAIL},
      {"height 0", HeaderBlob(Header(1, 0, 32), 1), 4, false, E_FAIL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BitmapFill(c.header, c.pixels, c.transparent), c.expected);
  }
}

// ----------------------------------------------------------------- handles

// Numbers this object never got, into every handle parameter, answer
// E_INVALIDARG without reaching GDI, and the broker stays.
TEST_F(Print, UnknownNumbersIntoEveryHandleParameter) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  IGlintBroker6* b = session.broker;
  const ULONG dc = BrokerDc(b);
  ULONG font = 0;
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ASSERT_EQ(b->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
  // Another object's font and DC, and a stock object this one never saw.
  IGlintBroker6* other = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&other));
  const ULONG otherDc = BrokerDc(other);
  ULONG otherFont = 0;
  ASSERT_EQ(other->BrokerCreateFontIndirect(description.Get(), &otherFont), S_OK);
  std::vector<ULONG> numbers(std::begin(kNotMine), std::end(kNotMine));
  numbers.push_back(otherDc);
  numbers.push_back(otherFont);
  numbers.push_back(static_cast<ULONG>(reinterpret_cast<UINT_PTR>(GetStockObject(BLACK_BRUSH))));
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
        b->BrokerStartDoc(n, &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], &a[6], &a[7]),
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
        b->BrokerSelectObject(dc, n, &v),
        b->BrokerDeleteObject(n, &v),
        b->BrokerExtTextOutA(n, 0, 0, 0, 1, rect.Get(), text.Get(), 1, 1, rect.Get(), &v),
        b->BrokerGetTextMetrics(n, &out),
        b->BrokerSetWorldTransform(n, xform.Get(), &v),
        b->BrokerGetWorldTransform(n, &out),
        b->BrokerIMLangFontLinkGetFontCodePages(n, font, &v),
        b->BrokerIMLangFontLinkGetFontCodePages(dc, n, &v),
        b->BrokerIMLangFontLinkMapFont(dc, 1, n, &v),
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
}

// A stock object becomes usable once the object's DC returned it, but is
// not the player's to delete; the DC is not an object and a font is not a DC.
TEST_F(Print, ReturnedStockObjectsBecomeUsable) {
  const ULONG black = static_cast<ULONG>(reinterpret_cast<UINT_PTR>(GetStockObject(BLACK_PEN)));
  ULONG v = 0, current = 0;
  EXPECT_EQ(broker_->BrokerGetObjectType(black, &v), E_INVALIDARG);
  ASSERT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_PEN, &current), S_OK);
  EXPECT_EQ(broker_->BrokerGetObjectType(current, &v), S_OK);
  EXPECT_EQ(v, static_cast<ULONG>(OBJ_PEN));
  EXPECT_EQ(broker_->BrokerDeleteObject(current, &v), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerSelectObject(dc_, dc_, &v), E_INVALIDARG);
  EXPECT_EQ(broker_->BrokerDeleteDC(current, &v), E_INVALIDARG);
}

// Slots are reused with a growing generation in the top byte: create and
// delete until a font number has its top bit set, then use it.
TEST_F(Print, FontNumberWithTheTopBitSet) {
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ULONG font = 0, rc = 0;
  for (int round = 0; round < 2000; ++round) {
    ASSERT_EQ(broker_->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
    ASSERT_NE(font, 0u);
    if (font >= 0x80000000u) break;
    ASSERT_EQ(broker_->BrokerDeleteObject(font, &rc), S_OK);
  }
  ASSERT_GE(font, 0x80000000u) << "no generation reached the top bit";
  ULONG type = 0, previous = 0, selected = 0;
  EXPECT_EQ(broker_->BrokerGetObjectType(font, &type), S_OK);
  EXPECT_EQ(type, static_cast<ULONG>(OBJ_FONT));
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
  const HDC dc = reinterpret_cast<HDC>(static_cast<INT_PTR>(static_cast<LONG>(dc_)));
  EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_DC));
  broker_->Release();
  broker_ = nullptr;
  EXPECT_EQ(GetObjectType(dc), 0u);
  size_t left = 0;
  for (ULONG font : fonts)
    left += GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<INT_PTR>(static_cast<LONG>(font))))
                ? 1
                : 0;
  EXPECT_EQ(left, 0u) << "of " << fonts.size();
}

// The font link goes through the server object's IMLangFontLink: with the
// stand-in as the system class's TreatAs it sees sign-extended handles,
// and its fonts and HRESULTs come back as it gave them.
class FontLink : public Print {
 protected:
  static constexpr wchar_t kClass[] = L"Software\\Classes\\CLSID\\";
  static constexpr wchar_t kSystem[] = L"{275C23E2-3747-11D0-9FEA-00AA003F8646}";
  static constexpr wchar_t kStandIn[] = L"{6A1D4E2B-3C5F-4B7A-8E9D-1F2C3B4A5D72}";
  void SetUp() override {
    registry_.SetString(HKEY_LOCAL_MACHINE, std::wstring(kClass) + kStandIn + L"\\InprocServer32",
                        L"", ProgramFolder() + L"\\mlang-standin.dll");
    registry_.SetString(HKEY_LOCAL_MACHINE, std::wstring(kClass) + kStandIn + L"\\InprocServer32",
                        L"ThreadingModel", L"Both");
    registry_.SetString(HKEY_LOCAL_MACHINE, std::wstring(kClass) + kSystem + L"\\TreatAs", L"",
                        kStandIn);
    registry_.SetString(HKEY_LOCAL_MACHINE, kSettings, L"MLangLog", log_);
    Print::SetUp();
  }
  void TearDown() override {
    Print::TearDown();
    DeleteFileW(log_.c_str());
  }
  void Set(const wchar_t* name, DWORD value) {
    registry_.SetDword(HKEY_LOCAL_MACHINE, kSettings, name, value);
  }
  void SetFont(unsigned long long font) {
    registry_.Set(HKEY_LOCAL_MACHINE, kSettings, L"MLangFont", REG_QWORD, &font, sizeof font);
  }
  static constexpr wchar_t kSettings[] = L"Software\\GlintTestStandIns";
  ScratchRegistry registry_;
  std::wstring log_ = ProgramFolder() + L"\\mlang-standin.log";
};

TEST_F(FontLink, HandlesSignExtendedAndAnswersPassedBack) {
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ULONG font = 0, mapped = 0, pages = 0;
  ASSERT_EQ(broker_->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
  SetFont(0xFFFFFFFF80001234ull);
  ASSERT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 0x20000, font, &mapped), S_OK);
  EXPECT_EQ(mapped, 0x80001234u);
  // The mapped font's number goes back sign-extended.
  ASSERT_EQ(broker_->BrokerIMLangFontLinkGetFontCodePages(dc_, mapped, &pages), S_OK);
  EXPECT_EQ(pages, 1u);
  Set(L"MLangResult", 0x80041234);
  ULONG untouched = 0xDEAD;
  EXPECT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 1, font, &untouched),
            static_cast<HRESULT>(0x80041234));
  EXPECT_EQ(broker_->BrokerIMLangFontLinkGetFontCodePages(dc_, font, &untouched),
            static_cast<HRESULT>(0x80041234));
  EXPECT_EQ(untouched, 0xDEADu);
  Set(L"MLangResult", S_OK);
  EXPECT_EQ(broker_->BrokerIMLangFontLinkReleaseFont(mapped), S_OK);
  EXPECT_EQ(broker_->BrokerIMLangFontLinkReleaseFont(mapped), E_INVALIDARG);  // released once
  const std::string log = ReadAll(log_);
  char dcText[32];
  snprintf(dcText, sizeof dcText, "%llX",
           static_cast<unsigned long long>(static_cast<long long>(static_cast<LONG>(dc_))));
  EXPECT_NE(log.find(std::string("codepages ") + dcText + " FFFFFFFF80001234\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("release 0 FFFFFFFF80001234\n"), std::string::npos) << log;
}

// A mapping the player did not release goes back with the object.
TEST_F(FontLink, MappingsReleasedWithTheObject) {
  UniqueSafeArray description = Bytes(FontBlob(L"Arial", 20));
  ULONG font = 0, mapped = 0;
  ASSERT_EQ(broker_->BrokerCreateFontIndirect(description.Get(), &font), S_OK);
  SetFont(0x00000000000A0042ull);
  ASSERT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 1, font, &mapped), S_OK);
  ASSERT_EQ(broker_->BrokerIMLangFontLinkMapFont(dc_, 1, font, &mapped), S_OK);
  broker_->Release();
  broker_ = nullptr;
  const std::string log = ReadAll(log_);
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
    Set(refusal, refusal == std::wstring(L"MLangCreate") ? E_OUTOFMEMORY : 1);
    IGlintBroker6* broker = LocalBroker();
    const ULONG dc = BrokerDc(broker);
    ULONG v = 0xDEAD;
    EXPECT_EQ(broker->BrokerIMLangFontLinkMapFont(dc, 1, 1, &v), E_FAIL);
    EXPECT_EQ(broker->BrokerIMLangFontLinkGetFontCodePages(dc, 1, &v), E_FAIL);
    EXPECT_EQ(broker->BrokerIMLangFontLinkReleaseFont(1), E_FAIL);
    EXPECT_EQ(v, 0xDEADu);
    broker->Release();
    registry_.Remove(HKEY_LOCAL_MACHINE, kSettings, refusal);
  }
}

// ------------------------------------------------------------------ dialog

// The visible print dialog of a process, or null.
HWND PrintDialogOf(DWORD process) {
  struct Search {
    DWORD process;
    HWND found;
  } search = {process, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t kind[16] = {};
        GetClassNameW(window, kind, 16);
        if (owner == s->process && IsWindowVisible(window) && wcscmp(kind, L"#32770") == 0) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
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
      {"default printer", 0, 1, 2, kDefaultDc, S_OK, 1, 2},
      {"page 70000 keeps its low 16 bits", 0, 70000, 70001, kDefaultDc, S_OK, 4464, 4465},
      {"invalid owner", 0x00123456, 1, 1, PD_RETURNDC, E_FAIL, 1, 1},
      {"print hook", 0, 1, 1, kDefaultDc | PD_ENABLEPRINTHOOK, E_INVALIDARG, 1, 1},
      {"setup hook", 0, 1, 1, kDefaultDc | PD_ENABLESETUPHOOK, E_INVALIDARG, 1, 1},
      {"print template", 0, 1, 1, kDefaultDc | PD_ENABLEPRINTTEMPLATE, E_INVALIDARG, 1, 1},
      {"setup template", 0, 1, 1, kDefaultDc | PD_ENABLESETUPTEMPLATE, E_INVALIDARG, 1, 1},
      {"print template handle", 0, 1, 1, PD_ENABLEPRINTTEMPLATEHANDLE, E_INVALIDARG, 1, 1},
      {"setup template handle", 0, 1, 1, PD_ENABLESETUPTEMPLATEHANDLE, E_INVALIDARG, 1, 1},
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
  EXPECT_NE(BrokerDc(session.broker), 0u);  // alive
}

// The dialog opens in the broker, owned by the player's window; OK gives a
// DC, Cancel E_FAIL with nothing written.
TEST_F(Print, DialogAnsweredFromAThread) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
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
        if (HWND dialog = PrintDialogOf(servers[0])) {
          ownerSeen = GetWindow(dialog, GW_OWNER);
          SendMessageW(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
          return;
        }
        Sleep(50);
      }
    });
    ULONG from = 1, to = 1, flags = PD_RETURNDC, dc = 0xDEAD;
    const HRESULT hr = session.broker->BrokerPrintDialog(
        static_cast<ULONG>(reinterpret_cast<UINT_PTR>(owner)), &from, &to, &flags, &dc);
    clicker.join();
    EXPECT_EQ(ownerSeen, owner);
    if (button == IDOK) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_NE(dc, 0xDEADu);
      EXPECT_NE(dc, 0u);
    } else {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_EQ(flags, static_cast<ULONG>(PD_RETURNDC));
    }
  }
  DestroyWindow(owner);
}

TEST_F(Print, DialogWithoutPrinterFails) {
  const std::wstring setup = ProgramFolder() + L"\\printer-setup.exe";
  auto run = [&](const wchar_t* step) {
    STARTUPINFOW start{};
    start.cb = sizeof(start);
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + setup + L"\" " + step;
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &start, &process));
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u);
  };
  run(L"remove");
  IGlintBroker6* broker = LocalBroker();
  ULONG from = 1, to = 1, flags = kDefaultDc, dc = 0xDEAD;
  EXPECT_EQ(broker->BrokerPrintDialog(0, &from, &to, &flags, &dc), E_FAIL);
  EXPECT_EQ(dc, 0xDEADu);
  EXPECT_EQ(flags, kDefaultDc);
  broker->Release();
  run(L"install");
}

// ---------------------------------------------------------------- document

TEST_F(Print, DocumentMetricsMatchTheTestsOwn) {
  HDC own = OwnDc();
  ASSERT_NE(own, nullptr);
  ULONG m[8] = {};
  ASSERT_EQ(StartDoc(broker_, dc_, m), S_OK);
  const int expected[8] = {GetDeviceCaps(own, HORZRES),       GetDeviceCaps(own, VERTRES),
                           GetDeviceCaps(own, HORZRES),       GetDeviceCaps(own, VERTRES),
                           GetDeviceCaps(own, PHYSICALWIDTH), GetDeviceCaps(own, PHYSICALHEIGHT),
                           GetDeviceCaps(own, LOGPIXELSX),    GetDeviceCaps(own, LOGPIXELSY)};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(m[i], static_cast<ULONG>(expected[i])) << i;
  DeleteDC(own);
}

// A transform set before the document scales the device size it reports.
TEST_F(Print, HalvedDeviceSizeUnderAHalfTransform) {
  ULONG rc = 0;
  ASSERT_EQ(broker_->BrokerSetGraphicsMode(dc_, GM_ADVANCED, &rc), S_OK);
  XFORM half = {0.5f, 0, 0, 0.5f, 0, 0};
  UniqueSafeArray xform = Bytes(Raw(half));
  ASSERT_EQ(broker_->BrokerSetWorldTransform(dc_, xform.Get(), &rc), S_OK);
  ASSERT_EQ(rc, 1u);
  ULONG m[8] = {};
  ASSERT_EQ(StartDoc(broker_, dc_, m), S_OK);
  // Halves round to the nearest pixel.
  EXPECT_LE(std::abs(2 * static_cast<int>(m[2]) - static_cast<int>(m[0])), 1);
  EXPECT_LE(std::abs(2 * static_cast<int>(m[3]) - static_cast<int>(m[1])), 1);
}

// Failures write no out-value. Only SP_ERROR counts as a failed document
// start: Wine refuses a second StartDocW on a DC with 0, which the broker
// passes on as success, so the refusal here is a DC the object does not own.
TEST_F(Print, FailuresLeaveOutValuesUntouched) {
  ULONG m[8];
  std::fill(std::begin(m), std::end(m), 0xDEADu);
  EXPECT_EQ(StartDoc(broker_, 0x00BADBAD, m), E_INVALIDARG);
  for (ULONG value : m) EXPECT_EQ(value, 0xDEADu);
  ASSERT_EQ(StartDoc(broker_, dc_, m), S_OK);
  EXPECT_EQ(StartDoc(broker_, dc_, m), S_OK);
  // One method of each result pattern with a DC of no one's.
  ULONG v = 0xDEAD;
  EXPECT_EQ(broker_->BrokerGetTextColor(0x00BADBAD, &v), E_INVALIDARG);  // value
  EXPECT_EQ(broker_->BrokerBeginPath(0x00BADBAD), E_INVALIDARG);         // boolean
  EXPECT_EQ(broker_->BrokerStartPage(0x00BADBAD), E_INVALIDARG);         // positive
  EXPECT_EQ(v, 0xDEADu);
}

// ------------------------------------------------------------------- state

TEST_F(Print, StateKeptAcrossFillsAndRoundTrips) {
  ULONG brush = 0, pen = 0, after = 0, rc = 0;
  ASSERT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_BRUSH, &brush), S_OK);
  ASSERT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_PEN, &pen), S_OK);
  UniqueSafeArray rect = Bytes(Raw(RECT{10, 10, 50, 50}));
  const std::function<HRESULT()> draws[] = {
      [&] { return broker_->BrokerAddRectangle(dc_, rect.Get(), 0xFF); },
      [&] { return broker_->BrokerPathToSolidFill(dc_, 0xFF00); },
      [&] { return broker_->BrokerPathToStrokedLine(dc_, 3, 0xFF0000); },
      [&] { return BitmapFill(HeaderBlob(Header(1, 1, 32), 2), 4, true); },
  };
  for (const auto& draw : draws) {
    broker_->BrokerBeginPath(dc_);
    broker_->BrokerMoveTo(dc_, 10, 10);
    broker_->BrokerLineTo(dc_, 40, 40);
    broker_->BrokerEndPath(dc_);
    EXPECT_EQ(draw(), S_OK);
    EXPECT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_BRUSH, &after), S_OK);
    EXPECT_EQ(after, brush);
    EXPECT_EQ(broker_->BrokerGetCurrentObject(dc_, OBJ_PEN, &after), S_OK);
    EXPECT_EQ(after, pen);
  }
  // The transform comes back byte for byte, as a one-dimensional array from 0.
  ASSERT_EQ(broker_->BrokerSetGraphicsMode(dc_, GM_ADVANCED, &rc), S_OK);
  XFORM odd = {1.25f, 0.5f, -0.75f, 3.0e-3f, 17.5f, -2.25f};
  UniqueSafeArray sent = Bytes(Raw(odd));
  ASSERT_EQ(broker_->BrokerSetWorldTransform(dc_, sent.Get(), &rc), S_OK);
  VARIANT back;
  VariantInit(&back);
  ASSERT_EQ(broker_->BrokerGetWorldTransform(dc_, &back), S_OK);
  ASSERT_EQ(V_VT(&back), VT_ARRAY | VT_UI1);
  LONG lower = -1, upper = -1;
  EXPECT_EQ(SafeArrayGetDim(V_ARRAY(&back)), 1u);
  SafeArrayGetLBound(V_ARRAY(&back), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&back), 1, &upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 23);
  EXPECT_EQ(TakeBytes(V_ARRAY(&back), 24), Raw(odd));
}

// Text metrics through the broker equal the test's own on the same printer
// and font, through the proxy.
TEST_F(Print, TextMetricsEqualTheTestsOwn) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  const ULONG dc = BrokerDc(session.broker);
  const std::string description = FontBlob(L"Arial", -40);
  UniqueSafeArray blob = Bytes(description);
  ULONG font = 0, previous = 0;
  ASSERT_EQ(session.broker->BrokerCreateFontIndirect(blob.Get(), &font), S_OK);
  ASSERT_EQ(session.broker->BrokerSelectObject(dc, font, &previous), S_OK);
  VARIANT metrics;
  VariantInit(&metrics);
  ASSERT_EQ(session.broker->BrokerGetTextMetrics(dc, &metrics), S_OK);
  ASSERT_EQ(V_VT(&metrics), VT_ARRAY | VT_UI1);
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(V_ARRAY(&metrics), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(&metrics), 1, &upper);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 59);
  const std::string got = TakeBytes(V_ARRAY(&metrics), 60);
  HDC own = OwnDc();
  LOGFONTW logfont;
  std::memcpy(&logfont, description.data(), sizeof logfont);
  HFONT ownFont = CreateFontIndirectW(&logfont);
  HGDIOBJ old = SelectObject(own, ownFont);
  TEXTMETRICW expected{};
  ASSERT_TRUE(GetTextMetricsW(own, &expected));
  EXPECT_EQ(got, Raw(expected));
  SelectObject(own, old);
  DeleteObject(ownFont);
  DeleteDC(own);
}

}  // namespace
