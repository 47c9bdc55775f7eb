// print_bench: the printing proxy beside its anchors, in the same run, on the
// default printer (scripts/bench.sh installs the test printer):
//  (a) BrokerSetTextColor on the broker's printer DC beside IBenchAnchor::Empty;
//  (b) BrokerPathToBitmapFill of a 256 x 256 x 32 bpp image beside the anchor
//      taking the same 256 KiB array plus the same StretchDIBits made here on
//      a DC of the same printer.
// The broker's document goes to the printer's file; the bench's is abandoned.
#include <windows.h>
#include <commdlg.h>
#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchHarness.h"
#include "bench/BenchAnchor.h"
#include "broker/GlintBroker.h"
#include "foundation/ComRef.h"

namespace {

constexpr int kSide = 256;
constexpr ULONG kPixelBytes = kSide * kSide * 4;

SAFEARRAY* Array(const void* data, ULONG size) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
  void* raw = nullptr;
  if (array != nullptr && SUCCEEDED(SafeArrayAccessData(array, &raw))) {
    std::memcpy(raw, data, size);
    SafeArrayUnaccessData(array);
  }
  return array;
}

HDC OwnDc() {
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
  if (!PrintDlgW(&dialog)) return nullptr;
  GlobalFree(dialog.hDevMode);
  GlobalFree(dialog.hDevNames);
  return dialog.hDC;
}

int Run() {
  ComRef<IGlintBroker6> broker;
  ComRef<IBenchAnchor> anchor;
  if (FAILED(CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IGlintBroker6, broker.Receive())) ||
      FAILED(CoCreateInstance(CLSID_BenchAnchor, nullptr, CLSCTX_LOCAL_SERVER, IID_IBenchAnchor,
                              anchor.Receive()))) {
    std::printf("cannot create the broker or the anchor\n");
    return 1;
  }
  ULONG from = 1, to = 1, flags = PD_RETURNDEFAULT | PD_RETURNDC, dc = 0, m[8] = {};
  HDC own = OwnDc();
  if (broker->BrokerPrintDialog(0, &from, &to, &flags, &dc) != S_OK || own == nullptr) {
    std::printf("no printer: run scripts/printer-fixture.sh setup first\n");
    return 1;
  }
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Glint";
  // The bench's document goes to a file of its own, apart from the printer's jobs.
  wchar_t output[MAX_PATH + 20];
  GetTempPathW(MAX_PATH, output);
  wcscat(output, L"print_bench.ps");
  document.lpszOutput = output;
  if (broker->BrokerStartDoc(dc, &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]) != S_OK ||
      broker->BrokerStartPage(dc) != S_OK) {
    std::printf("cannot start the broker's document\n");
    return 1;
  }
  int failures = 0;

  ULONG previous = 0, colour = 0;
  const bench::Pair a = bench::PairedMediansNs(
      [&] {
        if (broker->BrokerSetTextColor(dc, ++colour & 0xFFFFFF, &previous) != S_OK) ++failures;
      },
      [&] { anchor->Empty(); }, 50, 41);
  bench::Report("(a) BrokerSetTextColor", a.subject, "IBenchAnchor::Empty", a.anchor);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = kSide;
  header.biHeight = -kSide;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::string info(reinterpret_cast<const char*>(&header), sizeof header);
  info.resize(44, '\0');
  std::string pixels(kPixelBytes, '\0');
  for (ULONG i = 0; i < kPixelBytes; ++i) pixels[i] = static_cast<char>(i * 7);
  const int target[4] = {100, 100, 1000, 1000}, source[4] = {0, 0, kSide, kSide};
  SAFEARRAY* targetArray = Array(target, sizeof target);
  SAFEARRAY* sourceArray = Array(source, sizeof source);
  SAFEARRAY* infoArray = Array(info.data(), static_cast<ULONG>(info.size()));
  SAFEARRAY* pixelArray = Array(pixels.data(), kPixelBytes);
  // The broker's fill beside the anchor taking the same array, in turns.
  bench::Pair b = bench::PairedMediansNs(
      [&] {
        if (broker->BrokerPathToBitmapFill(dc, targetArray, sourceArray, pixelArray, infoArray,
                                           0) != S_OK)
          ++failures;
      },
      [&] {
        ULONG size = 0;
        anchor->TakeBytes(pixelArray, &size);
      },
      3, 11);
  ULONG rc = 0;
  broker->BrokerEndDoc(dc);
  broker->BrokerDeleteDC(dc, &rc);
  // The printer takes one document at a time (a second StartDocW fails with
  // a sharing violation): the same StretchDIBits here once the broker's is
  // done, into a document of the bench's own that goes to a file.
  if (StartDocW(own, &document) <= 0 || StartPage(own) <= 0) {
    std::printf("cannot start the bench's document\n");
    return 1;
  }
  const double stretch = bench::MedianNs(
      [&] {
        StretchDIBits(own, target[0], target[1], target[2], target[3], 0, 0, kSide, kSide,
                      pixels.data(), reinterpret_cast<const BITMAPINFO*>(info.data()),
                      DIB_RGB_COLORS, SRCCOPY);
      },
      3, 11);
  b.anchor += stretch;
  bench::Report("(b) BrokerPathToBitmapFill 256x256x32", b.subject,
                "TakeBytes(256 KiB) + StretchDIBits", b.anchor);
  for (SAFEARRAY* array : {targetArray, sourceArray, infoArray, pixelArray})
    SafeArrayDestroy(array);

  AbortDoc(own);
  DeleteDC(own);
  DeleteFileW(output);
  std::printf("targets: (a) <= 1.05, (b) <= 1.10; failures %d\n", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain() {
  if (FAILED(CoInitialize(nullptr))) return 1;
  const int status = Run();
  CoUninitialize();
  return status;
}
