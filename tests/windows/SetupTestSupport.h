// Pieces shared by the setup window's tests: the library's texts, a page
// handler that records what the window opens, the reference host run as a
// process with its output kept, the driver, and PNG artefacts.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <functional>
#include <string>
#include <vector>

#include "PngWriter.h"
#include "WineTestSupport.h"
#include "foundation/ComRef.h"

// Text `id` of the library's table in the calling thread's language, "^"
// replaced by `with` when given.
std::wstring SetupText(uint32_t id, const std::wstring& with = L"");

// Pages of a scheme open in a recorder for the length of a test; Opened()
// gives the command lines it recorded since the last call.
class PageRecorder {
 public:
  explicit PageRecorder(const std::wstring& scheme = L"https");
  ~PageRecorder();
  std::string Opened(DWORD waitMs = 8000);

 private:
  ScratchRegistry registry_;
  ScratchFiles files_;
  std::wstring folder_, handler_;
};

// glinthost.exe with a configuration text, run as the user starts it.
class HostRun {
 public:
  HostRun(const std::u16string& configuration, const std::wstring& command);
  ~HostRun();
  std::string Output() const;
  bool Printed(const std::string& line) const;
  // Drives the last `steps` (none: only waits), waits for the end (the
  // output is then complete) and gives the code the run printed ("exit
  // code=N"), or a marker when it printed none.
  int32_t Finish(const std::vector<std::wstring>& steps);
  HANDLE Process() const { return process_.Get(); }

 private:
  std::wstring folder_;
  ScratchFiles files_;
  UniqueHandle process_;
};

// glintdriver.exe with these arguments; its exit code (0 every step
// succeeded).
DWORD Drive(const std::vector<std::wstring>& arguments, DWORD timeoutMs = 60000);

// The setup window of another process (top-level, our class), or null.
HWND SetupWindowHandle();
std::wstring WindowTitle(HWND window);

// A screen reader's view of a proxy window: its accessible object (empty
// when it has none), a child of it (CHILDID_SELF: the object itself), its
// name ("<none>" when it has none, the error's code when the call fails) and
// a number it answers as VT_I4 (role, state; -1 when it does not).
ComRef<IAccessible> AccessibleOf(HWND window);
VARIANT Child(LONG id = CHILDID_SELF);
std::wstring AccName(IAccessible* object, LONG child = CHILDID_SELF);
LONG AccNumber(IAccessible* object,
               HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*));

// Dispatches this thread's messages until `done` holds or `ms` pass. A
// WM_QUIT ends the wait with its code in `*quit`; without `quit` it is dropped.
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 2000, int32_t* quit = nullptr);

// Where tests leave screenshots for people to look at.
std::wstring ArtefactPath(const std::wstring& name);
