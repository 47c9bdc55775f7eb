// Settings and logs shared by the system stand-ins: values under
// Software\GlintTestStandIns of the current user (the notifier task's and the
// device services' tests), else of the machine (the broker's stand-ins, see
// StandInSettings.h), and log files whose paths values name.
#pragma once

#include <windows.h>

#include <fstream>
#include <string>

namespace standin {

inline constexpr wchar_t kSettingsKey[] = L"Software\\GlintTestStandIns";

// A setting of the given type from the user's key, else the machine's.
inline bool Setting(const wchar_t* name, DWORD type, void* data, DWORD size) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    DWORD got = size;
    if (RegGetValueW(root, kSettingsKey, name, type, nullptr, data, &got) == ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

// A string setting; `fallback` when absent.
inline std::wstring Text(const wchar_t* name, const std::wstring& fallback = L"") {
  wchar_t text[2048] = {};
  return Setting(name, RRF_RT_REG_SZ, text, sizeof text - sizeof(wchar_t)) ? text : fallback;
}

// A DWORD setting; `fallback` when absent.
inline DWORD Number(const wchar_t* name, DWORD fallback) {
  DWORD number = 0;
  return Setting(name, RRF_RT_REG_DWORD, &number, sizeof number) ? number : fallback;
}

inline std::string Utf8(const wchar_t* text, int length = -1) {
  if (text == nullptr) return "(null)";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();  // the NUL
  return out;
}

inline void WriteFileText(const std::wstring& path, const std::string& text) {
  std::ofstream(path.c_str(), std::ios::binary) << text;
}

// Appends one line to the log the `setting` names (nothing without it), in
// one write that other writers cannot split.
inline void Log(const std::string& line, const wchar_t* setting = L"Log") {
  const std::wstring path = Text(setting);
  if (path.empty()) return;
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace standin
