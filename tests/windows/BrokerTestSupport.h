// Pieces shared by the tests of a live or an in-process broker.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/GlintBroker.h"
#include "foundation/ComRef.h"
#include "foundation/Win32Handles.h"

// Every method of IGlintBroker6's vtable side and its bases, in slot order.
struct BrokerParameter {
  bool byReference;
  VARTYPE type;  // what it points to, or its own
  USHORT flags;  // PARAMFLAG_*
};
struct BrokerMethodInfo {
  std::wstring name;
  SHORT vtableOffset;
  MEMBERID memid;
  std::vector<BrokerParameter> parameters;
};

class BrokerTypes {
 public:
  // Loads the library from a module that embeds it (GlintUtil.dll, glinthost.exe).
  explicit BrokerTypes(const std::wstring& module);
  bool Loaded() const { return static_cast<bool>(library_); }
  ITypeLib* Library() const { return library_.Get(); }
  const std::vector<BrokerMethodInfo>& Methods() const { return methods_; }

 private:
  ComRef<ITypeLib> library_;
  std::vector<BrokerMethodInfo> methods_;
};

// Calls a method through the vtable with empty strings, zeros and one-byte
// arrays; out-pointers point to storage, or are null with `nullOuts`.
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

// A byte vector (lower bound 0) as the player sends it; the caller destroys it.
SAFEARRAY* ByteArray(const std::string& data);
// The first `count` bytes of a byte array; the array is destroyed.
std::string TakeBytes(SAFEARRAY* array, ULONG count);
// The MZ/PE header of a minimal image: "MZ", filler, offset 64, "PE\0\0".
inline const std::string kImageHeader =
    "MZ" + std::string(58, 'x') + std::string("\x40\0\0\0PE\0\0", 8);

constexpr wchar_t kServer[] = L"glinthost.exe";
std::wstring Store();          // the player's store, ...\Kestrelink\Glint Player
std::wstring SharedObjects();  // its settings area, Store()\#SharedObjects

// A broker object from a server COM starts, as the player asks for it.
HRESULT CreateBroker(IGlintBroker6** broker);
// Removes every broker key from both registry views; registers glinthost.exe.
void RegisterTestBroker();
void UnregisterTestBroker();

std::vector<DWORD> ProcessesNamed(const wchar_t* image);  // case-insensitive
bool WaitUntilGone(const wchar_t* image, DWORD ms);       // false on timeout
void KillAll(const wchar_t* image);

// Suites against live brokers: no server left from before, the test build
// registered, COM on this thread; afterwards no server left behind.
class BrokerSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
};

// The player's file calls on a broker object; `broker` may be set later.
struct BrokerFiles {
  IGlintBroker6* broker = nullptr;
  HRESULT Open(const std::wstring& path, bool readOnly, ULONG* cookie, bool truncate = true);
  HRESULT WriteTo(ULONG cookie, const std::string& data);
  void Close(ULONG cookie);
  // Opens (truncating), writes and closes; the first failure. `cookie` gets the open's.
  HRESULT Write(const std::wstring& path, const std::string& data, ULONG* cookie = nullptr);
  // Opens for reading, reads up to 4 KiB and closes; the first failure.
  HRESULT Read(const std::wstring& path, std::string* content = nullptr);
};

// One broker object in its own server, started by COM; its release waits for
// the server to end.
class Session : public BrokerFiles {
 public:
  Session() { created = CreateBroker(&broker); }
  ~Session() {
    if (broker != nullptr) broker->Release();
    EXPECT_TRUE(WaitUntilGone(kServer, 10000)) << "the broker did not end";
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  HRESULT created;
};

// The system stand-ins of one test (stubs/): libraries copied into the
// prefix's system folder, COM and runtime classes registered, and the
// settings they answer from; all removed at the end (a broker that loaded
// them must have ended by then). Copies an interrupted run left go first.
class StandIns {
 public:
  StandIns();
  ~StandIns();
  StandIns(const StandIns&) = delete;
  StandIns& operator=(const StandIns&) = delete;
  void Srpapi() { Install(L"srpapi-standin.dll", L"srpapi.dll"); }
  void Efswrt() { Install(L"efswrt-standin.dll", L"efswrt.dll"); }
  void ZoneClasses();
  void RuntimeClasses();
  void Ids(const wchar_t* name, const std::vector<std::wstring>& ids);  // REG_MULTI_SZ
  void Result(const wchar_t* name, HRESULT value);
  void Text(const wchar_t* name, const std::wstring& value, const wchar_t* key = nullptr);
  void Remove(const wchar_t* name);
  static bool KeyExists(const wchar_t* key, REGSAM view = 0);  // under HKEY_LOCAL_MACHINE
  static std::wstring SystemFile(const wchar_t* name);

 private:
  void Install(const wchar_t* built, const wchar_t* system);
  std::vector<std::wstring> installed_, keys_;
};

// What COM gives a server for an incoming call: a call context whose
// ImpersonateClient puts the caller's token on the thread. Wine gives a
// server none (CoImpersonateClient answers RPC_E_CALL_COMPLETE), so a live
// broker never sees a caller's identities there; cases that need one install
// this context and call a broker object in this process. The caller is this
// user, impersonated: the token's type tells the srpapi stand-in it is a caller's.
class CallerContext final : public IServerSecurity {
 public:
  CallerContext() { CoSwitchCallContext(this, &previous_); }
  ~CallerContext() {
    IUnknown* mine = nullptr;
    CoSwitchCallContext(previous_, &mine);
  }
  CallerContext(const CallerContext&) = delete;
  CallerContext& operator=(const CallerContext&) = delete;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryBlanket(DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                         DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ImpersonateClient() override;
  HRESULT STDMETHODCALLTYPE RevertToSelf() override;
  BOOL STDMETHODCALLTYPE IsImpersonating() override;
  int Impersonations() const { return impersonations_; }

 private:
  IUnknown* previous_ = nullptr;
  int impersonations_ = 0;
};

// RPC and marshalling failures (RPC_E_*, and the RPC_S_* range of Win32
// errors), as opposed to answers of the broker. RPC_E_INVALID_PARAMETER is
// the shortcut methods' own refusal.
bool IsTransportFailure(HRESULT hr);
// A local-connection message: its target as the first value (marker 0x02,
// 16-bit length), then `rest` as it is.
std::string LcdMessageTo(const std::string& target, const std::string& rest);

// This program again, running only the disabled test `test` with `argument`
// on its command line; its output goes to `output` (else to ours).
UniqueHandle StartSelf(const std::wstring& test, const std::wstring& argument,
                       HANDLE output = nullptr);
// The text after `name` in this program's command line up to a space; empty without it.
std::string CommandLineValue(const char* name);
