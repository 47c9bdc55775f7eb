#include "ui/MSkinImage.h"

#include <memory>
#include <new>

#include "engine/HostCallbacks.h"
#include "ui/MWindow.h"
#include "ui/TargaImage.h"
#include "ui/ZavuzER.h"

void MSkinImage::Reset() {
  if (dc != nullptr) {
    if (replaced != nullptr) SelectObject(dc, replaced);
    DeleteDC(dc);
  }
  if (dib != nullptr) DeleteObject(dib);
  dc = nullptr;
  dib = nullptr;
  replaced = nullptr;
  bits = nullptr;
  width = height = 0;
}

namespace {

// The resource's bytes, valid as long as the module is loaded.
bool FindSkinResource(HMODULE module, int32_t id, bool compressed, const uint8_t** data,
                      DWORD* size) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), compressed ? L"LZMG" : L"IMG");
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  *size = SizeofResource(module, found);
  *data = loaded != nullptr ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  return *data != nullptr;
}

// The pixels into a new DIB section selected into the image's DC.
bool DecodeInto(MSkinImage* image, const uint8_t* data, size_t size) {
  TargaHeader header;
  if (ReadTargaHeader(data, size, &header) != TargaStatus::Ok) return false;
  void* bits = nullptr;  // bottom-up, as Targa stores its rows
  image->dib = CreateDib32(image->dc, static_cast<int32_t>(header.width),
                           static_cast<int32_t>(header.height), &bits);
  if (image->dib == nullptr || bits == nullptr) return false;
  if (DecodeTargaPixels(data, size, header, static_cast<uint8_t*>(bits)) != TargaStatus::Ok) {
    return false;
  }
  image->bits = static_cast<uint8_t*>(bits);
  image->width = static_cast<int32_t>(header.width);
  image->height = static_cast<int32_t>(header.height);
  image->replaced = SelectObject(image->dc, image->dib);
  return true;
}

}  // namespace

bool LoadSkinImage(MWindow* window, MSkinImage* image, int32_t id, int compressed) {
  if (image == nullptr) return false;
  image->Reset();
  if (window == nullptr || (compressed != 0 && compressed != 1)) return false;
  ZavuzER* ui = window->Ui();
  const uint8_t* data = nullptr;
  DWORD size = 0;
  if (!FindSkinResource(ui->Module(), id, compressed == 1, &data, &size)) return false;

  HDC windowDc = GetDC(window->Handle());
  image->dc = CreateCompatibleDC(windowDc);
  ReleaseDC(window->Handle(), windowDc);
  if (image->dc == nullptr) return false;

  std::unique_ptr<uint8_t[]> expanded;
  if (compressed == 1) {
    uint32_t expandedSize = 0;
    if (size < 4 || ui->Host() == nullptr) {
      image->Reset();
      return false;
    }
    expandedSize = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                   static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    if (expandedSize > kTargaHeaderBytes + kTargaMaxPixelBytes) {
      image->Reset();
      return false;
    }
    expanded.reset(new (std::nothrow) uint8_t[expandedSize == 0 ? 1 : expandedSize]);
    if (expanded == nullptr ||
        !ui->Host()->ExpandImage(expanded.get(), expandedSize, data + 4, size - 4)) {
      image->Reset();
      return false;
    }
    data = expanded.get();
    size = expandedSize;
  }
  if (!DecodeInto(image, data, size)) {
    image->Reset();
    return false;
  }
  return true;
}

HBITMAP CreateDib32(HDC dc, int32_t width, int32_t height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  *bits = nullptr;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}
