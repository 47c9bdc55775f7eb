// The window toolkit's arithmetic without the system: element rects, the
// part of a skin image an element samples when painted, the slice
// descriptions and the rects of three- and nine-slice sections, the
// progress bar's fill, and the step of the window's size animation. The
// Win32 layer keeps these values in its elements and passes them to
// FillRect, StretchBlt, AlphaBlend and MoveWindow as they are.
#pragma once

#include <array>
#include <cstdint>

// The Win32 layer's skin image (a memory DC holding the decoded DIB); the
// arithmetic only carries it along.
struct MSkinImage;

// Left, top, right, bottom: relative to the parent element (or the client
// area for a root element), or absolute where a function says so.
struct UiRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;

  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  friend bool operator==(const UiRect&, const UiRect&) = default;
};

// A region of a skin image: x, y, width, height.
struct UiSourceRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const UiSourceRect&, const UiSourceRect&) = default;
};

// An element's draw mode (bits 0-1 of its flags byte).
enum class DrawMode : uint8_t { SolidFill = 0, OpaqueCopy = 1, AlphaBlend = 2 };

// A three-slice look: the left cap, middle and right cap regions of one
// image, drawn in one mode. A nine-slice look is three of these in a row
// (top, middle, bottom).
struct MSliceSpec {
  MSkinImage* image = nullptr;
  UiSourceRect left, middle, right;
  DrawMode mode = DrawMode::AlphaBlend;
};
using MNineSliceSpec = std::array<MSliceSpec, 3>;

// A one-slice look (check boxes, radio buttons): the left cap only.
MSliceSpec MakeSliceSpec(MSkinImage* image, UiSourceRect left, UiSourceRect middle = {},
                         UiSourceRect right = {}, DrawMode mode = DrawMode::AlphaBlend);

// Rows start at y, y + top height and y + top height + middle height, with
// their heights; columns at x, x + left width and x + left width + middle
// width, with their widths. All rows share the image and mode.
MNineSliceSpec MakeNineSliceSpec(MSkinImage* image, int32_t x, int32_t y,
                                 std::array<int32_t, 3> columnWidths,
                                 std::array<int32_t, 3> rowHeights, DrawMode mode);

// The left cap, middle and right cap rects of a three-slice section of
// `width` x `height`: the caps keep their source widths, the middle takes
// what lies between them. A section narrower than its caps gets a middle
// with right < left, which paints nothing.
std::array<UiRect, 3> ThreeSliceRects(const MSliceSpec& spec, int32_t width, int32_t height);

// The top, middle and bottom row rects of a nine-slice section: the top and
// bottom rows keep the source heights of their left caps.
std::array<UiRect, 3> NineSliceRowRects(const MNineSliceSpec& spec, int32_t width, int32_t height);

// Painting one element: `element` is its absolute rect, `update` the paint's
// update rect. False when they do not overlap (the element is not drawn);
// otherwise `clip` gets the overlap, which the painter stores as the
// element's clip rect and draws to at (clip - update origin) in the back
// buffer.
bool ClipToUpdate(const UiRect& element, const UiRect& update, UiRect* clip);

// The region of the element's image that the clip rect shows. The scale
// factors are source size / element size in single precision; offsets and
// sizes are rounded to the nearest integer (halves away from zero), sizes
// are at least 1, and a region passing the source's right or bottom edge is
// moved back inside it.
UiSourceRect SampleSourceRect(const UiRect& element, const UiRect& clip,
                              const UiSourceRect& source);

// The progress bar's children for a percentage and the bar's size: the
// track covers the bar; the fill is shown from 1 % (capped at 100 %) and
// reaches one pixel short of the right edge at 100 %.
struct ProgressLayout {
  int32_t percent = 0;  // as stored: 0 below 1 %, at most 100
  bool showFill = false;
  UiRect track, fill;
};
ProgressLayout LayOutProgress(int32_t percent, int32_t width, int32_t height);

// One timer tick of the window's size animation along one axis: half the
// remaining distance, rounded towards minus infinity, and 1 for 1 (so -1
// stays -1 and both directions arrive).
int32_t SizeAnimationStep(int32_t distance);

// The client size after one tick. `settled` when current already equals
// target (the window then reports size settled and resizes nothing).
struct SizeTick {
  int32_t width = 0, height = 0;
  bool settled = false;
};
SizeTick AnimateSize(int32_t width, int32_t height, int32_t targetWidth, int32_t targetHeight);
