// The owners of the broker's dialogs: a browser's window (owner-window.exe,
// OwnerWindowApp.cpp, copied under a browser's name and running until this
// object ends), and the dialog a process shows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "WineTestSupport.h"
#include "broker/services/FileDialogs.h"
#include "foundation/Win32Handles.h"

// The visible window of class `type` (a dialog by default) of `process`, or null.
inline HWND VisibleDialog(DWORD process, const wchar_t* type = L"#32770") {
  struct Search {
    DWORD process;
    const wchar_t* type;
    HWND found = nullptr;
  } search{process, type};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        wchar_t type[32] = {};
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        GetClassNameW(window, type, 32);
        if (owner == s->process && IsWindowVisible(window) && wcscmp(type, s->type) == 0) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A copy of owner-window.exe running under `image`, and its window.
class OwnerProgram {
 public:
  explicit OwnerProgram(const std::wstring& image) {
    process_ = StartProgram(L"\"" + image + L"\"");
    if (!process_) {
      ADD_FAILURE() << "cannot start " << Utf8Of(image.c_str()) << ": " << GetLastError();
      return;
    }
    // Idle once its window exists and its message loop waits.
    WaitForInputIdle(process_.Get(), 10000);
    window = HandleToULong(VisibleDialog(GetProcessId(process_.Get()), L"GlintOwnerWindow"));
    EXPECT_NE(window, 0u) << "no window from " << Utf8Of(image.c_str());
  }
  ~OwnerProgram() {
    if (!process_) return;
    PostMessageW(PlayerWindow(window), WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.Get(), 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.Get(), 1);
      WaitForSingleObject(process_.Get(), 5000);
    }
  }
  OwnerProgram(const OwnerProgram&) = delete;
  OwnerProgram& operator=(const OwnerProgram&) = delete;
  ULONG window = 0;

 private:
  UniqueHandle process_;
};
