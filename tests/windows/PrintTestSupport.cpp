#include "PrintTestSupport.h"

#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"

namespace print_test {

UniqueSafeArray Shaped(Shape shape, size_t bytes) {
  switch (shape) {
    case Shape::LowerBound1: {
      SAFEARRAYBOUND bound = {static_cast<ULONG>(bytes), 1};
      return UniqueSafeArray(SafeArrayCreate(VT_UI1, 1, &bound));
    }
    case Shape::TwoDimensions: {
      SAFEARRAYBOUND bounds[2] = {{2, 0}, {static_cast<ULONG>(bytes / 2), 0}};
      return UniqueSafeArray(SafeArrayCreate(VT_UI1, 2, bounds));
    }
    case Shape::Ui2:
      return UniqueSafeArray(SafeArrayCreateVector(VT_UI2, 0, static_cast<ULONG>(bytes / 2)));
    case Shape::Bstr:
      return UniqueSafeArray(
          SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(bytes / sizeof(BSTR))));
    case Shape::Null:
      return UniqueSafeArray();
    case Shape::Empty:
      return UniqueSafeArray(SafeArrayCreateVector(VT_UI1, 0, 0));
    case Shape::I1:
      return UniqueSafeArray(SafeArrayCreateVector(VT_I1, 0, static_cast<ULONG>(bytes)));
  }
  return UniqueSafeArray();
}

ULONG BrokerDc(IGlintBroker6* broker) {
  ULONG from = 1, to = 1, flags = kDefaultDc, dc = 0;
  return broker->BrokerPrintDialog(0, &from, &to, &flags, &dc) == S_OK ? dc : 0;
}

HDC OwnDc() {
  PRINTDLGW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.Flags = kDefaultDc;
  dialog.nCopies = 1;
  if (!PrintDlgW(&dialog)) return nullptr;
  if (dialog.hDevMode != nullptr) GlobalFree(dialog.hDevMode);
  if (dialog.hDevNames != nullptr) GlobalFree(dialog.hDevNames);
  return dialog.hDC;
}

std::wstring JobFile() {
  return std::wstring(GLINT_PRINTER_OUT) + L"\\printed.ps";
}

void ForgetJob() {
  DeleteFileW(JobFile().c_str());
}

std::string TakeJob() {
  std::string job = WaitForContent(JobFile(), 8000);

  ForgetJob();
  return job;
}

IGlintBroker6* LocalBroker() {
  return new CoGlintBrokerServer(nullptr);
}

}  // namespace print_test
