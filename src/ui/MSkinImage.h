// A decoded skin sheet: a memory DC compatible with the window's DC holding
// a 32-bit bottom-up DIB section of premultiplied pixels. The painter uses
// only the DC.
#pragma once

#include <windows.h>

#include <cstdint>

class MWindow;

struct MSkinImage {
  MSkinImage() = default;
  MSkinImage(const MSkinImage&) = delete;
  MSkinImage& operator=(const MSkinImage&) = delete;
  ~MSkinImage() { Reset(); }
  // Deletes the DC and the DIB; the image is then unset.
  void Reset();
  bool IsSet() const { return dc != nullptr; }

  HDC dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ replaced = nullptr;  // the DC's own bitmap while the DIB is selected
  uint8_t* bits = nullptr;     // bottom row first, 4 bytes a pixel
  int32_t width = 0, height = 0;
};

// A 32-bit BI_RGB DIB section of width x height for `dc`, rows bottom-up
// (a positive height); its pixels through `bits`. Null when it cannot be made.
HBITMAP CreateDib32(HDC dc, int32_t width, int32_t height, void** bits);

// Loads resource `id` of type "IMG" (compressed 0) or "LZMG" (compressed 1,
// expanded by the host's slot 8) from the toolkit's module into `image`.
// False, with the image unset, when the resource is missing or refused.
//
// An "LZMG" resource starts with the expanded size (32-bit little-endian),
// followed by the data the host expands.
bool LoadSkinImage(MWindow* window, MSkinImage* image, int32_t id, int compressed);
