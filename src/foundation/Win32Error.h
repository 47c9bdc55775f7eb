// The one place where Windows errors become HRESULTs: a positive error v
// becomes 0x80070000 | (v & 0xFFFF); 0 and negative values pass unchanged.
#pragma once

#include <windows.h>

inline HRESULT HResultFromWin32(LONG error) {
  return error > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<ULONG>(error) & 0xFFFFu))
                   : static_cast<HRESULT>(error);
}

// The calling thread's last error as an HRESULT; E_FAIL when no error is set.
inline HRESULT LastErrorResult() {
  DWORD error = GetLastError();
  return error == 0 ? E_FAIL : HResultFromWin32(static_cast<LONG>(error));
}
