// Text-area mark-up as the update server may send it, read as little-endian
// UTF-16 (an odd last byte is dropped): the parse, then the line layout at a
// width taken from the input over a fixed-width painter. Each run must come
// from the text, and the layout must stay inside its width and measure in
// proportion to the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/TextMarkup.h"
#include "FuzzSupport.h"

namespace {

// Units are 7 pixels wide, 'W' 19; lines are 15 high.
class FixedPainter : public TextPainter {
 public:
  explicit FixedPainter(int32_t width) : width_(width) {}

  size_t Measure(std::u16string_view text, const TextRun&, int32_t room, int32_t* widths) override {
    Check(room >= 1 && room <= width_);
    measured += text.size();
    int32_t total = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      total += text[i] == u'W' ? 19 : 7;
      if (total > room) return i;
      widths[i] = total;
    }
    return text.size();
  }
  int32_t Draw(std::u16string_view piece, const TextRun& run, int32_t x, int32_t,
               int32_t width) override {
    Check(x >= 0 && width >= 0 && x + width <= width_);
    Check(piece.size() <= run.text.Length());
    drawn += piece.size();
    ++pieces;
    return 15;
  }

  size_t measured = 0, drawn = 0, pieces = 0;

 private:
  int32_t width_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t width = data[0] | ((data[1] & 0x03) << 8);  // 0 to 1023 pixels
  const MString text = Units(data + 2, size - 2);

  const std::vector<TextRun> runs = MakeTextRuns(text, true, false);
  size_t units = 0;
  for (const TextRun& run : runs) {
    // A run has text or starts a line; a bullet adds two units to its text.
    Check(!run.text.IsEmpty() || run.lineBreak);
    Check(run.text.Length() <= text.Length() + 2);
    Check(run.kind != TextRunKind::Link || IsLinkRun(run) == !run.target.IsEmpty());
    units += run.text.Length();
  }
  Check(runs.size() <= text.Length());

  FixedPainter painter(width);
  const int32_t lines = LayOutTextRuns(runs, width, painter);
  Check(runs.empty() ? lines == 0 : lines >= 1);
  Check(painter.drawn <= units);
  Check(painter.measured <= 8 * units + 256 * (painter.pieces + runs.size() + 1));
  return 0;
}
