// The setup window's panel switch beside the drawing it cannot avoid: a
// switch from the installer splash to the progress panel, with the new
// panel's layout and a full repaint of the client area, against one
// AlphaBlend and one BitBlt of the client size. Both are timed in turns in
// the same run; the ratio is the figure (target: at most 4).
#include <windows.h>

#include <cstdio>
#include <vector>

#include "BenchHarness.h"
#include "ReferenceHost.h"
#include "engine/GlintBrokerShim.h"
#include "foundation/WideText.h"
#include "ui/MInstallerWindow.h"
#include "ui/SetupPanels.h"
#include "ui/ZavuzER.h"

namespace {

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int wmain() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.rfind(L'\\'));
  HMODULE library = LoadLibraryW((folder + L"\\GlintUtil.dll").c_str());
  if (library == nullptr) {
    std::fprintf(stderr, "setup_window_bench: no GlintUtil.dll\n");
    return 1;
  }
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  host.SetCallStream(nullptr);
  host.AddConfiguration(MString(u"HostFlags 0;"));
  host.SetResourceModule(library);
  auto* shim = new GlintBrokerShim(&host);
  ZavuzER* ui = shim->CreateSetupWindow();
  auto* window = static_cast<MInstallerWindow*>(ui->Window());
  window->SwitchPanel(window->Panel(kPanelInstallerSplash));
  Pump();
  const int width = window->Current().Width(), height = window->Current().Height();

  // The anchor's picture: a premultiplied client-sized DIB blended into a
  // buffer, which then goes to the window.
  HDC windowDc = GetDC(window->Handle());
  HDC source = CreateCompatibleDC(windowDc), target = CreateCompatibleDC(windowDc);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  for (int i = 0; i < width * height; ++i) static_cast<uint32_t*>(bits)[i] = 0x80402010u;
  HBITMAP buffer = CreateCompatibleBitmap(windowDc, width, height);
  SelectObject(source, picture);
  SelectObject(target, buffer);
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};

  std::vector<double> switches, anchors;
  for (int sample = 0; sample < 200; ++sample) {
    auto* splash = new MUIPanelInstallerSplash(window);
    window->SwitchPanel(splash);
    Pump();
    double start = bench::NowNs();
    window->SwitchPanel(window->Progress());
    UpdateWindow(window->Handle());
    switches.push_back(bench::NowNs() - start);
    delete splash;
    start = bench::NowNs();
    ui->AlphaBlend()(target, 0, 0, width, height, source, 0, 0, width, height, blend);
    BitBlt(windowDc, 0, 0, width, height, target, 0, 0, SRCCOPY);
    GdiFlush();
    anchors.push_back(bench::NowNs() - start);
  }
  const double subject = bench::Median(switches), anchor = bench::Median(anchors);
  std::printf("panel switch splash->progress, layout and repaint (%dx%d): %.1f us\n", width,
              height, subject / 1000);
  std::printf("anchor: AlphaBlend + BitBlt of the client size:          %.1f us\n",
              anchor / 1000);
  std::printf("ratio: %.2f (target <= 4)\n", subject / anchor);

  DeleteDC(source);
  DeleteDC(target);
  DeleteObject(picture);
  DeleteObject(buffer);
  ReleaseDC(window->Handle(), windowDc);
  shim->DestroySetupWindow(ui);
  shim->Destroy();
  return 0;
}
