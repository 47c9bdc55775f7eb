#include "ui/ElementGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int32_t Clamp32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int64_t Round(float value) {
  // Beyond 2^62 nothing is meaningful; the bound keeps the conversion defined.
  constexpr float kLimit = 4.6e18f;
  return std::llround(std::clamp(value, -kLimit, kLimit));
}

}  // namespace

MSliceSpec MakeSliceSpec(MSkinImage* image, UiSourceRect left, UiSourceRect middle,
                         UiSourceRect right, DrawMode mode) {
  return MSliceSpec{image, left, middle, right, mode};
}

MNineSliceSpec MakeNineSliceSpec(MSkinImage* image, int32_t x, int32_t y,
                                 std::array<int32_t, 3> columnWidths,
                                 std::array<int32_t, 3> rowHeights, DrawMode mode) {
  MNineSliceSpec rows;
  const int32_t columns[3] = {x, x + columnWidths[0], x + columnWidths[0] + columnWidths[1]};
  int32_t top = y;
  for (size_t r = 0; r < 3; ++r) {
    const int32_t h = rowHeights[r];
    rows[r] = MSliceSpec{image,
                         {columns[0], top, columnWidths[0], h},
                         {columns[1], top, columnWidths[1], h},
                         {columns[2], top, columnWidths[2], h},
                         mode};
    top += h;
  }
  return rows;
}

std::array<UiRect, 3> ThreeSliceRects(const MSliceSpec& spec, int32_t width, int32_t height) {
  const UiRect left{0, 0, spec.left.width, height};
  const UiRect right{width - spec.right.width, 0, width, height};
  return {left, UiRect{left.right, 0, right.left, height}, right};
}

std::array<UiRect, 3> NineSliceRowRects(const MNineSliceSpec& spec, int32_t width, int32_t height) {
  const int32_t top = spec[0].left.height;
  const int32_t bottom = height - spec[2].left.height;
  return {UiRect{0, 0, width, top}, UiRect{0, top, width, bottom},
          UiRect{0, bottom, width, height}};
}

bool ClipToUpdate(const UiRect& element, const UiRect& update, UiRect* clip) {
  const UiRect overlap{std::max(element.left, update.left), std::max(element.top, update.top),
                       std::min(element.right, update.right),
                       std::min(element.bottom, update.bottom)};
  if (overlap.IsEmpty()) return false;
  *clip = overlap;
  return true;
}

UiSourceRect SampleSourceRect(const UiRect& element, const UiRect& clip,
                              const UiSourceRect& source) {
  if (element.IsEmpty()) return source;  // never painted: ClipToUpdate refuses it
  const float sx = static_cast<float>(source.width) / static_cast<float>(element.Width());
  const float sy = static_cast<float>(source.height) / static_cast<float>(element.Height());
  int64_t x = Round(static_cast<float>(int64_t{clip.left} - element.left) * sx) + source.x;
  int64_t y = Round(static_cast<float>(int64_t{clip.top} - element.top) * sy) + source.y;
  const int64_t w = std::max<int64_t>(1, Round(static_cast<float>(clip.Width()) * sx));
  const int64_t h = std::max<int64_t>(1, Round(static_cast<float>(clip.Height()) * sy));
  const int64_t sourceRight = int64_t{source.x} + source.width;
  const int64_t sourceBottom = int64_t{source.y} + source.height;
  if (x + w > sourceRight) x = sourceRight - w;
  if (y + h > sourceBottom) y = sourceBottom - h;
  return UiSourceRect{Clamp32(x), Clamp32(y), Clamp32(w), Clamp32(h)};
}

ProgressLayout LayOutProgress(int32_t percent, int32_t width, int32_t height) {
  ProgressLayout layout;
  layout.showFill = percent >= 1;
  layout.percent = layout.showFill ? std::min(percent, 100) : 0;
  layout.track = UiRect{0, 0, width, height};
  const int64_t reach = (int64_t{width} - 7) * (layout.percent + 1) / 101;
  layout.fill = UiRect{2, 2, Clamp32(2 + 4 + reach), 31};
  return layout;
}

int32_t SizeAnimationStep(int32_t distance) {
  return distance == 1 ? 1 : distance >> 1;
}

SizeTick AnimateSize(int32_t width, int32_t height, int32_t targetWidth, int32_t targetHeight) {
  const int64_t dw = int64_t{targetWidth} - width, dh = int64_t{targetHeight} - height;
  if (dw == 0 && dh == 0) return SizeTick{width, height, true};
  const int32_t stepW = SizeAnimationStep(Clamp32(dw)), stepH = SizeAnimationStep(Clamp32(dh));
  return SizeTick{Clamp32(int64_t{width} + stepW), Clamp32(int64_t{height} + stepH), false};
}
