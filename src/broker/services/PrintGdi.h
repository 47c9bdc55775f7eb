// Pieces the broker's printing methods share: handle numbers as GDI
// handles, and the HRESULTs of the rules' verdicts.
#pragma once

#include <windows.h>

#include "broker/services/PrintRules.h"

namespace PrintGdi {

// An incoming number, sign-extended to a handle.
template <typename Handle = HGDIOBJ>
Handle FromNumber(ULONG number) {
  return reinterpret_cast<Handle>(static_cast<INT_PTR>(PrintRules::HandleFromNumber(number)));
}
inline HDC Dc(ULONG number) {
  return FromNumber<HDC>(number);
}
// An outgoing handle's low 32 bits.
inline ULONG Number(const void* handle) {
  return PrintRules::NumberFromHandle(reinterpret_cast<UINT_PTR>(handle));
}

inline HRESULT ResultOf(PrintRules::Verdict verdict) {
  switch (verdict) {
    case PrintRules::Verdict::Accept:
      return S_OK;
    case PrintRules::Verdict::BadArgument:
      return E_INVALIDARG;
    case PrintRules::Verdict::BadBlob:
      break;
  }
  return E_FAIL;
}

}  // namespace PrintGdi
