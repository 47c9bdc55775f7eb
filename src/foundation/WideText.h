// MString as Win32 wide text. Only Windows code includes this: there wchar_t
// and char16_t are both UTF-16 code units.
#pragma once

#include "MString.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide text is UTF-16 on Windows");

// The value as a NUL-terminated wide string; "" for the null string.
inline const wchar_t* W(const MString& s) {
  return s.IsNull() ? L"" : reinterpret_cast<const wchar_t*>(s.CStr());
}

// The value, or a null pointer for the null string.
inline const wchar_t* WOrNull(const MString& s) {
  return reinterpret_cast<const wchar_t*>(s.CStr());
}

inline MString FromWide(const wchar_t* text) {
  return MString(reinterpret_cast<const char16_t*>(text));
}

inline MString FromWide(const wchar_t* text, int32_t count) {
  return MString(reinterpret_cast<const char16_t*>(text), count);
}
