// Pieces for the broker tests: the type information of the broker's
// interfaces, calls of any broker method by name with harmless arguments,
// registration of the test build's server, and its processes.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "broker/GlintBroker.h"
#include "foundation/Win32Handles.h"

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

// A one-dimensional byte array (lower bound 0) holding `data`, as the
// player sends it; the caller destroys it.
SAFEARRAY* ByteArray(const std::string& data);

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

// What COM gives a server for an incoming call: a call context whose
// ImpersonateClient puts the caller's token on the thread. Wine gives a
// server none (CoImpersonateClient answers RPC_E_CALL_COMPLETE), so a live
// broker never sees a caller's identities there. Cases that need a caller
// with identities install this context, as a custom transport would, and
// call a broker object in this process. The caller is this user,
// impersonated: the token's type tells the srpapi stand-in it is a caller's.
class CallerContext final : public IServerSecurity {
 public:
  CallerContext() { CoSwitchCallContext(this, &previous_); }
  ~CallerContext() {
    IUnknown* mine = nullptr;
    CoSwitchCallContext(previous_, &mine);
  }
  CallerContext(const CallerContext&) = delete;
  CallerContext& operator=(const CallerContext&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IServerSecurity)) {
      *object = static_cast<IServerSecurity*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the test's stack.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryBlanket(DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                         DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ImpersonateClient() override {
    if (!ImpersonateSelf(SecurityImpersonation)) return HRESULT_FROM_WIN32(GetLastError());
    impersonations_++;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RevertToSelf() override {
    return ::RevertToSelf() ? S_OK : HRESULT_FROM_WIN32(GetLastError());
  }
  BOOL STDMETHODCALLTYPE IsImpersonating() override {
    UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Receive());
  }
  int Impersonations() const { return impersonations_; }

 private:
  IUnknown* previous_ = nullptr;
  int impersonations_ = 0;
};
