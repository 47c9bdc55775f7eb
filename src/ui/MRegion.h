// The setup window's elements: lightweight regions without native windows,
// kept as a tree (siblings in a doubly linked list, a parent pointing at its
// first child), painted by the window into its back buffer and given mouse
// input by the window's dispatch. Elements that take keyboard focus carry a
// native proxy window ("BUTTON", owner-drawn, never drawing) for focus, tab
// order and accessibility.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>

#include "foundation/MString.h"
#include "ui/ElementGeometry.h"

class MWindow;
struct MRegion;

// Sibling links: the MLink parts of the neighbouring siblings.
struct MLink {
  MLink* previous = nullptr;
  MLink* next = nullptr;
};

// Called for mouse and timer messages (512 move, 513 button down, 514 button
// up, 275 timer) with the point in the element's own coordinates; `inside`
// is 1 when the point lies strictly inside. Returns whether it handled it.
using ElementHandler = bool (*)(MRegion* element, MWindow* window, POINT point, int inside,
                                UINT message, void* context);

enum : uint8_t {
  kDrawModeMask = 0x03,
  kHasProxyWindow = 0x40,
};

struct MRegion : MLink {
  UiRect rect;                // relative to the parent (root: the client area)
  MWindow* window = nullptr;  // set while in a window's tree
  MRegion* parent = nullptr;
  MRegion* firstChild = nullptr;
  UiSourceRect source;          // inside the image
  uintptr_t imageOrColour = 0;  // MSkinImage* (modes 1, 2) or COLORREF (mode 0); 0 draws nothing
  ElementHandler handler = nullptr;
  void* handlerContext = nullptr;
  int32_t id = 0;  // 0 decoration; at least 1 focusable and reporting events
  UiRect clip;     // written by the painter
  uint8_t flags = static_cast<uint8_t>(DrawMode::AlphaBlend);
  uint8_t alpha = 255;
  uint8_t visible = 1;
  uint8_t enabled = 1;
  HWND proxy = nullptr;
  MString text;
  IUnknown* accessible = nullptr;  // its MAccProxyObject, one reference held

  DrawMode Mode() const { return static_cast<DrawMode>(flags & kDrawModeMask); }
  void SetMode(DrawMode mode) {
    flags = static_cast<uint8_t>((flags & ~kDrawModeMask) | static_cast<uint8_t>(mode));
  }
  bool HasProxyFlag() const { return (flags & kHasProxyWindow) != 0; }
  void SetProxyFlag() { flags |= kHasProxyWindow; }
  void SetImage(struct MSkinImage* image) { imageOrColour = reinterpret_cast<uintptr_t>(image); }
  MSkinImage* Image() const { return reinterpret_cast<MSkinImage*>(imageOrColour); }
  void SetColour(COLORREF colour) { imageOrColour = colour; }
  int32_t Width() const { return rect.Width(); }
  int32_t Height() const { return rect.Height(); }

  static MRegion* FromLink(MLink* link) { return static_cast<MRegion*>(link); }
  MRegion* NextSibling() const { return next != nullptr ? FromLink(next) : nullptr; }
};

// An element with a layout. The base class lays nothing out.
class MSkinnedSection : public MRegion {
 public:
  MSkinnedSection() = default;
  MSkinnedSection(const MSkinnedSection&) = delete;
  MSkinnedSection& operator=(const MSkinnedSection&) = delete;
  // Leaves the tree it is in and destroys its proxy window.
  virtual ~MSkinnedSection();
  virtual void Layout() {}
};

// Left cap, stretched middle and right cap of one slice spec.
class MScale3Section : public MSkinnedSection {
 public:
  MScale3Section(MWindow* window, const MSliceSpec* spec);
  ~MScale3Section() override;
  void Layout() override;

  // The look drawn: the slices take its image, regions and mode at Layout.
  void SetSpec(const MSliceSpec* spec);
  const MSliceSpec* Spec() const { return spec_; }
  MSkinnedSection& Slice(int i) { return slices_[i]; }

 protected:
  const MSliceSpec* spec_;
  MSkinnedSection slices_[3];
  MWindow* owner_;
};

// Three rows of three slices (a nine-slice description).
class MScale9Section : public MSkinnedSection {
 public:
  MScale9Section(MWindow* window, const MNineSliceSpec* spec);
  ~MScale9Section() override;
  void Layout() override;
  MScale3Section& Row(int i) { return *rows_[i]; }

 private:
  const MNineSliceSpec* spec_;
  MScale3Section* rows_[3];
};

// Tree operations. A null parent means the window's root list.
void AddChild(MRegion* parent, MRegion* child);
void AddRootElement(MWindow* window, MRegion* child);
void RemoveChild(MRegion* parent, MRegion* child);
void RemoveRootElement(MWindow* window, MRegion* child);
void SetVisible(MRegion* element, bool on);
void SetEnabled(MRegion* element, bool on);
void InvalidateElement(MWindow* window, const MRegion* element);
void SetElementText(MRegion* element, const MString& text);
// Moves the proxy window onto the element's absolute rect without repainting.
void RepositionProxy(MRegion* element);
void CaptureMouse(MRegion* element);
void ReleaseMouse(MRegion* element);
// 0 arrow, 1 hand.
void SetCursorState(MWindow* window, int state);

// The element's rect offset by its ancestors' left/top.
UiRect AbsoluteRect(const MRegion* element);
void SetRect(MRegion* element, int32_t left, int32_t top, int32_t right, int32_t bottom);
void SetRectXYWH(MRegion* element, int32_t x, int32_t y, int32_t width, int32_t height);
void MoveRect(MRegion* element, int32_t left, int32_t top);
void OffsetRect(MRegion* element, POINT by);

// The global atom naming the proxy property that carries that object.
ATOM AccessiblePropertyAtom();
