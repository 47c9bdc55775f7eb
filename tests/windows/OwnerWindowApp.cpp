// A browser's window for the owner-window tests: copied under a browser's
// image name, it shows one window, writes the window's number to the file
// named on its command line and runs until the window is closed.
#include <windows.h>

#include <string>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  WNDCLASSW type = {};
  type.lpfnWndProc = Procedure;
  type.hInstance = instance;
  type.lpszClassName = L"GlintOwnerWindow";
  RegisterClassW(&type);
  HWND window = CreateWindowW(L"GlintOwnerWindow", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              200, 100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  std::wstring output(commandLine);
  if (!output.empty() && output.front() == L'"')
    output = output.substr(1, output.find(L'"', 1) - 1);
  // Written to a new name, then renamed: the reader never sees half a number.
  const std::string number = std::to_string(reinterpret_cast<ULONG_PTR>(window));
  const std::wstring partial = output + L".part";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  WriteFile(file, number.data(), static_cast<DWORD>(number.size()), &written, nullptr);
  CloseHandle(file);
  if (!MoveFileExW(partial.c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING)) return 3;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
