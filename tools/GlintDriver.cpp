// Drives the setup window from another process, the way a user or a screen
// reader does: through the accessible objects of its controls and real input.
//
//   glintdriver COMMAND [ARG] [COMMAND [ARG]]...
//
//   list              each control: name, role, state and screen rect
//   press NAME        a click at the centre of the control named NAME
//   key KEY           TAB, SHIFT+TAB, SPACE or ENTER to the window
//   wait NAME         until a visible control is named NAME
//   wait-gone         until the window is gone or hidden
//   close             asks the window to close (WM_CLOSE)
//   screenshot FILE   the window's client area as a PNG (BitBlt of its DC)
//   sleep MS          waits
//
// Waits give up after 20 seconds (GLINT_DRIVER_TIMEOUT_MS sets another
// limit). The exit code is 0 when every command succeeded, else 1 and a line
// on stderr says which one failed.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "PngWriter.h"

namespace {

constexpr wchar_t kWindowClass[] = L"ArvexGlintPlayerInstaller";

struct Control {
  HWND window;
  std::wstring name;
  long role;
  long state;
  RECT rect;  // screen coordinates
};

DWORD TimeoutMs() {
  wchar_t text[32];
  DWORD n = GetEnvironmentVariableW(L"GLINT_DRIVER_TIMEOUT_MS", text, 32);
  return n > 0 && n < 32 ? wcstoul(text, nullptr, 10) : 20000;
}

HWND SetupWindow() {
  return FindWindowW(kWindowClass, nullptr);
}

// The control's accessible object answers for itself (CHILDID_SELF).
bool Describe(HWND child, Control* out) {
  IAccessible* acc = nullptr;
  if (FAILED(AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                        reinterpret_cast<void**>(&acc))) ||
      acc == nullptr) {
    return false;
  }
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  out->window = child;
  out->name.clear();
  if (SUCCEEDED(acc->get_accName(self, &name)) && name != nullptr) {
    out->name.assign(name, SysStringLen(name));
  }
  SysFreeString(name);
  VARIANT value;
  VariantInit(&value);
  out->role = SUCCEEDED(acc->get_accRole(self, &value)) && value.vt == VT_I4 ? value.lVal : -1;
  VariantClear(&value);
  out->state = SUCCEEDED(acc->get_accState(self, &value)) && value.vt == VT_I4 ? value.lVal : -1;
  VariantClear(&value);
  long x = 0, y = 0, w = 0, h = 0;
  if (FAILED(acc->accLocation(&x, &y, &w, &h, self))) x = y = w = h = 0;
  out->rect = RECT{x, y, x + w, y + h};
  acc->Release();
  return true;
}

std::vector<Control> Controls(HWND window) {
  std::vector<Control> controls;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    Control control;
    if (Describe(child, &control)) controls.push_back(control);
  }
  return controls;
}

bool Shown(const Control& control) {
  return IsWindowVisible(control.window) && !(control.state & STATE_SYSTEM_INVISIBLE);
}

// The first shown control of that name, polling until the time-out.
bool FindShown(const std::wstring& name, DWORD timeoutMs, Control* found) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  do {
    HWND window = SetupWindow();
    if (window != nullptr) {
      for (const Control& control : Controls(window)) {
        if (control.name == name && Shown(control)) {
          *found = control;
          return true;
        }
      }
    }
    Sleep(50);
  } while (GetTickCount64() < end);
  return false;
}

void Send(std::vector<INPUT>& inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  Sleep(100);  // let the window's thread take the input
}

INPUT Mouse(DWORD flags, LONG x = 0, LONG y = 0) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = x;
  input.mi.dy = y;
  input.mi.dwFlags = flags;
  return input;
}

INPUT Key(WORD key, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

bool Press(const Control& control) {
  HWND window = SetupWindow();
  if (window != nullptr) SetForegroundWindow(window);
  // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
  const LONG cx = (control.rect.left + control.rect.right) / 2;
  const LONG cy = (control.rect.top + control.rect.bottom) / 2;
  const LONG width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 1 || height <= 1) return false;
  const LONG x = (cx * 65535 + (width - 1) / 2) / (width - 1);
  const LONG y = (cy * 65535 + (height - 1) / 2) / (height - 1);
  std::vector<INPUT> inputs = {Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y),
                               Mouse(MOUSEEVENTF_LEFTDOWN), Mouse(MOUSEEVENTF_LEFTUP)};
  Send(inputs);
  return true;
}

bool PressKey(const std::wstring& name) {
  std::vector<INPUT> inputs;
  if (name == L"TAB") {
    inputs = {Key(VK_TAB, false), Key(VK_TAB, true)};
  } else if (name == L"SHIFT+TAB") {
    inputs = {Key(VK_SHIFT, false), Key(VK_TAB, false), Key(VK_TAB, true), Key(VK_SHIFT, true)};
  } else if (name == L"SPACE") {
    inputs = {Key(VK_SPACE, false), Key(VK_SPACE, true)};
  } else if (name == L"ENTER") {
    inputs = {Key(VK_RETURN, false), Key(VK_RETURN, true)};
  } else {
    return false;
  }
  HWND window = SetupWindow();
  if (window != nullptr) SetForegroundWindow(window);
  Send(inputs);
  return true;
}

bool WaitGone(DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  do {
    HWND window = SetupWindow();
    if (window == nullptr || !IsWindowVisible(window)) return true;
    Sleep(50);
  } while (GetTickCount64() < end);
  return false;
}

void List() {
  HWND window = SetupWindow();
  if (window == nullptr) return;
  for (const Control& c : Controls(window)) {
    std::wprintf(L"name=%ls role=%ld state=0x%lx rect=%ld,%ld,%ld,%ld%ls\n", c.name.c_str(), c.role,
                 c.state, c.rect.left, c.rect.top, c.rect.right - c.rect.left,
                 c.rect.bottom - c.rect.top, Shown(c) ? L"" : L" hidden");
  }
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const DWORD timeout = TimeoutMs();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (int i = 1; i < argc; ++i) {
    const std::wstring command = argv[i];
    const bool hasArg = i + 1 < argc;
    bool ok = true;
    if (command == L"list") {
      List();
    } else if (command == L"press" && hasArg) {
      Control control;
      ok = FindShown(argv[++i], timeout, &control) && Press(control);
    } else if (command == L"key" && hasArg) {
      ok = PressKey(argv[++i]);
    } else if (command == L"wait" && hasArg) {
      Control control;
      ok = FindShown(argv[++i], timeout, &control);
    } else if (command == L"wait-gone") {
      ok = WaitGone(timeout);
    } else if (command == L"close") {
      HWND window = SetupWindow();
      ok = window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (command == L"screenshot" && hasArg) {
      ok = png::WriteClient(SetupWindow(), argv[++i]);
    } else if (command == L"sleep" && hasArg) {
      Sleep(wcstoul(argv[++i], nullptr, 10));
    } else {
      std::fwprintf(stderr, L"glintdriver: unknown command or missing argument: %ls\n",
                    command.c_str());
      return 2;
    }
    if (!ok) {
      std::fwprintf(
          stderr, L"glintdriver: %ls %ls failed\n", command.c_str(),
          command == L"list" || command == L"close" || command == L"wait-gone" ? L"" : argv[i]);
      return 1;
    }
  }
  return 0;
}
