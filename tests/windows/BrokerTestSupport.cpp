#include "BrokerTestSupport.h"

#include <tlhelp32.h>

#include <cstring>

#include "GlintLibrary.h"
#include "broker/BrokerServer.h"
#include "ReferenceHost.h"
#include "WineTestSupport.h"

BrokerTypes::BrokerTypes(const std::wstring& module) {
  if (FAILED(LoadTypeLibEx(module.c_str(), REGKIND_NONE, &library_))) {
    library_ = nullptr;
    return;
  }
  const IID* iids[] = {&IID_IGlintBroker,  &IID_IGlintBroker2, &IID_IGlintBroker3,
                       &IID_IGlintBroker4, &IID_IGlintBroker5, &IID_IGlintBroker6};
  for (const IID* iid : iids) {
    ITypeInfo* info = nullptr;
    library_->GetTypeInfoOfGuid(*iid, &info);
    // A dual interface answers its dispatch side; take the vtable side.
    HREFTYPE vtableSide = 0;
    ITypeInfo* vtable = nullptr;
    if (info != nullptr && SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtableSide)) &&
        SUCCEEDED(info->GetRefTypeInfo(vtableSide, &vtable))) {
      info->Release();
      info = vtable;
    }
    interfaces_.push_back(info);
  }
  for (ITypeInfo* info : interfaces_) {
    if (info == nullptr) continue;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) continue;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
      FUNCDESC* func = nullptr;
      if (FAILED(info->GetFuncDesc(i, &func))) continue;
      BSTR name = nullptr;
      info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
      BrokerMethodInfo method{name ? name : L"", func->oVft, func->memid, {}, {}};
      SysFreeString(name);
      for (SHORT p = 0; p < func->cParams; ++p) {
        method.parameters.push_back(func->lprgelemdescParam[p]);
        const TYPEDESC& desc = func->lprgelemdescParam[p].tdesc;
        method.pointed.push_back(desc.vt == VT_PTR ? *desc.lptdesc : desc);
      }
      methods_.push_back(method);
      descriptions_.push_back(func);
      owners_.push_back(info);
    }
    info->ReleaseTypeAttr(attr);
  }
}

BrokerTypes::~BrokerTypes() {
  for (size_t i = 0; i < descriptions_.size(); ++i) owners_[i]->ReleaseFuncDesc(descriptions_[i]);
  for (ITypeInfo* info : interfaces_) {
    if (info != nullptr) info->Release();
  }
  if (library_ != nullptr) library_->Release();
}

ITypeInfo* BrokerTypes::Interface(int number) const {
  return number >= 1 && number <= static_cast<int>(interfaces_.size()) ? interfaces_[number - 1]
                                                                       : nullptr;
}

HRESULT CallWithHarmlessArguments(IUnknown* broker, const BrokerMethodInfo& method, bool nullOuts) {
  size_t count = method.parameters.size();
  std::vector<VARIANT> storage(count), arguments(count);
  std::vector<VARIANTARG*> pointers(count);
  std::vector<VARTYPE> types(count);
  for (size_t p = 0; p < count; ++p) {
    VariantInit(&storage[p]);
    VariantInit(&arguments[p]);
    const TYPEDESC& desc = method.parameters[p].tdesc;
    const TYPEDESC& base = method.pointed[p];
    VARTYPE vt = base.vt == VT_USERDEFINED ? static_cast<VARTYPE>(VT_I8) : base.vt;
    if (vt == VT_SAFEARRAY) {
      V_VT(&storage[p]) = VT_ARRAY | VT_UI1;
      V_ARRAY(&storage[p]) = SafeArrayCreateVector(VT_UI1, 0, 1);
    } else if (vt == VT_BSTR) {
      V_VT(&storage[p]) = VT_BSTR;
      V_BSTR(&storage[p]) = SysAllocString(L"");
    } else if (vt != VT_VARIANT) {
      V_VT(&storage[p]) = vt;
      V_I8(&storage[p]) = 0;
    }
    if (desc.vt == VT_PTR) {
      USHORT flags = method.parameters[p].paramdesc.wParamFlags;
      bool outOnly = (flags & PARAMFLAG_FOUT) && !(flags & PARAMFLAG_FIN);
      if (outOnly) {
        // Out-only storage starts empty: nothing for the callee to free.
        VariantClear(&storage[p]);
        V_VT(&storage[p]) = vt == VT_SAFEARRAY ? VT_ARRAY | VT_UI1 : vt;
        V_I8(&storage[p]) = 0;
        if (vt == VT_VARIANT) V_VT(&storage[p]) = VT_EMPTY;
      }
      types[p] = VT_PTR;
      V_VT(&arguments[p]) = VT_PTR;
      void* target = vt == VT_VARIANT ? static_cast<void*>(&storage[p])
                                      : static_cast<void*>(&V_I8(&storage[p]));
      V_BYREF(&arguments[p]) = nullOuts && (flags & PARAMFLAG_FOUT) ? nullptr : target;
    } else {
      types[p] = V_VT(&storage[p]);
      arguments[p] = storage[p];
    }
    pointers[p] = &arguments[p];
  }
  VARIANT result;
  VariantInit(&result);
  HRESULT call = DispCallFunc(broker, method.vtableOffset, CC_STDCALL, VT_ERROR,
                              static_cast<UINT>(count), types.data(), pointers.data(), &result);
  for (VARIANT& v : storage) VariantClear(&v);
  return SUCCEEDED(call) ? V_ERROR(&result) : call;
}

HRESULT CreateBroker(IGlintBroker6** broker) {
  *broker = nullptr;
  HRESULT hr = E_FAIL;
  // Activation right after a server of the same class ended can be refused
  // for a moment on this test platform while the old registration goes;
  // such refusals are tried again, everything else is the answer.
  for (int attempt = 0; attempt < 6; ++attempt) {
    hr = CoCreateInstance(CLSID_GlintBrokerImp6, nullptr, CLSCTX_LOCAL_SERVER, IID_IGlintBroker6,
                          reinterpret_cast<void**>(broker));
    bool transient = hr == REGDB_E_CLASSNOTREG || hr == CO_E_SERVER_EXEC_FAILURE ||
                     hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    if (!transient) break;
    Sleep(500);
  }
  return hr;
}

std::wstring HostExecutable() {
  return ProgramFolder() + L"\\glinthost.exe";
}
std::wstring LibraryPath() {
  return ProgramFolder() + L"\\GlintUtil.dll";
}

void UnregisterTestBroker() {
  WriteBrokerRegistration(MString(), false);
}

void RegisterTestBroker() {
  UnregisterTestBroker();
  GlintLibrary library;
  ASSERT_TRUE(library.Load());
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  ShimHandle shim(library.Start()(&host));
  EXPECT_TRUE(shim->PrepareRegistration(M(HostExecutable()).Give(), 8));
}

std::vector<DWORD> ProcessesNamed(const wchar_t* image) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, image) == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

bool WaitUntilGone(const wchar_t* image, DWORD ms) {
  for (DWORD waited = 0; waited <= ms; waited += 50) {
    if (ProcessesNamed(image).empty()) return true;
    Sleep(50);
  }
  return false;
}

void KillAll(const wchar_t* image) {
  for (DWORD id : ProcessesNamed(image)) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) continue;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
}

SAFEARRAY* ByteArray(const std::string& data) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(data.size()));
  void* raw = nullptr;
  if (array == nullptr || FAILED(SafeArrayAccessData(array, &raw))) return array;
  if (!data.empty()) memcpy(raw, data.data(), data.size());
  SafeArrayUnaccessData(array);
  return array;
}
