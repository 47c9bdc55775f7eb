// Settings and log shared by the system stand-ins of the notifier task's
// tests: values under Software\GlintTestStandIns (the user's first, then the
// machine's) and one log file whose path the "Log" value names.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace standin {

inline constexpr wchar_t kSettingsKey[] = L"Software\\GlintTestStandIns";

inline bool ReadValue(const wchar_t* name, DWORD* type, std::wstring* text, DWORD* number) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    wchar_t buffer[2048] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(root, kSettingsKey, name, RRF_RT_REG_SZ | RRF_RT_REG_DWORD, type, buffer,
                     &size) != ERROR_SUCCESS) {
      continue;
    }
    if (*type == REG_DWORD) {
      std::memcpy(number, buffer, sizeof *number);
    } else {
      *text = buffer;
    }
    return true;
  }
  return false;
}

// A string setting; `fallback` when absent.
inline std::wstring Text(const wchar_t* name, const std::wstring& fallback = L"") {
  DWORD type = 0, number = 0;
  std::wstring text;
  return ReadValue(name, &type, &text, &number) && type == REG_SZ ? text : fallback;
}

// A DWORD setting; `fallback` when absent.
inline DWORD Number(const wchar_t* name, DWORD fallback) {
  DWORD type = 0, number = 0;
  std::wstring text;
  return ReadValue(name, &type, &text, &number) && type == REG_DWORD ? number : fallback;
}

inline std::string Utf8(const wchar_t* text, int length = -1) {
  if (text == nullptr) return "(null)";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();  // the NUL
  return out;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string ReadFileText(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}

inline void WriteFileText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Appends one line to the log the `setting` names (nothing without it).
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
