// Pieces for the broker tests: the type information of the broker's
// interfaces, calls of any broker method by name with harmless arguments,
// registration of the test build's server, and its processes.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "broker/GlintBroker.h"

// Every method of IGlintBroker6's vtable side and its bases, in slot order.
struct BrokerMethodInfo {
  std::wstring name;
  SHORT vtableOffset;
  MEMBERID memid;
  std::vector<ELEMDESC> parameters;  // valid while the type library is loaded
  std::vector<TYPEDESC> pointed;     // the type each parameter points to (or itself)
};

class BrokerTypes {
 public:
  // Loads the library from a module that embeds it (GlintUtil.dll, glinthost.exe).
  explicit BrokerTypes(const std::wstring& module);
  ~BrokerTypes();
  BrokerTypes(const BrokerTypes&) = delete;
  BrokerTypes& operator=(const BrokerTypes&) = delete;

  bool Loaded() const { return library_ != nullptr; }
  ITypeLib* Library() const { return library_; }
  // The vtable-side type information of interface n (1..6).
  ITypeInfo* Interface(int number) const;
  const std::vector<BrokerMethodInfo>& Methods() const { return methods_; }

 private:
  ITypeLib* library_ = nullptr;
  std::vector<ITypeInfo*> interfaces_;
  std::vector<FUNCDESC*> descriptions_;
  std::vector<ITypeInfo*> owners_;
  std::vector<BrokerMethodInfo> methods_;
};

// Calls a broker method through `broker`'s vtable with empty strings, zero
// numbers and one-byte arrays; out-pointers point to storage, or are null
// when `nullOuts` is set. Answers the method's HRESULT.
HRESULT CallWithHarmlessArguments(IUnknown* broker, const BrokerMethodInfo& method, bool nullOuts);

// A BSTR made from wide text (embedded NULs kept), freed with the object.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

// Paths of the test build.
std::wstring HostExecutable();  // glinthost.exe beside the tests
std::wstring LibraryPath();     // GlintUtil.dll beside the tests

// A broker object from a server COM starts, as the player asks for it.
HRESULT CreateBroker(IGlintBroker6** broker);

// Removes every broker key from both registry views, then registers the
// test build's glinthost.exe as the broker's server.
void RegisterTestBroker();
void UnregisterTestBroker();

// Processes whose image is `image` (case-insensitive).
std::vector<DWORD> ProcessesNamed(const wchar_t* image);
// Waits until no such process is left; false on timeout.
bool WaitUntilGone(const wchar_t* image, DWORD ms);
void KillAll(const wchar_t* image);
