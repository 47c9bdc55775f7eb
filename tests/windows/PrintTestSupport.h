// Pieces of the print tests: byte arrays of every shape the player could
// send, the printer DC a broker object gets from its print dialog, the test's
// own DC of the same printer, and the jobs the fixture's printer writes.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

#include "BrokerTestSupport.h"
#include "broker/GlintBroker.h"
#include "foundation/ComRef.h"

namespace print_test {

constexpr ULONG kDefaultDc = PD_RETURNDEFAULT | PD_RETURNDC;

template <typename T>
std::string Raw(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
inline UniqueSafeArray Bytes(const std::string& data) {
  return UniqueSafeArray(ByteArray(data));
}
inline UniqueSafeArray Zeros(size_t count) {
  return Bytes(std::string(count, '\0'));
}

// Arrays of the wrong shape, each `bytes` long where it has a length.
enum class Shape { LowerBound1, TwoDimensions, Ui2, Bstr, Null, Empty, I1 };
UniqueSafeArray Shaped(Shape shape, size_t bytes);

// The DC number of the default printer through the broker's dialog; 0 on failure.
ULONG BrokerDc(IGlintBroker6* broker);
// BrokerStartDoc with its eight metrics in `m`.
inline HRESULT StartDoc(IGlintBroker6* broker, ULONG dc, ULONG (&m)[8]) {
  return broker->BrokerStartDoc(dc, &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7]);
}
// The test's own DC of the same printer (delete it with DeleteDC).
HDC OwnDc();

// The fixture printer's job file: removed before a job, read after EndDoc.
std::wstring JobFile();
void ForgetJob();
std::string TakeJob();

// A broker object in this process: it shares the test's GDI.
IGlintBroker6* LocalBroker();

}  // namespace print_test
