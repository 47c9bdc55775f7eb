// The window toolkit's OS-free rules: skin images from well-formed, cut and
// hostile Targa bytes; the text mark-up, including the shapes the update
// server could send; the line layout over a fixed-width painter; and the
// element arithmetic at its edges.
#include <gtest/gtest.h>

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

// ---------------------------------------------------------------- Targa

// A file with the given header fields followed by `data`.
Bytes Tga(uint16_t width, uint16_t height, uint8_t bits, bool runLength, const Bytes& data,
          uint8_t idLength = 0, uint8_t mapType = 0, uint16_t mapLength = 0) {
  Bytes file(kTargaHeaderBytes, 0);
  file[0] = idLength;
  file[1] = mapType;
  file[2] = runLength ? 10 : 2;
  file[5] = mapLength & 0xFF;
  file[6] = mapLength >> 8;
  file[12] = width & 0xFF;
  file[13] = width >> 8;
  file[14] = height & 0xFF;
  file[15] = height >> 8;
  file[16] = bits;
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

struct Decoded {
  TargaStatus status = TargaStatus::Ok;
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, in stored order
};

// Decodes into a buffer with a guard zone behind the pixels, which must stay untouched.
Decoded Decode(const Bytes& file) {
  Decoded out;
  TargaHeader header;
  out.status = ReadTargaHeader(file.data(), file.size(), &header);
  if (out.status != TargaStatus::Ok) return out;
  const size_t count = size_t{header.width} * header.height;
  Bytes buffer(count * 4 + 64, 0xCD);
  out.status = DecodeTargaPixels(file.data(), file.size(), header, buffer.data());
  for (size_t i = count * 4; i < buffer.size(); ++i)
    EXPECT_EQ(buffer[i], 0xCD) << "written past the pixels";
  if (out.status != TargaStatus::Ok) return out;
  out.width = header.width;
  out.height = header.height;
  out.pixels.resize(count);
  std::memcpy(out.pixels.data(), buffer.data(), count * 4);
  return out;
}

struct TargaCase {
  const char* name;
  Bytes file;
  TargaStatus status;
  std::vector<uint32_t> pixels;
};

// clang-format off
const Bytes kBgr1 = {1, 2, 3}, kBgr2 = {4, 5, 6};
const TargaCase kTargaCases[] = {
    {"raw 24-bit gets alpha 255", Tga(2, 1, 24, false, {1, 2, 3, 4, 5, 6}), TargaStatus::Ok,
     {0xFF030201, 0xFF060504}},
    {"raw 32-bit keeps alpha", Tga(1, 2, 32, false, {1, 2, 3, 4, 5, 6, 7, 8}), TargaStatus::Ok,
     {0x04030201, 0x08070605}},
    {"data after the last pixel is ignored", Tga(1, 1, 24, false, {1, 2, 3, 9, 9}), TargaStatus::Ok,
     {0xFF030201}},
    {"run-length 24-bit: run then literals", Tga(2, 2, 24, true, {0x81, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}),
     TargaStatus::Ok, {0xFF030201, 0xFF030201, 0xFF060504, 0xFF090807}},
    {"run-length 32-bit packet across rows", Tga(3, 2, 32, true, {0x83, 1, 2, 3, 4, 0x01, 5, 6, 7, 8, 9, 10, 11, 12}),
     TargaStatus::Ok, {0x04030201, 0x04030201, 0x04030201, 0x04030201, 0x08070605, 0x0C0B0A09}},
    {"a run past the last pixel is cut", Tga(2, 1, 32, true, {0xFF, 1, 2, 3, 4}), TargaStatus::Ok,
     {0x04030201, 0x04030201}},
    {"literals past the last pixel are cut", Tga(1, 1, 24, true, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
     TargaStatus::Ok, {0xFF030201}},
    {"image type without bit 3 is raw", [] { Bytes f = Tga(1, 1, 24, false, {0x80, 2, 3}); f[2] = 3; return f; }(),
     TargaStatus::Ok, {0xFF030280}},
    {"shorter than the header", Bytes(17, 0), TargaStatus::TooShort, {}},
    {"an image-ID field", Tga(1, 1, 24, false, {1, 2, 3, 4}, 1), TargaStatus::HasIdField, {}},
    {"a colour map type", Tga(1, 1, 24, false, {1, 2, 3}, 0, 1), TargaStatus::HasColourMap, {}},
    {"a colour map length", Tga(1, 1, 24, false, {1, 2, 3}, 0, 0, 2), TargaStatus::HasColourMap, {}},
    {"16 bits per pixel", Tga(1, 1, 16, false, {1, 2}), TargaStatus::UnsupportedDepth, {}},
    {"8 bits per pixel", Tga(1, 1, 8, false, {1}), TargaStatus::UnsupportedDepth, {}},
    {"0 x 0", Tga(0, 0, 32, false, {}), TargaStatus::Empty, {}},
    {"0 x 5", Tga(0, 5, 32, true, {0x80, 1, 2, 3, 4}), TargaStatus::Empty, {}},
    {"beyond a DIB section (64-bit size)", Tga(65535, 65535, 32, true, {}), TargaStatus::TooLarge, {}},
    {"raw pixels one byte short", Tga(2, 1, 24, false, {1, 2, 3, 4, 5}), TargaStatus::PixelsTooShort, {}},
    {"run-length data too short for any packing", Tga(4096, 4096, 32, true, {0xFF, 1, 2, 3, 4}),
     TargaStatus::PixelsTooShort, {}},
    {"run-length data ends before the pixels", Tga(3, 1, 24, true, {0x00, 1, 2, 3, 0x00, 4}),
     TargaStatus::PixelsTooShort, {}},
    {"a run packet without its pixel", Tga(2, 1, 32, true, {0x00, 1, 2, 3, 4, 0x80, 5}),
     TargaStatus::PixelsTooShort, {}},
    {"a literal packet ends early", Tga(2, 1, 24, true, {0x01, 1, 2, 3, 4, 5}),
     TargaStatus::PixelsTooShort, {}},
};
// clang-format on

TEST(TargaImage, DecodesAndRefuses) {
  for (const TargaCase& c : kTargaCases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(c.file);
    EXPECT_EQ(d.status, c.status);
    if (c.status == TargaStatus::Ok) EXPECT_EQ(size_t{d.width} * d.height, c.pixels.size());
    EXPECT_EQ(d.pixels, c.pixels);
  }
  TargaHeader header;
  EXPECT_EQ(ReadTargaHeader(nullptr, 100, &header), TargaStatus::TooShort);
}

// ---------------------------------------------------------------- skins

struct Sheet {
  int32_t id, width, height;
};
const Sheet kSheets[] = {{161, 569, 175}, {162, 72, 44}, {164, 460, 130}};

struct Region {
  std::string use;
  int32_t sheet;
  UiSourceRect rect;
};

std::vector<Region> AllRegions() {
  std::vector<Region> regions;
  const auto add = [&](std::string use, UiSourceRect rect, int32_t sheet = kSkinSheetMain) {
    regions.push_back({std::move(use), sheet, rect});
  };
  const auto slices = [&](const std::string& use, const SkinSlices& s) {
    for (int i = 0; i < 3; ++i) add(use + " slice " + std::to_string(i), s[i]);
  };
  const auto nine = [&](const std::string& use, const SkinNineSlice& n) {
    const MNineSliceSpec spec =
        MakeNineSliceSpec(nullptr, n.x, n.y, n.columns, n.rows, DrawMode::AlphaBlend);
    for (int r = 0; r < 3; ++r)
      slices(use + " row " + std::to_string(r), {spec[r].left, spec[r].middle, spec[r].right});
  };
  const auto toggle = [&](const std::string& use, const SkinToggleLooks& t) {
    add(use + " unchecked", t.uncheckedNormal);
    add(use + " unchecked hover", t.uncheckedHover);
    add(use + " checked", t.checkedNormal);
    add(use + " checked hover", t.checkedHover);
  };
  slices("footer bar", kFooterBarSlices);
  nine("focus ring", kFocusRing);
  slices("button normal", kButtonNormal);
  slices("button hover", kButtonHover);
  slices("button pressed", kButtonPressed);
  slices("button disabled", kButtonDisabled);
  toggle("check box", kCheckBoxLooks);
  toggle("radio button", kRadioButtonLooks);
  add("maker logo", kMakerLogo);
  add("note icon", kNoteIcon);
  add("conflict row icon", kConflictRowIcon);
  add("failure icon", kFailureIcon);
  slices("progress track", kProgressTrackSlices);
  slices("progress fill", kProgressFillSlices);
  nine("installer splash", kInstallerSplashBackground);
  nine("uninstaller splash", kUninstallerSplashBackground);
  add("splash picture", kSplashPicture, kSkinSheetSplash);
  return regions;
}

std::string SkinPath(int32_t id, const char* extension) {
  return std::string(GLINT_SKINS_DIR) + "/skin" + std::to_string(id) + extension;
}

// The PNG master as ImageMagick reads it (straight alpha, top row first),
// premultiplied with rounding: what the sheet's pixels must be, as 0xAARRGGBB.
std::vector<uint32_t> PremultipliedMaster(const Sheet& sheet) {
  const std::string command = "convert '" + SkinPath(sheet.id, ".png") + "' -depth 8 rgba:-";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::vector<uint8_t> rgba(size_t(sheet.width) * sheet.height * 4);
  const size_t read = std::fread(rgba.data(), 1, rgba.size(), pipe);
  pclose(pipe);
  if (read != rgba.size()) return {};
  std::vector<uint32_t> pixels;
  for (size_t i = 0; i < rgba.size(); i += 4) {
    const uint32_t a = rgba[i + 3];
    const auto pre = [a](uint32_t c) { return (c * a * 2 + 255) / 510; };
    pixels.push_back(a << 24 | pre(rgba[i]) << 16 | pre(rgba[i + 1]) << 8 | pre(rgba[i + 2]));
  }
  return pixels;
}

// The resources are the premultiplied masters, bottom row first, with every
// colour within its alpha; the regions lie inside their sheets, apart, and
// each shows something (the focus ring's centre is meant to be clear).
TEST(SkinSheets, ResourcesMatchMastersAndRegions) {
  std::vector<Decoded> sheets;
  for (const Sheet& sheet : kSheets) {
    SCOPED_TRACE("sheet " + std::to_string(sheet.id));
    std::ifstream file(SkinPath(sheet.id, ".tga"), std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GT(bytes.size(), kTargaHeaderBytes);
    EXPECT_EQ(bytes[0], 0) << "an ID field";
    EXPECT_EQ(bytes[2], 10) << "not run-length true colour";
    sheets.push_back(Decode(bytes));
    const Decoded& d = sheets.back();
    ASSERT_EQ(d.status, TargaStatus::Ok);
    ASSERT_EQ(d.width, uint32_t(sheet.width));
    ASSERT_EQ(d.height, uint32_t(sheet.height));
    const std::vector<uint32_t> master = PremultipliedMaster(sheet);
    ASSERT_EQ(master.size(), d.pixels.size()) << "convert could not read the master";
    size_t differing = 0, overAlpha = 0;
    for (int32_t y = 0; y < sheet.height; ++y) {
      for (int32_t x = 0; x < sheet.width; ++x) {
        const uint32_t p = d.pixels[size_t(sheet.height - 1 - y) * sheet.width + x];
        differing += p != master[size_t(y) * sheet.width + x];
        const uint32_t a = p >> 24;
        overAlpha += (p & 0xFF) > a || (p >> 8 & 0xFF) > a || (p >> 16 & 0xFF) > a;
      }
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(overAlpha, 0u);
  }
  ASSERT_EQ(sheets.size(), std::size(kSheets));

  const std::vector<Region> regions = AllRegions();
  for (size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    SCOPED_TRACE(r.use);
    const size_t s = r.sheet == kSkinSheetMain ? 0 : 2;
    const UiSourceRect& q = r.rect;
    ASSERT_TRUE(q.width > 0 && q.height > 0 && q.x >= 0 && q.y >= 0 &&
                q.x + q.width <= kSheets[s].width && q.y + q.height <= kSheets[s].height);
    for (size_t j = 0; j < i; ++j) {
      const UiSourceRect& o = regions[j].rect;
      EXPECT_TRUE(regions[j].sheet != r.sheet || o.x + o.width <= q.x || q.x + q.width <= o.x ||
                  o.y + o.height <= q.y || q.y + q.height <= o.y)
          << "overlaps " << regions[j].use;
    }
    bool shows = false;
    for (int32_t y = q.y; y < q.y + q.height; ++y) {
      for (int32_t x = q.x; x < q.x + q.width; ++x) {
        shows |=
            sheets[s].pixels[size_t(kSheets[s].height - 1 - y) * kSheets[s].width + x] >> 24 != 0;
      }
    }
    EXPECT_TRUE(shows || r.use == "focus ring row 1 slice 1");
  }
}

// ---------------------------------------------------------------- mark-up

// One run as "^b+8L(target)text": ^ line break, b bold, +N space above, the
// kind (P, L, C) with the target when there is one, then the text.
std::string Describe(const std::vector<TextRun>& runs) {
  std::string out;
  for (const TextRun& run : runs) {
    if (!out.empty()) out += " | ";
    if (run.lineBreak) out += '^';
    if (run.bold) out += 'b';
    if (run.spaceAbove != 0) out += '+' + std::to_string(run.spaceAbove);
    if (run.kind != TextRunKind::Plain || !run.target.IsEmpty()) {
      out += "PLC"[static_cast<int>(run.kind)];
      out += '(' + Show(run.target) + ')';
    }
    out += Show(run.text);
    EXPECT_EQ(run.colour, 0xFFFFFFu);
  }
  return out;
}

struct MarkupCase {
  const char* name;
  std::u16string_view text;
  const char* runs;
};

// clang-format off
const MarkupCase kMarkupCases[] = {
    {"a link quoted with ' gives three runs", u"Read <a href='https://h/eula'>this</a> now.",
     "Read  | L(https://h/eula)this |  now."},
    {"a link quoted with \"", u"<a href=\"x\">y</a>", "L(x)y"},
    {"a link without quotes has no target", u"<a href=x>y</a>z", "L()y | z"},
    {"an unpaired quote gives no target", u"<a href=\"x>y", "L()y"},
    {"the first quote of the tag decides", u"<a class=\"c\" href='t'>y", "L(c)y"},
    {"tab after the name", u"<a\t'x'>y", "L(x)y"},
    {"ncp keeps the target; </ncp> too", u"<a 't'>l</a><a 'u'><ncp>c</ncp>d</a>e",
     "L(t)l | C(u)c | P(u)d | e"},
    {"strong", u"a<strong>b</strong>c", "a | bb | c"},
    {"br forms", u"a<br>b<br/>c<BR />d", "a | ^b | ^c | ^d"},
    {"upper case names", u"<A HREF='t'>x</A><STRONG>y</STRONG>", "L(t)x | by"},
    {"<br/<br/> is one line break", u"one<br/<br/>two", "one | ^two"},
    {"unknown tags are dropped", u"<p>a</p><b>c</b><brx>d", "a | c | d"},
    {"a trailing <", u"abc<", "abc"},
    {"an unclosed tag swallows the rest", u"abc<strong x>y<br", "abc | by"},
    {"list items and the end of the list", u"<ul><li>One</li><li>Two</li></ul>After",
     "^+8\\u2022 One | ^+8\\u2022 Two | ^+8After"},
    {"li before a tag bullets an empty run", u"<li><strong>B</strong>", "^+8\\u2022  | bB"},
    {"line feed breaks before the text in front of it", u"a\nb", "^a | b"},
    {"two line breaks make an empty run", u"a<br><br>b", "a | ^ | ^b"},
    {"only the last tag leaves nothing behind", u"a<li></ul><br>", "a | ^+8\\u2022  | ^+8"},
    {"text ends at NUL", std::u16string_view(u"a\0<br>b", 7), "a"},
    {"empty text", u"", ""},
};
// clang-format on

TEST(TextMarkup, ParsesRuns) {
  for (const MarkupCase& c : kMarkupCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Describe(MakeTextRuns(Raw(c.text), true, false)), c.runs);
  }
  EXPECT_EQ(Describe(MakeTextRuns(u"a<br>b"_ms, false, true)), "ba<br>b");
  EXPECT_EQ(Describe(MakeTextRuns(MString(), false, false)), "");
  const std::vector<TextRun> runs = MakeTextRuns(u"<a>x</a><a 'y'>y</a><ncp>z"_ms, true, false);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_FALSE(IsLinkRun(runs[0]));
  EXPECT_TRUE(IsLinkRun(runs[1]) && IsLinkRun(runs[2]));
}

// Shapes that would cost quadratic time to a parser that searched past the
// current tag; the test's timeout is what catches that.
TEST(TextMarkup, HostileShapes) {
  const auto repeat = [](std::u16string_view piece, size_t times, std::u16string_view tail = u"") {
    std::u16string text;
    for (size_t i = 0; i < times; ++i) text += piece;
    return Raw(text + std::u16string(tail));
  };
  EXPECT_EQ(MakeTextRuns(repeat(u"<br>", 100000), true, false).size(), 99999u);
  EXPECT_EQ(MakeTextRuns(repeat(u"<a '>x", 100000, u"'"), true, false).size(), 100000u);
  EXPECT_EQ(MakeTextRuns(repeat(u"x<", 1, std::u16string(200000, u'<')), true, false).size(), 1u);
  EXPECT_EQ(MakeTextRuns(repeat(u"<li>", 100000, u"x"), true, false).size(), 100000u);
  EXPECT_EQ(MakeTextRuns(repeat(u"\"'", 100000), true, false).size(), 1u);
}

// ---------------------------------------------------------------- layout

// Every unit is 10 pixels wide except 'W' (30); lines are 16 high. Records
// each drawn piece as "x,y,width:text" and the units measured.
class FixedPainter : public TextPainter {
 public:
  size_t Measure(std::u16string_view text, const TextRun&, int32_t room, int32_t* widths) override {
    measured += text.size();
    int32_t total = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      total += text[i] == u'W' ? 30 : 10;
      if (total > room) return i;
      widths[i] = total;
    }
    return text.size();
  }
  int32_t Draw(std::u16string_view piece, const TextRun&, int32_t x, int32_t y,
               int32_t width) override {
    pieces += (pieces.empty() ? "" : " | ") + std::to_string(x) + ',' + std::to_string(y) + ',' +
              std::to_string(width) + ':' + Show(Raw(piece));
    return 16;
  }
  std::string pieces;
  size_t measured = 0;
};

struct LayoutCase {
  const char* name;
  std::u16string_view markup;
  int32_t width;
  const char* pieces;
  int32_t lines;
};

// clang-format off
const LayoutCase kLayoutCases[] = {
    {"breaks at the last space", u"aaa bbb ccc", 65, "0,0,30:aaa | 0,16,30:bbb | 0,32,30:ccc", 3},
    {"the last space before the fitting count", u"aaa bbb ccc", 75, "0,0,30:aaa | 0,16,70:bbb ccc", 2},
    {"a space at index 0 does not count", u"ab<strong> cdefgh", 60, "0,0,20:ab | 20,0,40: cde | 0,16,30:fgh", 2},
    {"an over-long word is cut", u"abcdefghij", 45, "0,0,40:abcd | 0,16,40:efgh | 0,32,20:ij", 3},
    {"nothing fits: next line", u"ab<strong>WW", 40, "0,0,20:ab | 0,16,30:W | 0,32,30:W", 3},
    {"nothing fits a whole line: the run is dropped", u"W<strong>ab", 25, "0,0,20:ab", 1},
    {"less than one pixel left stops", u"abcde<strong>f<br>g", 50, "0,0,50:abcde", 1},
    {"no width at all", u"abc", 0, "", 1},
    {"spaces after a piece are dropped", u"aaa    bbb", 50, "0,0,40:aaa  | 0,16,30:bbb", 2},
    {"spaces leading a run stay", u"a<strong>  b", 100, "0,0,10:a | 10,0,30:  b", 1},
    {"empty runs give their line a height", u"a<br><br>b", 100, "0,0,10:a | 0,16,0: | 0,32,10:b", 3},
    {"list items get space above", u"<li>a</li><li>b</li></ul>c", 100,
     "0,8,30:\\u2022 a | 0,32,30:\\u2022 b | 0,56,10:c", 4},
};
// clang-format on

TEST(TextLayout, BreaksLines) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    FixedPainter painter;
    EXPECT_EQ(LayOutTextRuns(MakeTextRuns(Raw(c.markup), true, false), c.width, painter), c.lines);
    EXPECT_EQ(painter.pieces, c.pieces);
  }
  FixedPainter painter;
  EXPECT_EQ(LayOutTextRuns({}, 100, painter), 0);
}

// A long run costs measurements in proportion to its length, whatever its
// shape: one word, many short words, or a page of spaces. A walk that
// measured the whole rest of the run for each line would measure thousands
// of times the length here.
TEST(TextLayout, MeasuresInProportionToLength) {
  const std::u16string shapes[] = {std::u16string(200000, u'x'), std::u16string(200000, u' '), [] {
                                     std::u16string s;
                                     while (s.size() < 200000) s += u"ab ";
                                     return s;
                                   }()};
  for (const std::u16string& text : shapes) {
    FixedPainter painter;
    LayOutTextRuns(MakeTextRuns(u"x"_ms + Raw(text), false, false), 300, painter);
    EXPECT_LT(painter.measured, 4 * text.size());
  }
}

// ---------------------------------------------------------------- arithmetic

TEST(ElementArithmetic, AlphaPassOnA3x3Pattern) {
  // Rows top-down: blue, green, red, alpha per pixel.
  const uint8_t source[3][3][4] = {
      {{10, 255, 200, 0}, {20, 0, 210, 0}, {30, 100, 220, 0}},
      {{40, 0, 5, 0}, {50, 255, 6, 0}, {60, 50, 7, 0}},
      {{70, 128, 255, 0}, {80, 0, 128, 0}, {90, 255, 64, 0}},
  };
  const uint8_t expected[3][3][4] = {
      {{10, 255, 200, 0}, {20, 0, 210, 0}, {30, 100, 220, 0}},
      {{19, 0, 2, 127}, {24, 126, 2, 127}, {15, 12, 1, 65}},
      {{17, 32, 63, 64}, {39, 0, 63, 127}, {44, 126, 31, 127}},
  };
  uint8_t topDown[3][3][4];
  std::memcpy(topDown, source, sizeof source);
  ApplyTextAlpha(&topDown[0][0][0], 12, 3, 3, 128);
  EXPECT_EQ(std::memcmp(topDown, expected, sizeof expected), 0);

  // The same image stored bottom-up, as a DIB section with a positive height.
  uint8_t bottomUp[3][3][4];
  for (int row = 0; row < 3; ++row) std::memcpy(bottomUp[2 - row], source[row], 12);
  ApplyTextAlpha(&bottomUp[2][0][0], -12, 3, 3, 128);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(std::memcmp(bottomUp[2 - row], expected[row], 12), 0) << "row " << row;
  }
}

TEST(ElementArithmetic, SourceRectRoundingAndClamp) {
  struct Case {
    const char* name;
    UiRect element, clip;
    UiSourceRect source, expected;
  };
  // clang-format off
  const Case cases[] = {
      {"unscaled", {10, 10, 20, 20}, {12, 13, 20, 20}, {5, 6, 10, 10}, {7, 9, 8, 7}},
      {"halved", {0, 0, 10, 10}, {3, 0, 10, 10}, {0, 0, 20, 20}, {6, 0, 14, 20}},
      {"halves round away from zero", {0, 0, 4, 4}, {1, 1, 2, 2}, {0, 0, 2, 2}, {1, 1, 1, 1}},
      {"rounding up is clamped at the right and bottom", {0, 0, 2, 2}, {1, 1, 2, 2}, {4, 4, 3, 3}, {5, 5, 2, 2}},
      {"size at least 1", {0, 0, 10, 10}, {8, 8, 10, 10}, {2, 2, 1, 1}, {2, 2, 1, 1}},
      {"wider than the source moves left of it", {0, 0, 3, 1}, {0, 0, 3, 1}, {9, 0, 2, 1}, {9, 0, 2, 1}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SampleSourceRect(c.element, c.clip, c.source), c.expected);
  }

  UiRect clip{-1, -1, -1, -1};
  EXPECT_TRUE(ClipToUpdate({10, 10, 30, 30}, {20, 0, 100, 15}, &clip));
  EXPECT_EQ(clip, (UiRect{20, 10, 30, 15}));
  EXPECT_FALSE(ClipToUpdate({10, 10, 30, 30}, {30, 0, 100, 100}, &clip));  // touching edges
  EXPECT_FALSE(ClipToUpdate({10, 10, 10, 30}, {0, 0, 100, 100}, &clip));   // empty element
  EXPECT_EQ(clip, (UiRect{20, 10, 30, 15}));
}

TEST(ElementArithmetic, SliceLayouts) {
  // The push button's normal look and the focus ring of the setup window.
  const MSliceSpec button =
      MakeSliceSpec(nullptr, {13, 77, 3, 33}, {16, 77, 1, 33}, {17, 77, 3, 33});
  const std::array<UiRect, 3> wide = ThreeSliceRects(button, 140, 33);
  EXPECT_EQ(wide[0], (UiRect{0, 0, 3, 33}));
  EXPECT_EQ(wide[1], (UiRect{3, 0, 137, 33}));
  EXPECT_EQ(wide[2], (UiRect{137, 0, 140, 33}));
  const std::array<UiRect, 3> narrow = ThreeSliceRects(button, 4, 33);  // narrower than its caps
  EXPECT_EQ(narrow[1], (UiRect{3, 0, 1, 33}));
  EXPECT_TRUE(narrow[1].IsEmpty());
  EXPECT_EQ(narrow[2], (UiRect{1, 0, 4, 33}));

  const MNineSliceSpec ring =
      MakeNineSliceSpec(nullptr, 13, 44, {7, 1, 7}, {7, 1, 7}, DrawMode::OpaqueCopy);
  EXPECT_EQ(ring[0].left, (UiSourceRect{13, 44, 7, 7}));
  EXPECT_EQ(ring[1].middle, (UiSourceRect{20, 51, 1, 1}));
  EXPECT_EQ(ring[2].right, (UiSourceRect{21, 52, 7, 7}));
  EXPECT_EQ(ring[2].mode, DrawMode::OpaqueCopy);
  const std::array<UiRect, 3> rows = NineSliceRowRects(ring, 25, 25);
  EXPECT_EQ(rows[0], (UiRect{0, 0, 25, 7}));
  EXPECT_EQ(rows[1], (UiRect{0, 7, 25, 18}));
  EXPECT_EQ(rows[2], (UiRect{0, 18, 25, 25}));
}

TEST(ElementArithmetic, ProgressFillEdge) {
  struct Case {
    int32_t percent, width;
    bool shown;
    int32_t stored, right;
  };
  const Case cases[] = {
      {-5, 300, false, 0, 6},     {0, 300, false, 0, 6},      {1, 300, true, 1, 11},
      {100, 300, true, 100, 299}, {101, 300, true, 100, 299}, {0, 7, false, 0, 6},
      {1, 7, true, 1, 6},         {100, 7, true, 100, 6},     {101, 7, true, 100, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.percent) + "% of " + std::to_string(c.width));
    const ProgressLayout layout = LayOutProgress(c.percent, c.width, 33);
    EXPECT_EQ(layout.showFill, c.shown);
    EXPECT_EQ(layout.percent, c.stored);
    EXPECT_EQ(layout.track, (UiRect{0, 0, c.width, 33}));
    if (c.shown) EXPECT_EQ(layout.fill, (UiRect{2, 2, c.right, 31}));
  }
}

TEST(ElementArithmetic, SizeAnimationTicks) {
  struct Case {
    int32_t from, to;
    std::vector<int32_t> steps;
  };
  const Case cases[] = {
      {100, 450, {175, 87, 44, 22, 11, 5, 3, 1, 1, 1}},
      {450, 100, {-175, -88, -44, -22, -11, -5, -3, -1, -1}},
      {100, 101, {1}},
      {100, 99, {-1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
    std::vector<int32_t> steps;
    int32_t width = c.from, height = 100;
    for (SizeTick tick = AnimateSize(width, height, c.to, 345); !tick.settled && steps.size() < 64;
         tick = AnimateSize(width, height, c.to, 345)) {
      if (tick.width != width) steps.push_back(tick.width - width);
      width = tick.width;
      height = tick.height;
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(height, 345);
  }
  EXPECT_TRUE(AnimateSize(450, 345, 450, 345).settled);
}

}  // namespace
