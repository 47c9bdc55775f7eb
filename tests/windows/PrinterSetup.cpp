// Installs or removes the test printer of a Wine prefix: Wine's PostScript
// driver with its generic description file, one printer on port "LPT1:"
// made the default. Where "LPT1:" writes is the fixture's registry setting.
//   printer-setup install|remove
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>

namespace {

constexpr wchar_t kDriver[] = L"Wine PostScript Driver";
constexpr wchar_t kPrinter[] = L"Glint Test Printer";
constexpr wchar_t kPort[] = L"LPT1:";

int Fail(const char* step) {
  std::fprintf(stderr, "printer-setup: %s failed (%lu)\n", step, GetLastError());
  return 1;
}

int Install() {
  wchar_t folder[MAX_PATH];
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(folder),
                                  sizeof(folder), &needed))
    return Fail("GetPrinterDriverDirectoryW");
  CreateDirectoryW(folder, nullptr);
  // The driver's description file, which winspool carries as a resource.
  HMODULE spooler = LoadLibraryExW(L"winspool.drv", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = spooler ? FindResourceW(spooler, MAKEINTRESOURCEW(1), L"PPDFILE") : nullptr;
  HGLOBAL loaded = found ? LoadResource(spooler, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = found ? SizeofResource(spooler, found) : 0;
  FILE* file = data ? _wfopen((std::wstring(folder) + L"\\generic.ppd").c_str(), L"wb") : nullptr;
  const bool written = file && std::fwrite(data, 1, size, file) == size;
  if (!file || std::fclose(file) != 0 || !written) return Fail("copying generic.ppd");
  DRIVER_INFO_3W driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<wchar_t*>(kDriver);
  driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
  driver.pDataFile = const_cast<wchar_t*>(L"generic.ppd");
  driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
  if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver)) &&
      GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED)
    return Fail("AddPrinterDriverW");
  PRINTER_INFO_2W printer{};
  printer.pPrinterName = const_cast<wchar_t*>(kPrinter);
  printer.pPortName = const_cast<wchar_t*>(kPort);
  printer.pDriverName = const_cast<wchar_t*>(kDriver);
  printer.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
  printer.pDatatype = const_cast<wchar_t*>(L"RAW");
  printer.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  HANDLE added = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&printer));
  if (added == nullptr && GetLastError() != ERROR_PRINTER_ALREADY_EXISTS)
    return Fail("AddPrinterW");
  if (added != nullptr) ClosePrinter(added);
  if (!SetDefaultPrinterW(kPrinter)) return Fail("SetDefaultPrinterW");
  return 0;
}

int Remove() {
  HANDLE printer = nullptr;
  PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (OpenPrinterW(const_cast<wchar_t*>(kPrinter), &printer, &access)) {
    if (!DeletePrinter(printer)) Fail("DeletePrinter");
    ClosePrinter(printer);
  }
  DeletePrinterDriverW(nullptr, nullptr, const_cast<wchar_t*>(kDriver));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring step = argc > 1 ? argv[1] : L"";
  if (step == L"install") return Install();
  if (step == L"remove") return Remove();
  std::fprintf(stderr, "usage: printer-setup install|remove\n");
  return 2;
}
