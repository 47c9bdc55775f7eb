// A small PNG writer for screenshots: 8-bit RGB or RGBA, deflate in stored
// blocks (no compression), so that no library is needed. Pixels come top
// row first as blue, green, red and alpha or unused (a 32-bit DIB read
// top-down). Also the client area of a window, read back with BitBlt.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace png {

inline uint32_t Crc(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void Chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  Put32(out, Crc(body.data(), body.size()));
}

// The PNG bytes of a width x height picture of BGRX (or, with `alpha`,
// BGRA) pixels, top row first.
inline std::vector<uint8_t> Encode(const uint8_t* bgrx, uint32_t width, uint32_t height,
                                   bool alpha = false) {
  const uint32_t channels = alpha ? 4 : 3;
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(height) * (width * channels + 1));
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    const uint8_t* row = bgrx + static_cast<size_t>(y) * width * 4;
    for (uint32_t x = 0; x < width; ++x) {
      raw.push_back(row[x * 4 + 2]);
      raw.push_back(row[x * 4 + 1]);
      raw.push_back(row[x * 4 + 0]);
      if (alpha) raw.push_back(row[x * 4 + 3]);
    }
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  Put32(z, (b << 16) | a);

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Put32(header, width);
  Put32(header, height);
  header.insert(header.end(), {8, static_cast<uint8_t>(alpha ? 6 : 2), 0, 0, 0});  // RGB(A)
  Chunk(out, "IHDR", header);
  Chunk(out, "IDAT", z);
  Chunk(out, "IEND", {});
  return out;
}

inline bool Write(const std::wstring& path, const uint8_t* bgrx, uint32_t width, uint32_t height,
                  bool alpha = false) {
  const std::vector<uint8_t> bytes = Encode(bgrx, width, height, alpha);
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// The client area of `window` as the screen shows it, child windows
// included (a BitBlt of its DC): 32-bit pixels, top row first; empty when
// it cannot be read.
inline std::vector<uint32_t> ReadClient(HWND window, int* width, int* height) {
  std::vector<uint32_t> pixels;
  RECT client{};
  *width = *height = 0;
  if (window == nullptr || !GetClientRect(window, &client)) return pixels;
  if (client.right <= 0 || client.bottom <= 0) return pixels;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = client.right;
  info.bmiHeader.biHeight = -client.bottom;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC windowDc = GetDC(window);
  HDC memory = CreateCompatibleDC(windowDc);
  HBITMAP dib = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (memory != nullptr && dib != nullptr) {
    HGDIOBJ old = SelectObject(memory, dib);
    if (BitBlt(memory, 0, 0, client.right, client.bottom, windowDc, 0, 0, SRCCOPY)) {
      GdiFlush();
      const auto* first = static_cast<const uint32_t*>(bits);
      pixels.assign(first, first + static_cast<size_t>(client.right) * client.bottom);
      *width = client.right;
      *height = client.bottom;
    }
    SelectObject(memory, old);
  }
  if (dib != nullptr) DeleteObject(dib);
  if (memory != nullptr) DeleteDC(memory);
  ReleaseDC(window, windowDc);
  return pixels;
}

// The client area written as a PNG.
inline bool WriteClient(HWND window, const std::wstring& path) {
  int width = 0, height = 0;
  const std::vector<uint32_t> pixels = ReadClient(window, &width, &height);
  return !pixels.empty() && Write(path, reinterpret_cast<const uint8_t*>(pixels.data()),
                                  static_cast<uint32_t>(width), static_cast<uint32_t>(height));
}

}  // namespace png
