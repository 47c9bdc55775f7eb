// The setup window's drawing beside the system calls it is made of: a full
// repaint of the gallery window (every control look, about 40 elements)
// beside one AlphaBlend and one BitBlt of the same size, and a text area's
// Render of a 10-line mark-up paragraph beside DrawTextW with DT_WORDBREAK
// of the same plain text into the same DIB.
#include <windows.h>

#include <cstdio>

#include "BenchHarness.h"
#include "GlintLibrary.h"
#include "ReferenceHost.h"
#include "UiGallery.h"

namespace {

constexpr char16_t kParagraph[] =
    u"The installer <strong>needs</strong> your attention before it can go on.<br>"
    u"Read the license <a href='glinttest:license'>here</a> or open the <ncp>settings</ncp> "
    u"to change how updates arrive.<li>Close every browser window<li>Close the settings "
    u"manager</ul>Security updates and enhancements are periodically released and can be "
    u"downloaded and installed automatically. Please restart your browser."
    u"";

// The paragraph without its tags, as plain text for the anchor.
std::wstring PlainText(const char16_t* markup) {
  std::wstring text;
  bool inTag = false;
  for (const char16_t* p = markup; *p != 0; ++p) {
    if (*p == u'<') inTag = true;
    if (!inTag) text += static_cast<wchar_t>(*p);
    if (*p == u'>') inTag = false;
  }
  return text;
}

int CountElements(MRegion* first) {
  int count = 0;
  for (MRegion* e = first; e != nullptr; e = e->NextSibling()) {
    count += 1 + CountElements(e->firstChild);
  }
  return count;
}

}  // namespace

int wmain() {
  GlintLibrary library;
  if (!library.Load()) {
    std::fprintf(stderr, "ui_bench: GlintUtil.dll not loaded (%lu)\n", library.Error());
    return 1;
  }
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  host.SetResourceModule(library.Module());
  ZavuzER ui(&host, library.Module());
  GalleryWindow gallery(&ui);
  gallery.Build();
  gallery.Show(true);
  PumpMessages();
  HWND hwnd = gallery.Handle();
  const int width = 730, height = 345;

  // Anchor: a premultiplied picture of the window's size blended into a
  // back buffer and copied to the window.
  HDC windowDc = GetDC(hwnd);
  void* bits = nullptr;
  HDC source = CreateCompatibleDC(windowDc);
  HBITMAP picture = CreateDib32(source, width, height, &bits);
  for (int i = 0; i < width * height; ++i) static_cast<uint32_t*>(bits)[i] = 0x80402010u;
  SelectObject(source, picture);
  HDC buffer = CreateCompatibleDC(windowDc);
  HBITMAP bufferBitmap = CreateCompatibleBitmap(windowDc, width, height);
  SelectObject(buffer, bufferBitmap);
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};

  const bench::Pair repaint = bench::PairedMediansNs(
      [&] {
        InvalidateRect(hwnd, nullptr, FALSE);
        UpdateWindow(hwnd);
      },
      [&] {
        ui.AlphaBlend()(buffer, 0, 0, width, height, source, 0, 0, width, height, blend);
        BitBlt(windowDc, 0, 0, width, height, buffer, 0, 0, SRCCOPY);
        GdiFlush();
      },
      20, 15);
  std::printf("gallery of %d elements, %d x %d\n", CountElements(gallery.FirstRoot()), width,
              height);
  bench::Report("full repaint of the gallery", repaint.subject, "AlphaBlend + BitBlt 730x345",
                repaint.anchor);

  // The paragraph: 10 lines at this width.
  MTextArea area(&gallery, 16, true, false);
  area.SetText(MString(kParagraph));
  SetRectXYWH(&area, 0, 0, 330, 200);
  const int32_t lines = area.Render();
  const std::wstring plain = PlainText(kParagraph);
  HFONT font = area.Font(false);
  HDC anchorDc = area.Dc();
  const bench::Pair render = bench::PairedMediansNs(
      [&] {
        area.SetText(MString(kParagraph));  // parse again, as a new text does
        bench::Keep(area.Render());
      },
      [&] {
        SelectObject(anchorDc, font);
        RECT rect{0, 0, 330, 200};
        bench::Keep(DrawTextW(anchorDc, plain.c_str(), static_cast<int>(plain.size()), &rect,
                              DT_WORDBREAK));
        GdiFlush();
      },
      50, 15);
  std::printf("paragraph of %d lines, %d x %d\n", lines, 330, 200);
  bench::Report("Render of a mark-up paragraph", render.subject, "DrawTextW DT_WORDBREAK",
                render.anchor);

  DeleteDC(buffer);
  DeleteObject(bufferBitmap);
  DeleteDC(source);
  DeleteObject(picture);
  ReleaseDC(hwnd, windowDc);
  return 0;
}
