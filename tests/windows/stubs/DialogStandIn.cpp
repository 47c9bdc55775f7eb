// Stand-in for the item dialogs, the TreatAs of both dialog classes (StandInSettings.h):
// it records what the broker gives the dialog, answers the collected properties from the
// registry, and leaves showing and the results to the system's dialog, made by comdlg32.
#include <windows.h>
#include <ole2.h>
#include <propsys.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "StandInSettings.h"
#include "TaskStandInSettings.h"

namespace {

const PROPERTYKEY kEncryptionOwners = {
    {0x5F5AFF6A, 0x37E5, 0x4780, {0x97, 0xEA, 0x80, 0xC7, 0x56, 0x5C, 0xF5, 0x35}}, 34};

void Record(const std::wstring& line) {
  standin::Log(standin::Utf8(line.c_str()), standin::kDialogLog);
}

// Both dialogs: the system's dialog inside, the recorded calls around it.
class Dialog final : public IFileOpenDialog, public IFileSaveDialog {
 public:
  // Which of the two the system made: a failed query leaves its pointer null.
  explicit Dialog(IFileDialog* inner) : inner_(inner) {
    inner->QueryInterface(IID_IFileOpenDialog, reinterpret_cast<void**>(&open_));
    inner->QueryInterface(IID_IFileSaveDialog, reinterpret_cast<void**>(&save_));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IModalWindow) ||
        IsEqualIID(iid, IID_IFileDialog)) {
      *object = save_ != nullptr ? static_cast<void*>(static_cast<IFileSaveDialog*>(this))
                                 : static_cast<void*>(static_cast<IFileOpenDialog*>(this));
    } else if (IsEqualIID(iid, IID_IFileOpenDialog) && open_ != nullptr) {
      *object = static_cast<IFileOpenDialog*>(this);
    } else if (IsEqualIID(iid, IID_IFileSaveDialog) && save_ != nullptr) {
      *object = static_cast<IFileSaveDialog*>(this);
    } else {
      return inner_->QueryInterface(iid, object);
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IModalWindow, IFileDialog
  HRESULT STDMETHODCALLTYPE Show(HWND owner) override { return inner_->Show(owner); }
  HRESULT STDMETHODCALLTYPE SetFileTypes(UINT count, const COMDLG_FILTERSPEC* specs) override {
    std::wstring line = L"types:";
    for (UINT i = 0; i < count; ++i) {
      line += std::wstring(i == 0 ? L"" : L"|") + (specs[i].pszName ? specs[i].pszName : L"?") +
              L"=" + (specs[i].pszSpec ? specs[i].pszSpec : L"?");
    }
    Record(line);
    return inner_->SetFileTypes(count, specs);
  }
  HRESULT STDMETHODCALLTYPE SetOptions(FILEOPENDIALOGOPTIONS options) override {
    wchar_t text[32];
    swprintf(text, 32, L"options:0x%lX", static_cast<unsigned long>(options));
    Record(text);
    return inner_->SetOptions(options);
  }
  HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR name) override {
    Record(std::wstring(L"name:") + (name != nullptr ? name : L"(null)"));
    return inner_->SetFileName(name);
  }
  HRESULT STDMETHODCALLTYPE GetResult(IShellItem** i) override { return inner_->GetResult(i); }
  HRESULT STDMETHODCALLTYPE GetResults(IShellItemArray** items) override {
    return open_->GetResults(items);
  }

  // What the broker never calls.
  HRESULT STDMETHODCALLTYPE SetFileTypeIndex(UINT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFileTypeIndex(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IFileDialogEvents*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetOptions(FILEOPENDIALOGOPTIONS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultFolder(IShellItem*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFolder(IShellItem*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFolder(IShellItem**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurrentSelection(IShellItem**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFileName(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetTitle(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetOkButtonLabel(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFileNameLabel(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddPlace(IShellItem*, FDAP) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultExtension(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close(HRESULT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetClientGuid(REFGUID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearClientData() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetFilter(IShellItemFilter*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSelectedItems(IShellItemArray**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSaveAsItem(IShellItem*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ApplyProperties(IShellItem*, IPropertyStore*, HWND,
                                            IFileOperationProgressSink*) override {
    return E_NOTIMPL;
  }

  // The save dialog's properties stay here (the system's dialog has none).
  HRESULT STDMETHODCALLTYPE SetProperties(IPropertyStore* store) override {
    std::wstring line = L"properties:";
    PROPVARIANT value;
    PropVariantInit(&value);
    if (store != nullptr && SUCCEEDED(store->GetValue(kEncryptionOwners, &value)) &&
        value.vt == (VT_VECTOR | VT_LPWSTR)) {
      line += std::to_wstring(value.calpwstr.cElems) + L":";
      for (ULONG i = 0; i < value.calpwstr.cElems; ++i)
        line += std::wstring(i == 0 ? L"" : L",") + value.calpwstr.pElems[i];
    }
    PropVariantClear(&value);
    Record(line);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCollectedProperties(IPropertyDescriptionList*, WINBOOL) override {
    return S_OK;
  }
  // The configured owners, one string vector in a memory store.
  HRESULT STDMETHODCALLTYPE GetProperties(IPropertyStore** store) override {
    *store = nullptr;
    std::wstring owners;
    if (!standin::ReadText(standin::kDialogOwners, REG_MULTI_SZ, &owners)) return E_NOTIMPL;
    std::vector<LPWSTR> list = {owners.data()};
    for (size_t i = 0; i < owners.size(); ++i) {
      if (owners[i] == L'\0') list.push_back(&owners[i + 1]);
    }
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_VECTOR | VT_LPWSTR;
    value.calpwstr.cElems = static_cast<ULONG>(list.size());
    value.calpwstr.pElems = list.data();
    HRESULT hr = PSCreateMemoryPropertyStore(IID_IPropertyStore, reinterpret_cast<void**>(store));
    if (SUCCEEDED(hr) && FAILED(hr = (*store)->SetValue(kEncryptionOwners, value))) {
      (*store)->Release();
      *store = nullptr;
    }
    return hr;
  }

 private:
  ~Dialog() {
    if (open_ != nullptr) open_->Release();
    if (save_ != nullptr) save_->Release();
    inner_->Release();
  }
  IFileDialog* inner_;
  IFileOpenDialog* open_ = nullptr;
  IFileSaveDialog* save_ = nullptr;
  LONG references_ = 1;
};

// The system's dialog of the class COM was asked for, made by comdlg32 itself.
HRESULT SystemDialog(REFCLSID clsid, IFileDialog** dialog) {
  static HMODULE comdlg = LoadLibraryW(L"comdlg32.dll");
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(comdlg, "DllGetClassObject")));
  if (get == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  IClassFactory* factory = nullptr;
  HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, IID_IFileDialog, reinterpret_cast<void**>(dialog));
  factory->Release();
  return hr;
}

// COM asks for the stand-in's class; which dialog is meant shows in the
// interface asked for.
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    const bool mine = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory);
    *object = mine ? static_cast<IClassFactory*>(this) : nullptr;
    return mine ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override {
    *object = nullptr;
    const bool save = IsEqualIID(iid, IID_IFileSaveDialog);
    IFileDialog* inner = nullptr;
    HRESULT hr = SystemDialog(save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog, &inner);
    if (FAILED(hr)) return hr;
    auto* dialog = new Dialog(inner);
    hr = static_cast<IFileOpenDialog*>(dialog)->QueryInterface(iid, object);
    static_cast<IFileOpenDialog*>(dialog)->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};
Factory g_factory;

}  // namespace

// Registered for the stand-in's class alone, made the TreatAs of both dialogs.
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  return g_factory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return S_FALSE;
}
