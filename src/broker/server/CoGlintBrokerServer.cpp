#include "broker/server/CoGlintBrokerServer.h"

#include <mlang.h>

#include <new>

#include "broker/server/BrokerServer.h"
#include "broker/files/SasmFileManager.h"
#include "broker/services/EnterpriseData.h"

namespace {
// The multi-language object's GUIDs are not in mingw's uuid library.
const CLSID kClsidMultiLanguage = {
    0x275C23E2, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
const IID kIidMultiLanguage = {
    0x275C23E1, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
const IID kIidFontLink = {
    0x359F3441, 0xBD4A, 0x11D0, {0xB1, 0x88, 0x00, 0xAA, 0x00, 0x38, 0xC9, 0x69}};
// What every broker object of the process shares, made by the first one:
// the dispatch type information, the process's enterprise identities and the
// protection library's helper. None of them changes while the process runs.
ITypeInfo* g_dispatchInfo = nullptr;
bool g_dispatchInfoLoaded = false;

ITypeInfo* SharedDispatchInfo() {
  if (!g_dispatchInfoLoaded) {
    g_dispatchInfoLoaded = true;
    ITypeLib* library = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_GlintBrokerLib, 1, 0, 0, &library))) {
      library->GetTypeInfoOfGuid(IID_IGlintBroker2, &g_dispatchInfo);
      library->Release();
    }
  }
  if (g_dispatchInfo != nullptr) g_dispatchInfo->AddRef();
  return g_dispatchInfo;
}

std::shared_ptr<EnterpriseIds> ProcessIdentities() {
  static std::shared_ptr<EnterpriseIds> identities = std::make_shared<EnterpriseIds>(false);
  return identities;
}

}  // namespace

Edpwin32DllHelper& CoGlintBrokerServer::SharedEdpwin32() {
  static Edpwin32DllHelper helper;
  return helper;
}

void ReleaseSharedBrokerState() {
  if (g_dispatchInfo != nullptr) g_dispatchInfo->Release();
  g_dispatchInfo = nullptr;
  g_dispatchInfoLoaded = false;
}

CoGlintBrokerServer::CoGlintBrokerServer(HostCallbacks* host)
    : host_(host), processIds_(ProcessIdentities()) {
  // Only the flag is kept of a file manager made for the purpose.
  paths_.SetUseLocalAppData(SASM::WindowsFileManager().EnableLocalAppData());
  if (Factory* factory = BrokerFactory()) ++factory->BrokerObjectCount;

  typeInfo_ = SharedDispatchInfo();

  if (SUCCEEDED(CoCreateInstance(kClsidMultiLanguage, nullptr,
                                 CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, kIidMultiLanguage,
                                 reinterpret_cast<void**>(&multiLanguage_)))) {
    if (FAILED(
            multiLanguage_->QueryInterface(kIidFontLink, reinterpret_cast<void**>(&fontLink_)))) {
      fontLink_ = nullptr;
    }
  } else {
    multiLanguage_ = nullptr;
  }
}

CoGlintBrokerServer::~CoGlintBrokerServer() {
  if (Factory* factory = BrokerFactory()) --factory->BrokerObjectCount;
  ReleasePrintObjects();  // its font mappings go back through the font link
  if (fontLink_ != nullptr) fontLink_->Release();
  if (multiLanguage_ != nullptr) multiLanguage_->Release();
  if (typeInfo_ != nullptr) typeInfo_->Release();
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  // Only the newest interface is served: a client asks for IGlintBroker6.
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, IID_IGlintBroker6)) {
    *object = static_cast<IGlintBroker6*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CoGlintBrokerServer::AddRef() {
  return ++references_;
}

ULONG STDMETHODCALLTYPE CoGlintBrokerServer::Release() {
  LONG count = --references_;
  if (count != 0) return static_cast<ULONG>(count);
  delete this;
  // The last broker object with no lock outstanding ends the server.
  Factory* factory = BrokerFactory();
  if (factory != nullptr && factory->BrokerLockCount == 0 && factory->BrokerObjectCount == 0) {
    PostQuitMessage(0);
  }
  return 0;
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_INVALIDARG;
  *count = 1;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  if (typeInfo_ == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  typeInfo_->AddRef();
  *info = typeInfo_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count,
                                                             LCID, DISPID* ids) {
  // Without type information nothing can be reached late-bound.
  if (typeInfo_ == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return DispGetIDsOfNames(typeInfo_, names, count, ids);
}

HRESULT STDMETHODCALLTYPE CoGlintBrokerServer::Invoke(DISPID member, REFIID, LCID, WORD flags,
                                                      DISPPARAMS* parameters, VARIANT* result,
                                                      EXCEPINFO* exception, UINT* argumentError) {
  if (typeInfo_ == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return DispInvoke(static_cast<IGlintBroker6*>(this), typeInfo_, member, flags, parameters, result,
                    exception, argumentError);
}
