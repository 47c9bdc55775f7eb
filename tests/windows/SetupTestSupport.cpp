#include "SetupTestSupport.h"

#include <cstdio>
#include <cstdlib>

#include "engine/StringTablesWin32.h"

std::wstring SetupText(uint32_t id, const std::wstring& with) {
  static HMODULE library = LoadLibraryExW((ProgramFolder() + L"\\GlintUtil.dll").c_str(), nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE);
  MString text = LoadTableString(library, id);
  if (id == 29 && text.IsEmpty()) text = MString(u"Arvex Glint Player ^ Setup");
  return Wide(with.empty() ? text : ReplaceAll(text, MString(u"^"), M(with)));
}

PageRecorder::PageRecorder(const std::wstring& scheme) {
  folder_ = NewTempFolder(L"glint-pages");
  RemoveDirectoryW(folder_.c_str());
  files_.Folder(folder_);
  handler_ = folder_ + L"\\pagehandler.exe";
  files_.Copy(RecorderPath(), handler_);
  registry_.SetString(HKEY_CLASSES_ROOT, scheme, L"URL Protocol", L"");
  registry_.SetString(HKEY_CLASSES_ROOT, scheme + L"\\shell\\open\\command", L"",
                      L"\"" + handler_ + L"\" \"%1\"");
}

PageRecorder::~PageRecorder() {
  DeleteFileW((handler_ + L".log").c_str());
}

std::string PageRecorder::Opened(DWORD waitMs) {
  std::string lines = WaitForContent(handler_ + L".log", waitMs);
  DeleteFileW((handler_ + L".log").c_str());
  return lines;
}

HostRun::HostRun(const std::u16string& configuration, const std::wstring& command) {
  folder_ = NewTempFolder(L"glint-setup-run");
  const std::wstring config = folder_ + L"\\setup.cfg";
  files_.File(config, ToUtf8(MString(configuration.c_str())));
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle output(CreateFileW((folder_ + L"\\output.txt").c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  process_ = StartProgram(
      L"\"" + ProgramFolder() + L"\\glinthost.exe\" --config \"" + config + L"\" " + command,
      output.Get());
}

HostRun::~HostRun() {
  if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), 5000);
  }
  process_.Reset();
  RemoveTree(folder_);
}

std::string HostRun::Output() const {
  return ReadAll(folder_ + L"\\output.txt");
}

bool HostRun::Printed(const std::string& line) const {
  const std::string out = Output();
  return out.find(line + "\n") != std::string::npos || out.find(line + "\r\n") != std::string::npos;
}

int32_t HostRun::Finish(const std::vector<std::wstring>& steps) {
  if (!steps.empty()) {
    EXPECT_EQ(Drive(steps), 0u) << Output();
  }
  EXPECT_TRUE(process_ && WaitForSingleObject(process_.Get(), 30000) == WAIT_OBJECT_0) << Output();
  const std::string out = Output();
  const size_t at = out.rfind("exit code=");
  if (at == std::string::npos) return 0x7FFFFFFF;
  return static_cast<int32_t>(std::strtol(out.c_str() + at + 10, nullptr, 10));
}

DWORD Drive(const std::vector<std::wstring>& arguments, DWORD timeoutMs) {
  std::wstring line = L"\"" + ProgramFolder() + L"\\glintdriver.exe\"";
  // Each argument as the C runtime splits command lines: quoted, with quotes
  // and the backslashes before them escaped.
  for (const std::wstring& argument : arguments) {
    line += L" \"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
  }
  const ProgramRun run = RunProgram(line, timeoutMs);
  std::fputs(run.output.c_str(), stdout);
  return run.code;
}

HWND SetupWindowHandle() {
  return FindWindowW(L"ArvexGlintPlayerInstaller", nullptr);
}

std::wstring WindowTitle(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

ComRef<IAccessible> AccessibleOf(HWND window) {
  ComRef<IAccessible> object;
  if (window != nullptr) {
    AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                               object.Receive());
  }
  return object;
}

VARIANT Child(LONG id) {
  VARIANT child{};  // VT_EMPTY, then an I4
  child.vt = VT_I4;
  child.lVal = id;
  return child;
}

std::wstring AccName(IAccessible* object, LONG child) {
  BSTR name = nullptr;
  const HRESULT hr = object->get_accName(Child(child), &name);
  const std::string error = Hex(hr);
  std::wstring text = FAILED(hr)        ? std::wstring(error.begin(), error.end())
                      : name == nullptr ? L"<none>"
                                        : std::wstring(name, SysStringLen(name));
  SysFreeString(name);
  return text;
}

LONG AccNumber(IAccessible* object,
               HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*)) {
  VARIANT v;
  VariantInit(&v);
  return SUCCEEDED((object->*get)(Child(), &v)) && v.vt == VT_I4 ? v.lVal : -1;
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms, int32_t* quit) {
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT && quit == nullptr) continue;
      if (message.message == WM_QUIT) {
        *quit = static_cast<int32_t>(message.wParam);
        return done();
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) return true;
    Sleep(5);
  } while (GetTickCount64() < end);
  return done();
}

std::wstring ArtefactPath(const std::wstring& name) {
  std::wstring folder = GLINT_SETUP_ARTEFACTS;
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\" + name;
}
