// A browser's window for the tests of the owner-window rule: owner-window.exe
// (OwnerWindowApp.cpp) copied under a browser's name, running, and the number
// of its window. It ends with this object.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "WineTestSupport.h"
#include "broker/services/FileDialogs.h"
#include "foundation/Win32Handles.h"

// A copy of owner-window.exe running under `image`, and its window.
class OwnerProgram {
 public:
  explicit OwnerProgram(const std::wstring& image) {
    const std::wstring output = NewTempFolder(L"glint-owner") + L"\\window.txt";
    std::wstring command = L"\"" + image + L"\" \"" + output + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(image.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
      ADD_FAILURE() << "cannot start " << Utf8Of(image.c_str()) << ": " << GetLastError();
      return;
    }
    CloseHandle(started.hThread);
    process_.Reset(started.hProcess);
    std::string number = WaitForContent(output);
    RemoveTree(output.substr(0, output.rfind(L'\\')));
    window = static_cast<ULONG>(std::stoull(number.empty() ? "0" : number));
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
