// The player's per-user preferences, and the mark that runs the updater at
// the next logon. Registry text is narrow, in the system's ANSI code page.
#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "broker/server/CoGlintBrokerServer.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr char kPlayerKey[] = "Software\\Kestrelink\\GlintPlayer";
constexpr char kUpdateKey[] = "Software\\Kestrelink\\GlintPlayerUpdate";
constexpr char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kVersionValue[] = "GlintPlayerVersion";

UniqueRegKey OpenKey(const char* path) {
  UniqueRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS) {
    key.Reset();
  }
  return key;
}

// A REG_SZ value as narrow text; nothing when absent or of another type.
bool ReadText(HKEY key, const char* name, std::string* text) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size > (1u << 20)) {
    return false;
  }
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  *text = std::string(buffer.data());
  return true;
}

bool WriteText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

BSTR ToBstr(const std::string& ansi) {
  int length =
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (text != nullptr && length > 0) {
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), text, length);
  }
  return text;
}

std::string ToAnsi(BSTR text) {
  UINT length = SysStringLen(text);
  int size =
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(size), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), ansi.data(), size, nullptr,
                        nullptr);
  }
  return ansi;
}

// Empties the version value, then deletes it.
bool DeleteVersion(HKEY key) {
  WriteText(key, kVersionValue, "");
  return RegDeleteValueA(key, kVersionValue) == ERROR_SUCCESS;
}

HRESULT GetVersion(BSTR* p_string, bool thenDelete) {
  if (p_string == nullptr) return E_INVALIDARG;
  *p_string = nullptr;
  UniqueRegKey key = OpenKey(kPlayerKey);
  if (!key) return E_FAIL;
  std::string text;
  bool read = ReadText(key.Get(), kVersionValue, &text);
  if (thenDelete) DeleteVersion(key.Get());
  if (!read) return E_FAIL;
  *p_string = ToBstr(text);
  return *p_string != nullptr ? S_OK : E_FAIL;
}

bool ReadDword(HKEY key, const char* name, ULONG* value) {
  DWORD type = 0, data = 0, size = sizeof data;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != 4) {
    return false;
  }
  *value = data;
  return true;
}

bool WriteDword(HKEY key, const char* name, ULONG value) {
  DWORD data = value;
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof data) == ERROR_SUCCESS;
}

}  // namespace

HRESULT CoGlintBrokerServer::BrokerPrefGetAndDeleteGlintPlayerVersion(BSTR* p_string) {
  return GetVersion(p_string, true);
}

HRESULT CoGlintBrokerServer::BrokerPrefGetGlintPlayerVersion(BSTR* p_string) {
  return GetVersion(p_string, false);
}

HRESULT CoGlintBrokerServer::BrokerPrefDeleteGlintPlayerVersion() {
  UniqueRegKey key = OpenKey(kPlayerKey);
  return key && DeleteVersion(key.Get()) ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerPrefGetExceptionDialogSize(ULONG* p_width, ULONG* p_height) {
  if (p_width == nullptr || p_height == nullptr) return E_INVALIDARG;
  *p_width = 0;
  *p_height = 0;
  UniqueRegKey key = OpenKey(kPlayerKey);
  ULONG width = 0, height = 0;
  if (!key || !ReadDword(key.Get(), "Exception Dialog Width", &width) ||
      !ReadDword(key.Get(), "Exception Dialog Height", &height)) {
    return E_FAIL;
  }
  *p_width = width;
  *p_height = height;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerPrefSetExceptionDialogSize(ULONG p_width, ULONG p_height) {
  UniqueRegKey key = OpenKey(kPlayerKey);
  if (!key) return E_FAIL;
  bool width = WriteDword(key.Get(), "Exception Dialog Width", p_width);
  bool height = WriteDword(key.Get(), "Exception Dialog Height", p_height);
  return width && height ? S_OK : E_FAIL;
}

HRESULT CoGlintBrokerServer::BrokerPrefMarkAutoUpdaterForRun(BSTR p_xmlFromServer) {
  if (p_xmlFromServer == nullptr) return E_INVALIDARG;
  std::string xml = ToAnsi(p_xmlFromServer);
  UniqueRegKey key = OpenKey(kUpdateKey);
  if (!key) return S_OK;
  // An offer the user turned down is not offered again.
  std::string rejected;
  if (ReadText(key.Get(), "Rejected", &rejected) && xml.find(rejected) != std::string::npos) {
    return S_OK;
  }
  bool described = WriteText(key.Get(), "description", xml);
  char now[24];
  std::snprintf(now, sizeof now, "%d", static_cast<int>(std::time(nullptr)));
  WriteText(key.Get(), "lastnotificationtime", now);
  if (!described) return S_OK;
  char host[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, host, MAX_PATH);
  if (length == 0) return S_OK;
  UniqueRegKey runOnce = OpenKey(kRunOnceKey);
  if (runOnce)
    WriteText(runOnce.Get(), "GlintPlayerUpdate", std::string(host, length) + " -update activex");
  return S_OK;
}
