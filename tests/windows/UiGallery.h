// A setup window holding every control look, for the toolkit's tests and
// benchmark: the skins loaded from GlintUtil.dll, a focus ring like the
// installer window's, event recording, and the client area read back with
// BitBlt.
#pragma once

#include <windows.h>

#include <vector>

#include "ui/Controls.h"
#include "ui/MSkinImage.h"
#include "ui/MWindow.h"
#include "ui/ZavuzER.h"

struct UiEvent {
  int32_t source, kind;
  intptr_t value;
};

// The client area (or a part of it) as 32-bit pixels, top row first.
struct ClientPixels {
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB as BitBlt leaves them (alpha unspecified)
  uint32_t At(int32_t x, int32_t y) const { return pixels[y * width + x] & 0xFFFFFF; }
};
ClientPixels ReadClient(HWND hwnd);
// Dispatches every pending message of this thread (painting included).
void PumpMessages();

class GalleryWindow final : public MWindow {
 public:
  explicit GalleryWindow(ZavuzER* ui);
  ~GalleryWindow() override;

  bool OnEvent(int32_t source, int32_t kind, intptr_t value) override;
  bool SetFocusElement(MRegion* element, bool showRing) override;

  // Control events and host events (sources other than the window's own).
  std::vector<UiEvent> events;
  int settledEvents = 0;
  MSkinImage skin161, skin164;
  MNineSliceSpec ringSpec;
  MScale9Section* ring = nullptr;
  // Owned elements of the gallery, deleted in reverse order.
  std::vector<MSkinnedSection*> owned;

  // Builds every look at fixed places of a 730 x 345 client area.
  void Build();
  // Sets the element's rect, adds it as a root element and lays it out.
  void Place(MSkinnedSection* element, int32_t x, int32_t y, int32_t w, int32_t h);
  template <typename T>
  T* Own(T* element) {
    owned.push_back(element);
    return element;
  }

  MButton* buttons[4] = {};  // normal, hover, pressed, disabled
  MCheckboxButton* boxes[2] = {};
  MRadioButton* radios[2] = {};
  MRadioGroup radioGroup;
  MTextArea* paragraph = nullptr;
  MTooltipArea* tooltip = nullptr;
  MSliceSpec trackSpec, fillSpec;
};
