// The text element's content without the system: the small mark-up its
// texts are written in (the update server sends some of them), the runs the
// mark-up becomes, the walk that lays runs out in lines over a measuring
// and drawing callback, and the alpha pass that turns drawn glyphs into a
// premultiplied image with a one-pixel shadow.
//
// The mark-up: "<a 'target'>", "</a>", "<ncp>", "</ncp>", "<strong>",
// "</strong>", "<br>", "<li>", "</ul>" and line feeds. Tag names are
// compared after lowering A-Z; other tags and other attributes are ignored.
// Every function here reads its text once from the front and never past its
// end, so text of any shape (unclosed tags, unpaired quotes, NULs) costs
// time in proportion to its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "foundation/MString.h"

enum class TextRunKind : uint8_t { Plain = 0, Link = 1, CommandLink = 2 };

struct TextRun {
  MString text;
  MString target;  // the link target of "a"; kept unchanged by "ncp"
  TextRunKind kind = TextRunKind::Plain;
  bool lineBreak = false;  // the run starts a new line
  bool bold = false;
  int32_t spaceAbove = 0;  // pixels
  uint32_t colour = 0xFFFFFF;
};

// An "a" run without a target draws as plain text and makes no link element.
inline bool IsLinkRun(const TextRun& run) {
  return run.kind == TextRunKind::CommandLink ||
         (run.kind == TextRunKind::Link && !run.target.IsEmpty());
}

// The runs of a text area's text: with mark-up off one run holding the whole
// text with the area's bold flag; with mark-up on the parsed runs. The text
// ends at its first NUL, as the drawing calls read it.
//
// Parsing: the text up to the next "<" or line feed is a run (made when it
// is not empty or a line break is pending). A line feed sets the pending
// break before that run is made, so the break lands in front of the text
// before the line feed. A tag runs to the next ">" or to the end of the
// text. The "a" target is what lies between the tag's first quote (' or ")
// and the next quote of the same kind; no closing quote means no target. A
// "<li>" item's run gets a bullet ("\u2022 ") and 8 pixels above it; so does
// the run after "</ul>", without the bullet.
std::vector<TextRun> MakeTextRuns(const MString& text, bool markup, bool bold);

// What the Win32 layer supplies to the layout walk: its text area's fonts,
// DIB and link elements.
class TextPainter {
 public:
  // The number of leading units of `text` that fit in `room` pixels with
  // the run's font, and in widths[i] the width of the first i + 1 of them
  // (GetTextExtentExPointW's fit count and partial extents; `widths` has
  // room for text.size() values).
  virtual size_t Measure(std::u16string_view text, const TextRun& run, int32_t room,
                         int32_t* widths) = 0;
  // Draws `piece` of `run` with its top-left corner at (x, y) of the area
  // (the area adds its vertical offset) and returns the line height
  // (DrawTextW with DT_SINGLELINE | DT_NOCLIP, in white, or in the link
  // colour when IsLinkRun). `width` is the piece's measured width: a link
  // run gets its link element and underline on (x, y, x + width, y + line
  // height). An empty run arrives as an empty piece, so that its line gets
  // a height.
  virtual int32_t Draw(std::u16string_view piece, const TextRun& run, int32_t x, int32_t y,
                       int32_t width) = 0;

 protected:
  ~TextPainter() = default;
};

// Lays the runs out in lines `width` pixels wide and returns the number of
// lines (0 without runs). A run with a line break, or the rest of a run that
// did not fit, starts a new line; a run's space above is added before each
// of its pieces. A piece that does not fit ends at the last space before the
// fitting count (a space at index 0 does not count), or at the fitting count
// when there is none; spaces after a piece are dropped. Running out of room
// (less than one pixel left) ends the layout. A piece of which nothing fits
// moves to the next line; when nothing fits a whole line either, the rest of
// the run is dropped and the layout goes on with the next run.
//
// Each line measures the first 64 units of the rest, doubled while all of
// them fit, so a long run costs time in proportion to its length rather
// than to its length times its lines.
int32_t LayOutTextRuns(const std::vector<TextRun>& runs, int32_t width, TextPainter& painter);

// The alpha pass over a drawn text image of `width` x `height` pixels
// (blue, green, red, alpha bytes). `topRow` points at the image's top row
// and `rowStep` is the byte distance from one row to the row below it
// (negative for a bottom-up DIB). From the bottom row up to row 1, with g a
// pixel's green and g' the green of the pixel above it:
//   alpha = ((g + (g' * (255 - g) >> 8)) * constantAlpha) >> 8,
// and blue, green and red become value * alpha >> 8. The glyphs keep their
// colour and each glyph pixel darkens the pixel below it. The top row is not
// touched (its alpha stays as cleared).
void ApplyTextAlpha(uint8_t* topRow, ptrdiff_t rowStep, int32_t width, int32_t height,
                    uint8_t constantAlpha);
