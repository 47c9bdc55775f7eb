#include "ui/TextMarkup.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

using Units = std::u16string_view;
constexpr size_t npos = Units::npos;

// The text as the drawing calls read it: up to its first NUL.
Units View(const MString& s) {
  const Units all(s.begin(), s.Length());
  return all.substr(0, all.find(u'\0'));
}

MString Copy(Units units) {
  char16_t* out = nullptr;
  MString copy = MString::WithLength(static_cast<uint32_t>(units.size()), &out);
  if (!units.empty()) std::memcpy(out, units.data(), units.size() * sizeof(char16_t));
  return copy;
}

// More than a line of text holds at the usual sizes; longer lines cost a few
// more measurements.
constexpr size_t kFirstMeasuredUnits = 64;

enum class ListState { None, Bullet, AfterList };

struct ParseState {
  MString target;
  TextRunKind kind = TextRunKind::Plain;
  bool bold = false;
  bool breakPending = false;
  ListState list = ListState::None;
};

// The tag name, lowered (A-Z only): up to the first space, tab, line feed or '/'.
bool NameIs(Units tag, Units name) {
  const Units raw = tag.substr(0, tag.find_first_of(u" \t\n/"));
  if (raw.size() != name.size()) return false;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char16_t unit = raw[i] >= u'A' && raw[i] <= u'Z' ? raw[i] + (u'a' - u'A') : raw[i];
    if (unit != name[i]) return false;
  }
  return true;
}

// Between the tag's first quote and the next quote of the same kind; empty
// without a closing quote.
Units QuotedTarget(Units tag) {
  const size_t open = tag.find_first_of(u"\"'");
  if (open == npos) return {};
  const size_t close = tag.find(tag[open], open + 1);
  if (close == npos) return {};
  return tag.substr(open + 1, close - open - 1);
}

void ApplyTag(Units tag, ParseState& state) {
  const bool closing = !tag.empty() && tag.front() == u'/';
  if (closing) tag.remove_prefix(1);
  if (NameIs(tag, u"a")) {
    state.target = closing ? MString() : Copy(QuotedTarget(tag));
    state.kind = closing ? TextRunKind::Plain : TextRunKind::Link;
  } else if (NameIs(tag, u"ncp")) {
    state.kind = closing ? TextRunKind::Plain : TextRunKind::CommandLink;
  } else if (NameIs(tag, u"strong")) {
    state.bold = !closing;
  } else if (NameIs(tag, u"br")) {
    state.breakPending = true;
  } else if (NameIs(tag, u"li")) {
    if (!closing) {
      state.breakPending = true;
      state.list = ListState::Bullet;
    }
  } else if (NameIs(tag, u"ul")) {
    if (closing) {
      state.breakPending = true;
      state.list = ListState::AfterList;
    }
  }
}

int32_t AddClamped(int32_t a, int32_t b) {
  const int64_t sum = int64_t{a} + b;
  return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The fitting count of `text` in `room` pixels, measuring a window of its
// first units that doubles while everything in it fits.
size_t MeasureFit(Units text, const TextRun& run, int32_t room, TextPainter& painter,
                  std::vector<int32_t>& widths) {
  size_t window = std::min<size_t>(text.size(), kFirstMeasuredUnits);
  for (;;) {
    widths.assign(window, 0);
    const size_t fit =
        std::min(painter.Measure(text.substr(0, window), run, room, widths.data()), window);
    if (fit < window || window == text.size()) return fit;
    window = std::min(text.size(), window * 2);
  }
}

}  // namespace

std::vector<TextRun> MakeTextRuns(const MString& text, bool markup, bool bold) {
  std::vector<TextRun> runs;
  Units rest = View(text);
  if (!markup) {
    TextRun run;
    run.text = Copy(rest);
    run.bold = bold;
    runs.push_back(std::move(run));
    return runs;
  }
  ParseState state;
  while (!rest.empty()) {
    const size_t stop = rest.find_first_of(u"<\n");
    const Units runText = rest.substr(0, stop);
    Units tag;
    bool hasTag = false;
    if (stop == npos) {
      rest = {};
    } else if (rest[stop] == u'\n') {
      state.breakPending = true;
      rest.remove_prefix(stop + 1);
    } else {
      rest.remove_prefix(stop + 1);
      const size_t close = rest.find(u'>');
      tag = rest.substr(0, close);
      hasTag = true;
      rest.remove_prefix(close == npos ? rest.size() : close + 1);
    }

    if (!runText.empty() || state.breakPending) {
      TextRun run;
      run.text = Copy(runText);
      run.target = state.target;
      run.kind = state.kind;
      run.bold = state.bold;
      run.lineBreak = state.breakPending;
      runs.push_back(std::move(run));
      state.breakPending = false;
    }
    if (state.list != ListState::None && !runs.empty()) {
      if (state.list == ListState::Bullet) runs.back().text = u"\u2022 "_ms + runs.back().text;
      runs.back().spaceAbove = 8;
      state.list = ListState::None;
    }
    if (hasTag) ApplyTag(tag, state);
  }
  return runs;
}

int32_t LayOutTextRuns(const std::vector<TextRun>& runs, int32_t width, TextPainter& painter) {
  if (runs.empty()) return 0;
  int32_t lines = 1, x = 0, y = 0, lineHeight = 0;
  bool wrapPending = false;
  std::vector<int32_t> widths;
  for (const TextRun& run : runs) {
    Units rest = View(run.text);
    do {
      if (wrapPending || run.lineBreak) {
        ++lines;
        y = AddClamped(y, lineHeight);
        x = 0;
      }
      wrapPending = false;
      y = AddClamped(y, run.spaceAbove);
      const int32_t room = width - x;  // x stays within 0..width
      if (room < 1) return lines;

      // An empty run is drawn too: it gives its line a height.
      const size_t fit = rest.empty() ? 0 : MeasureFit(rest, run, room, painter, widths);
      if (!rest.empty() && fit == 0) {
        // Nothing fits: try again on a new line, unless this line was new.
        if (x == 0) break;
        wrapPending = true;
        continue;
      }
      size_t count = fit;
      if (fit < rest.size()) {
        const size_t space = rest.substr(0, fit).rfind(u' ');
        if (space != npos && space > 0) count = space;
      }
      const int32_t pieceWidth = count == 0 ? 0 : std::clamp(widths[count - 1], 0, room);
      lineHeight = painter.Draw(rest.substr(0, count), run, x, y, pieceWidth);
      x += pieceWidth;
      wrapPending = count < rest.size();
      rest.remove_prefix(count);
      rest.remove_prefix(std::min(rest.find_first_not_of(u' '), rest.size()));
    } while (!rest.empty());
  }
  return lines;
}

void ApplyTextAlpha(uint8_t* topRow, ptrdiff_t rowStep, int32_t width, int32_t height,
                    uint8_t constantAlpha) {
  // Bottom up, so each row reads the green of the row above before that row changes.
  for (int32_t row = height - 1; row >= 1; --row) {
    uint8_t* pixel = topRow + row * rowStep;
    const uint8_t* above = pixel - rowStep;
    for (int32_t column = 0; column < width; ++column, pixel += 4, above += 4) {
      const uint32_t g = pixel[1];
      // No green here or above: alpha 0 clears the pixel. Most of a text
      // image is such background, and skipping it keeps Render cheap.
      if (g == 0 && above[1] == 0) {
        std::memset(pixel, 0, 4);
        continue;
      }
      const uint32_t alpha = ((g + ((above[1] * (255 - g)) >> 8)) * constantAlpha) >> 8;
      pixel[0] = static_cast<uint8_t>((pixel[0] * alpha) >> 8);
      pixel[1] = static_cast<uint8_t>((g * alpha) >> 8);
      pixel[2] = static_cast<uint8_t>((pixel[2] * alpha) >> 8);
      pixel[3] = static_cast<uint8_t>(alpha);
    }
  }
}
