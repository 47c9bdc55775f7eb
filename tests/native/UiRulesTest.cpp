// The window toolkit's OS-free rules; the mark-up includes shapes the update server could send.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestStrings.h"
#include "ui/ElementGeometry.h"
#include "ui/SkinRegions.h"
#include "ui/TargaImage.h"
#include "ui/TextMarkup.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A file with these header fields ({id length, colour map type, map length}), then `data`.
// clang-format off
Bytes Tga(uint16_t w, uint16_t h, uint8_t bits, bool rle, const Bytes& data, Bytes idMap = {0, 0, 0}) {
  Bytes f = {idMap[0], idMap[1], uint8_t(rle ? 10 : 2), 0, 0, idMap[2], 0, 0, 0, 0, 0, 0,
             uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), bits, 0};
  f.resize(f.size() + data.size());  // (GCC 12 misreads an insert at the end as out of bounds)
  std::copy(data.begin(), data.end(), f.end() - data.size());
  return f;
}
// clang-format on

struct Decoded {
  TargaStatus status = TargaStatus::Ok;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, in stored order
};

// Decodes into a buffer with a guard zone behind the pixels, which must stay untouched.
Decoded Decode(const Bytes& file) {
  TargaHeader h;
  Decoded out;
  out.status = ReadTargaHeader(file.data(), file.size(), &h);
  if (out.status != TargaStatus::Ok) return out;
  const size_t count = size_t{h.width} * h.height;
  Bytes buffer(count * 4 + 64, 0xCD);
  out.status = DecodeTargaPixels(file.data(), file.size(), h, buffer.data());
  EXPECT_EQ(Bytes(buffer.begin() + count * 4, buffer.end()), Bytes(64, 0xCD))
      << "written past the pixels";
  if (out.status != TargaStatus::Ok) return out;
  out.pixels.resize(count);
  std::memcpy(out.pixels.data(), buffer.data(), count * 4);
  return out;
}

TEST(TargaImage, DecodesAndRefuses) {
  using enum TargaStatus;
  // clang-format off
  const struct { const char* name; Bytes file; TargaStatus status; std::vector<uint32_t> pixels; } cases[] = {
      {"raw 24-bit gets alpha 255; extra data ignored", Tga(2, 1, 24, false, {1, 2, 3, 4, 5, 6, 9}), Ok, {0xFF030201, 0xFF060504}},
      {"raw 32-bit keeps alpha", Tga(1, 2, 32, false, {1, 2, 3, 4, 5, 6, 7, 8}), Ok, {0x04030201, 0x08070605}},
      {"run-length 24-bit", Tga(1, 3, 24, true, {0x81, 1, 2, 3, 0x00, 4, 5, 6}), Ok, {0xFF030201, 0xFF030201, 0xFF060504}},
      {"run-length 32-bit packet across rows", Tga(3, 2, 32, true, {0x83, 1, 2, 3, 4, 0x01, 5, 6, 7, 8, 9, 10, 11, 12}), Ok,
       {0x04030201, 0x04030201, 0x04030201, 0x04030201, 0x08070605, 0x0C0B0A09}},
      {"a run past the last pixel is cut", Tga(2, 1, 32, true, {0xFF, 1, 2, 3, 4}), Ok, {0x04030201, 0x04030201}},
      {"literals past the last pixel are cut", Tga(1, 1, 24, true, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}), Ok, {0xFF030201}},
      {"shorter than the header", Bytes(17, 0), TooShort, {}},
      {"an image-ID field", Tga(1, 1, 24, false, {1, 2, 3, 4}, {1, 0, 0}), HasIdField, {}},
      {"a colour map type", Tga(1, 1, 24, false, {1, 2, 3}, {0, 1, 0}), HasColourMap, {}},
      {"a colour map length", Tga(1, 1, 24, false, {1, 2, 3}, {0, 0, 2}), HasColourMap, {}},
      {"16 bits per pixel", Tga(1, 1, 16, false, {1, 2}), UnsupportedDepth, {}},
      {"0 x 0", Tga(0, 0, 32, false, {}), Empty, {}},
      {"beyond a DIB section in 64 bits", Tga(65535, 65535, 32, true, {}), TooLarge, {}},
      {"raw pixels one byte short", Tga(2, 1, 24, false, {1, 2, 3, 4, 5}), PixelsTooShort, {}},
      {"too short for any packing", Tga(4096, 4096, 32, true, {0xFF, 1, 2, 3, 4}), PixelsTooShort, {}},
      {"run-length data ends early", Tga(3, 1, 24, true, {0x00, 1, 2, 3, 0x00, 4}), PixelsTooShort, {}},
      {"a run packet without its pixel", Tga(2, 1, 32, true, {0x00, 1, 2, 3, 4, 0x80, 5}), PixelsTooShort, {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(c.file);
    EXPECT_EQ(d.status, c.status);
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

// Linux only: the masters are read by ImageMagick.
#ifndef _WIN32

struct Sheet {
  int32_t id, width, height;
  Decoded decoded;
  uint32_t At(int32_t x, int32_t y) const {  // y from the top
    return decoded.pixels[size_t(height - 1 - y) * width + x];
  }
};

constexpr UiSourceRect Bounds(const SkinSlices& s) {
  return {s[0].x, s[0].y, s[0].width + s[1].width + s[2].width, s[0].height};
}
constexpr UiSourceRect Bounds(const SkinNineSlice& n) {
  return {n.x, n.y, n.columns[0] + n.columns[1] + n.columns[2], n.rows[0] + n.rows[1] + n.rows[2]};
}

// The resources are the premultiplied masters stored bottom row first, with
// every colour within its alpha; each region lies inside its sheet, apart
// from the others, and shows something.
TEST(SkinSheets, ResourcesMatchMastersAndRegions) {
  Sheet sheets[] = {{161, 569, 175, {}}, {162, 72, 44, {}}, {164, 460, 130, {}}};
  for (Sheet& sheet : sheets) {
    SCOPED_TRACE("sheet " + std::to_string(sheet.id));
    const std::string base = std::string(GLINT_SKINS_DIR) + "/skin" + std::to_string(sheet.id);
    std::ifstream file(base + ".tga", std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(bytes.size(), kTargaHeaderBytes);
    EXPECT_EQ(bytes[2], 10) << "not run-length true colour";
    sheet.decoded = Decode(bytes);
    ASSERT_EQ(sheet.decoded.status, TargaStatus::Ok);
    ASSERT_EQ(sheet.decoded.pixels.size(), size_t(sheet.width) * sheet.height);
    // The PNG master as ImageMagick reads it: straight alpha, top row first.
    FILE* pipe = popen(("convert '" + base + ".png' -depth 8 rgba:-").c_str(), "r");
    Bytes rgba(sheet.decoded.pixels.size() * 4);
    const bool read =
        pipe != nullptr && std::fread(rgba.data(), 1, rgba.size(), pipe) == rgba.size();
    if (pipe != nullptr) pclose(pipe);
    ASSERT_TRUE(read) << "convert could not read the master";
    size_t differing = 0, overAlpha = 0;
    for (int32_t y = 0; y < sheet.height; ++y) {
      for (int32_t x = 0; x < sheet.width; ++x) {
        // The sheet holds the master's pixel premultiplied with rounding.
        const uint8_t* m = &rgba[(size_t(y) * sheet.width + x) * 4];
        const auto pre = [m](uint32_t c) { return (c * m[3] * 2 + 255) / 510; };
        const uint32_t p = sheet.At(x, y), a = p >> 24;
        differing += p != (uint32_t{m[3]} << 24 | pre(m[0]) << 16 | pre(m[1]) << 8 | pre(m[2]));
        overAlpha += (p & 0xFF) > a || (p >> 8 & 0xFF) > a || (p >> 16 & 0xFF) > a;
      }
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(overAlpha, 0u);
  }

  const SkinToggleLooks& box = kCheckBoxLooks;
  const SkinToggleLooks& radio = kRadioButtonLooks;
  // clang-format off
  const std::pair<const char*, UiSourceRect> regions[] = {
      {"footer bar", Bounds(kFooterBarSlices)}, {"focus ring", Bounds(kFocusRing)},
      {"button normal", Bounds(kButtonNormal)}, {"button hover", Bounds(kButtonHover)},
      {"button pressed", Bounds(kButtonPressed)}, {"button disabled", Bounds(kButtonDisabled)},
      {"box", box.uncheckedNormal}, {"box hover", box.uncheckedHover},
      {"box checked", box.checkedNormal}, {"box checked hover", box.checkedHover},
      {"radio", radio.uncheckedNormal}, {"radio hover", radio.uncheckedHover},
      {"radio checked", radio.checkedNormal}, {"radio checked hover", radio.checkedHover},
      {"maker logo", kMakerLogo}, {"note icon", kNoteIcon},
      {"conflict row icon", kConflictRowIcon}, {"failure icon", kFailureIcon},
      {"progress track", Bounds(kProgressTrackSlices)}, {"progress fill", Bounds(kProgressFillSlices)},
      {"installer splash", Bounds(kInstallerSplashBackground)},
      {"uninstaller splash", Bounds(kUninstallerSplashBackground)},
      {"splash picture (sheet 164)", kSplashPicture},
  };
  // clang-format on
  for (size_t i = 0; i < std::size(regions); ++i) {
    const auto& [use, q] = regions[i];
    SCOPED_TRACE(use);
    const Sheet& sheet = i + 1 == std::size(regions) ? sheets[2] : sheets[0];
    ASSERT_TRUE(q.width > 0 && q.height > 0 && q.x >= 0 && q.y >= 0 &&
                q.x + q.width <= sheet.width && q.y + q.height <= sheet.height);
    for (size_t j = 0; &sheet == &sheets[0] && j < i; ++j) {
      const UiSourceRect& o = regions[j].second;
      EXPECT_TRUE(o.x + o.width <= q.x || q.x + q.width <= o.x || o.y + o.height <= q.y ||
                  q.y + q.height <= o.y)
          << "overlaps " << regions[j].first;
    }
    bool shows = false;
    for (int32_t y = q.y; y < q.y + q.height; ++y) {
      for (int32_t x = q.x; x < q.x + q.width; ++x) shows |= sheet.At(x, y) >> 24 != 0;
    }
    EXPECT_TRUE(shows);
  }
}
#endif

// Runs as "^b+8L(target)text" joined by " | ": ^ line break, b bold, +N
// space above, the kind (P, L, C) with the target when either is set.
std::string Describe(const std::vector<TextRun>& runs) {
  std::string out;
  for (const TextRun& run : runs) {
    out +=
        std::string(out.empty() ? "" : " | ") + (run.lineBreak ? "^" : "") + (run.bold ? "b" : "");
    if (run.spaceAbove != 0) out += '+' + std::to_string(run.spaceAbove);
    if (run.kind != TextRunKind::Plain || !run.target.IsEmpty()) {
      out += "PLC"[static_cast<int>(run.kind)] + ('(' + Show(run.target) + ')');
    }
    out += Show(run.text);
  }
  return out;
}

TEST(TextMarkup, ParsesRuns) {
  // clang-format off
  const std::pair<std::u16string_view, const char*> cases[] = {
      {u"Read <a href='https://h/eula'>this</a> now.", "Read  | L(https://h/eula)this |  now."},
      {u"<a href=x>y</a>z", "L()y | z"},                        // no quote: no target
      {u"<a href=\"x>y", "L()y"},                               // unpaired quote: no target
      {u"<a class=\"c\" href='t'>y", "L(c)y"},                  // the first quote decides
      {u"<a 't'>l</a><a 'u'><ncp>c</ncp>d</a>e", "L(t)l | C(u)c | P(u)d | e"},
      {u"a<strong>b</strong>c", "a | bb | c"},
      {u"a<br>b<br/>c<BR />d", "a | ^b | ^c | ^d"},
      {u"<A\tHREF='t'>x</A><STRONG>y</STRONG>", "L(t)x | by"},
      {u"one<br/<br/>two", "one | ^two"},
      {u"<p>a</p><b>c</b><brx>d", "a | c | d"},                 // unknown tags
      {u"abc<", "abc"},
      {u"<ul><li>One</li><li>Two</li></ul>After", "^+8\\u2022 One | ^+8\\u2022 Two | ^+8After"},
      {u"a\nb", "^a | b"},                                       // the break lands before "a"
      {std::u16string_view(u"a\0<br>b", 7), "a"},
      {u"", ""},
  };
  // clang-format on
  for (const auto& [text, runs] : cases) {
    EXPECT_EQ(Describe(MakeTextRuns(Raw(text), true, false)), runs) << Show(Raw(text));
  }
  EXPECT_EQ(Describe(MakeTextRuns(u"a<br>b"_ms, false, true)), "ba<br>b");
}

// Shapes that cost quadratic time to a parser searching past the current
// tag; the test's timeout catches that.
TEST(TextMarkup, HostileShapes) {
  const auto repeat = [](std::u16string_view piece, size_t times, std::u16string_view tail) {
    std::u16string text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return MakeTextRuns(Raw(text + std::u16string(tail)), true, false).size();
  };
  EXPECT_EQ(repeat(u"<br>", 100000, u""), 99999u);
  EXPECT_EQ(repeat(u"<a '>x", 100000, u"'"), 100000u);
  EXPECT_EQ(repeat(u"<", 200000, u"x"), 0u);
}

// Units are 10 pixels wide, 'W' 30; lines 16 high. Records "x,y,width:text".
class FixedPainter : public TextPainter {
 public:
  size_t Measure(std::u16string_view text, const TextRun&, int32_t room, int32_t* widths) override {
    measured += text.size();
    for (size_t i = 0, total = 0; i < text.size(); ++i) {
      total += text[i] == u'W' ? 30 : 10;
      if (total > size_t(room)) return i;
      widths[i] = int32_t(total);
    }
    return text.size();
  }
  int32_t Draw(std::u16string_view piece, const TextRun&, int32_t x, int32_t y,
               int32_t w) override {
    pieces += (pieces.empty() ? "" : " | ") + std::to_string(x) + ',' + std::to_string(y) + ',' +
              std::to_string(w) + ':' + Show(Raw(piece));
    return 16;
  }
  std::string pieces;
  size_t measured = 0;
};

TEST(TextLayout, BreaksLines) {
  // clang-format off
  const struct { std::u16string_view markup; int32_t width, lines; const char* pieces; } cases[] = {
      {u"aaa bbb ccc", 65, 3, "0,0,30:aaa | 0,16,30:bbb | 0,32,30:ccc"},     // the last space
      {u"aaa bbb ccc", 75, 2, "0,0,30:aaa | 0,16,70:bbb ccc"},               // before the fitting count
      {u"ab<b> cdefgh", 60, 2, "0,0,20:ab | 20,0,40: cde | 0,16,30:fgh"},    // a space at 0 does not count
      {u"abcdefghij", 45, 3, "0,0,40:abcd | 0,16,40:efgh | 0,32,20:ij"},     // an over-long word is cut
      {u"ab<b>WW", 40, 3, "0,0,20:ab | 0,16,30:W | 0,32,30:W"},              // nothing fits: next line
      {u"W<b>ab", 25, 1, "0,0,20:ab"},                                       // nor on a new line: dropped
      {u"abcde<b>f<br>g", 50, 1, "0,0,50:abcde"},                            // W - x < 1 stops
      {u"aaa    bbb", 50, 2, "0,0,40:aaa  | 0,16,30:bbb"},                   // spaces after a piece dropped
      {u"a<b>  b", 100, 1, "0,0,10:a | 10,0,30:  b"},                         // spaces leading a run stay
      {u"a<br><br>b", 100, 3, "0,0,10:a | 0,16,0: | 0,32,10:b"},
      {u"<li>a</li><li>b</li></ul>c", 100, 4, "0,8,30:\\u2022 a | 0,32,30:\\u2022 b | 0,56,10:c"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(Show(Raw(c.markup)));
    FixedPainter painter;
    EXPECT_EQ(LayOutTextRuns(MakeTextRuns(Raw(c.markup), true, false), c.width, painter), c.lines);
    EXPECT_EQ(painter.pieces, c.pieces);
  }
  FixedPainter painter;
  EXPECT_EQ(LayOutTextRuns({}, 100, painter), 0);
  // A word longer than the first measured window that fits whole.
  const std::u16string word(100, u'a');
  EXPECT_EQ(LayOutTextRuns(MakeTextRuns(Raw(word), true, false), 1200, painter), 1);
  EXPECT_EQ(painter.pieces, "0,0,1000:" + std::string(100, 'a'));
}

// A walk that measured the whole rest of a run for each line would measure
// thousands of times these lengths.
TEST(TextLayout, MeasuresInProportionToLength) {
  std::u16string words;
  while (words.size() < 200000) words += u"ab ";
  for (const std::u16string& text :
       {std::u16string(200000, u'x'), std::u16string(200000, u' '), words}) {
    FixedPainter painter;
    LayOutTextRuns(MakeTextRuns(u"x"_ms + Raw(text), false, false), 300, painter);
    EXPECT_LT(painter.measured, 4 * text.size());
  }
}

TEST(ElementArithmetic, AlphaPassOnA3x3Pattern) {
  // Rows top-down: blue, green, red, alpha. The middle bottom pixel gets the
  // shadow of the original green above it, which a top-down pass would have changed.
  // The right middle pixel and the one above it have no green: background.
  const uint8_t source[3][3][4] = {{{10, 255, 200, 0}, {20, 0, 210, 0}, {30, 0, 220, 0}},
                                   {{40, 0, 5, 0}, {50, 255, 6, 0}, {60, 0, 7, 9}},
                                   {{70, 128, 255, 0}, {80, 0, 128, 0}, {90, 255, 64, 0}}};
  const uint8_t expected[3][3][4] = {{{10, 255, 200, 0}, {20, 0, 210, 0}, {30, 0, 220, 0}},
                                     {{19, 0, 2, 127}, {24, 126, 2, 127}, {0, 0, 0, 0}},
                                     {{17, 32, 63, 64}, {39, 0, 63, 127}, {44, 126, 31, 127}}};
  uint8_t topDown[3][3][4], bottomUp[3][3][4];
  std::memcpy(topDown, source, sizeof source);
  for (int row = 0; row < 3; ++row) std::memcpy(bottomUp[2 - row], source[row], 12);
  ApplyTextAlpha(&topDown[0][0][0], 12, 3, 3, 128);
  ApplyTextAlpha(&bottomUp[2][0][0], -12, 3, 3, 128);  // a DIB section with a positive height
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(std::memcmp(topDown[row], expected[row], 12), 0) << "row " << row;
    EXPECT_EQ(std::memcmp(bottomUp[2 - row], expected[row], 12), 0) << "row " << row;
  }
}

TEST(ElementArithmetic, SourceRectRoundingAndClamp) {
  // clang-format off
  const struct { UiRect element, clip; UiSourceRect source, expected; } cases[] = {
      {{10, 10, 20, 20}, {12, 13, 20, 20}, {5, 6, 10, 10}, {7, 9, 8, 7}},  // unscaled
      {{0, 0, 10, 10}, {3, 0, 10, 10}, {0, 0, 20, 20}, {6, 0, 14, 20}},    // halved
      {{0, 0, 4, 4}, {1, 1, 2, 2}, {0, 0, 2, 2}, {1, 1, 1, 1}},            // .5 rounds up
      {{0, 0, 2, 2}, {1, 1, 2, 2}, {4, 4, 3, 3}, {5, 5, 2, 2}},          // clamped right and bottom
      {{0, 0, 10, 10}, {8, 8, 10, 10}, {2, 2, 1, 1}, {2, 2, 1, 1}},      // size at least 1
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(SampleSourceRect(c.element, c.clip, c.source), c.expected);
  UiRect clip;
  EXPECT_TRUE(ClipToUpdate({10, 10, 30, 30}, {20, 0, 100, 15}, &clip));
  EXPECT_EQ(clip, (UiRect{20, 10, 30, 15}));
  EXPECT_FALSE(ClipToUpdate({10, 10, 30, 30}, {30, 0, 100, 100}, &clip));  // touching edges
}

TEST(ElementArithmetic, SliceLayouts) {
  const MSliceSpec button =
      MakeSliceSpec(nullptr, kButtonNormal[0], kButtonNormal[1], kButtonNormal[2]);
  using Rects = std::array<UiRect, 3>;
  EXPECT_EQ(ThreeSliceRects(button, 140, 33),
            (Rects{{{0, 0, 3, 33}, {3, 0, 137, 33}, {137, 0, 140, 33}}}));
  // Narrower than the caps: the middle turns inside out and paints nothing.
  EXPECT_EQ(ThreeSliceRects(button, 4, 33), (Rects{{{0, 0, 3, 33}, {3, 0, 1, 33}, {1, 0, 4, 33}}}));
  const MNineSliceSpec ring =
      MakeNineSliceSpec(nullptr, 13, 44, {7, 1, 7}, {7, 1, 7}, DrawMode::OpaqueCopy);
  EXPECT_EQ(ring[1].middle, (UiSourceRect{20, 51, 1, 1}));
  EXPECT_EQ(ring[2].right, (UiSourceRect{21, 52, 7, 7}));
  EXPECT_EQ(NineSliceRowRects(ring, 25, 25),
            (Rects{{{0, 0, 25, 7}, {0, 7, 25, 18}, {0, 18, 25, 25}}}));
}

TEST(ElementArithmetic, ProgressFillEdge) {
  // percent, width: shown, stored percent, fill's right edge.
  const std::array<int32_t, 5> cases[] = {
      {-5, 300, 0, 0, 0},      {0, 300, 0, 0, 0},       {1, 300, 1, 1, 11},
      {100, 300, 1, 100, 299}, {101, 300, 1, 100, 299}, {0, 7, 0, 0, 0},
      {1, 7, 1, 1, 6},         {100, 7, 1, 100, 6},     {101, 7, 1, 100, 6}};
  for (const auto& [percent, width, shown, stored, right] : cases) {
    SCOPED_TRACE(std::to_string(percent) + "% of " + std::to_string(width));
    const ProgressLayout layout = LayOutProgress(percent, width, 33);
    EXPECT_EQ(layout.showFill, shown == 1);
    EXPECT_EQ(layout.percent, stored);
    EXPECT_EQ(layout.track, (UiRect{0, 0, width, 33}));
    if (shown) EXPECT_EQ(layout.fill, (UiRect{2, 2, right, 31}));
  }
}

TEST(ElementArithmetic, SizeAnimationTicks) {
  // clang-format off
  const struct { int32_t from, to; std::vector<int32_t> steps; } cases[] = {
      {100, 450, {175, 87, 44, 22, 11, 5, 3, 1, 1, 1}}, {450, 100, {-175, -88, -44, -22, -11, -5, -3, -1, -1}},
      {100, 101, {1}}, {100, 99, {-1}}};
  // clang-format on
  for (const auto& c : cases) {
    std::vector<int32_t> steps;
    SizeTick tick{c.from, 100, false};
    for (int i = 0; i < 64 && !tick.settled; ++i) {
      const SizeTick next = AnimateSize(tick.width, tick.height, c.to, 345);
      if (next.width != tick.width) steps.push_back(next.width - tick.width);
      tick = next;
    }
    EXPECT_EQ(steps, c.steps) << c.from << " to " << c.to;
    EXPECT_EQ(tick.height, 345);
  }
}

}  // namespace
