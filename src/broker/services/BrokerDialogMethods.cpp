// File dialogs.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared. DialogRules decides
// the filter, the options, the proposed name and the open result before and
// after the dialog; this layer reads the player's array, asks the system and
// shows the dialog owned by the browser's window. The player gets only what
// the user chose: opened paths become readable (ChosenFileSet), a saved path
// becomes a cookie of this broker object whose file is made on first use.
#include <windows.h>
#include <ole2.h>
#include <propsys.h>
#include <propvarutil.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "broker/server/ByteBlob.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/DialogRules.h"
#include "broker/services/EnterpriseData.h"
#include "broker/services/FileDialogs.h"
#include "foundation/ComRef.h"
#include "foundation/SystemModule.h"
#include "foundation/Win32Handles.h"

namespace {

using DialogRules::Text;

// System.Security.EncryptionOwners, which mingw's headers lack.
const PROPERTYKEY kEncryptionOwners = {
    {0x5F5AFF6A, 0x37E5, 0x4780, {0x97, 0xEA, 0x80, 0xC7, 0x56, 0x5C, 0xF5, 0x35}}, 34};
constexpr wchar_t kEncryptionOwnersList[] = L"prop:System.Security.EncryptionOwners";

// The image names of the other browser, in any case.
constexpr const wchar_t* kBrowserImages[] = {L"microsoftedge.exe", L"microsoftedgecp.exe",
                                             L"spartan.exe", L"spartan_edge.exe"};
constexpr wchar_t kExplorerImage[] = L"\\Internet Explorer\\iexplore.exe";

// The process-wide pending request (see ModalRequest).
bool g_modalPending = false;

bool SameIgnoringCase(const std::wstring& a, const wchar_t* b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

std::wstring Wide(const Text& text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

Text FromWide(const wchar_t* text) {
  return Text(reinterpret_cast<const char16_t*>(text));
}

// The process's image path and base name: through its first module, else
// through its full image name.
struct ProcessImage {
  std::wstring path, name;
};
std::optional<ProcessImage> ImageOf(DWORD processId) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return std::nullopt;
  wchar_t buffer[MAX_PATH] = {};
  ProcessImage image;
  SystemModule psapi;
  if (psapi.Load(MString(u"psapi.dll"))) {
    using ModuleText = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
    auto fileName = psapi.ResolveAs<ModuleText>("GetModuleFileNameExW");
    auto baseName = psapi.ResolveAs<ModuleText>("GetModuleBaseNameW");
    DWORD length = 0;
    if (fileName != nullptr && baseName != nullptr &&
        (length = fileName(process.Get(), nullptr, buffer, MAX_PATH)) != 0 && length < MAX_PATH) {
      image.path.assign(buffer, length);
      length = baseName(process.Get(), nullptr, buffer, MAX_PATH);
      if (length != 0 && length < MAX_PATH) {
        image.name.assign(buffer, length);
        return image;
      }
    }
  }
  DWORD length = MAX_PATH;
  Kernel32DllHelper& kernel32 = ProcessKernel32();
  if (kernel32.QueryFullProcessImageNameW == nullptr ||
      !kernel32.QueryFullProcessImageNameW(process.Get(), 0, buffer, &length)) {
    return std::nullopt;
  }
  image.path.assign(buffer, length);
  image.name = image.path.substr(image.path.find_last_of(L'\\') + 1);
  return image;
}

bool IsExplorerIn(const std::wstring& path, int programFiles) {
  MString folder = ShellFolder(programFiles);
  if (folder.IsNull() || folder.IsEmpty()) return false;
  std::wstring expected(reinterpret_cast<const wchar_t*>(folder.CStr()),
                        static_cast<size_t>(folder.Length()));
  while (!expected.empty() && expected.back() == L'\\') expected.pop_back();
  return SameIgnoringCase(path, (expected + kExplorerImage).c_str());
}

// The player's filter, checked and parsed; the dialog's list points into it.
class FilterList {
 public:
  // S_OK, or E_INVALIDARG for a filter the rules refuse.
  HRESULT Parse(ULONG pairs, SAFEARRAY* array) {
    if (pairs == 0) return S_OK;
    ByteBlob bytes(array);
    if (!bytes.Valid()) return E_INVALIDARG;
    parse_ = DialogRules::ParseFilterSpecs(pairs, bytes.Bytes());
    if (parse_.verdict != DialogRules::Verdict::Ok) return E_INVALIDARG;
    for (const DialogRules::FilterSpec& spec : parse_.specs) {
      specs_.push_back({reinterpret_cast<LPCWSTR>(spec.name.c_str()),
                        reinterpret_cast<LPCWSTR>(spec.pattern.c_str())});
    }
    return S_OK;
  }
  HRESULT ApplyTo(IFileDialog* dialog) const {
    if (specs_.empty()) return S_OK;
    return dialog->SetFileTypes(static_cast<UINT>(specs_.size()), specs_.data());
  }

 private:
  DialogRules::FilterParse parse_;
  std::vector<COMDLG_FILTERSPEC> specs_;
};

// Both dialogs' argument checks: the filter's counts and shape, then the owner.
bool ArgumentsValid(ULONG window, ULONG pairs, ULONG length, SAFEARRAY* array) {
  DialogRules::FilterArrayShape shape;
  shape.present = array != nullptr;
  if (array != nullptr) {
    shape.dimensions = SafeArrayGetDim(array);
    shape.elementSize = SafeArrayGetElemsize(array);
    LONG lower = 0, upper = -1;
    if (shape.dimensions == 1 && SUCCEEDED(SafeArrayGetLBound(array, 1, &lower)) &&
        SUCCEEDED(SafeArrayGetUBound(array, 1, &upper))) {
      shape.lowerBound = lower;
      shape.elementCount = static_cast<uint32_t>(static_cast<int64_t>(upper) - lower + 1);
    }
  }
  return DialogRules::FilterArgumentsValid(pairs, length, shape) && IsAllowedOwnerWindow(window);
}

// An item's name of the asked kind; the shell's string is freed here.
HRESULT ItemName(IShellItem* item, SIGDN kind, Text* name) {
  wchar_t* text = nullptr;
  HRESULT hr = item->GetDisplayName(kind, &text);
  if (FAILED(hr)) return hr;
  if (text == nullptr) return E_FAIL;
  *name = FromWide(text);
  CoTaskMemFree(text);
  return S_OK;
}

HRESULT StringArray(const std::vector<Text>& strings, VARIANT* out) {
  UniqueSafeArray array(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(strings.size())));
  if (!array) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
    UniqueBstr text(SysAllocStringLen(reinterpret_cast<const wchar_t*>(strings[i].data()),
                                      static_cast<UINT>(strings[i].size())));
    if (!text) return E_OUTOFMEMORY;
    // The array keeps its own copy.
    HRESULT hr = SafeArrayPutElement(array.Get(), &i, text.Get());
    if (FAILED(hr)) return hr;
  }
  out->vt = VT_ARRAY | VT_BSTR;
  out->parray = array.Release();
  return S_OK;
}

// The property system's description lists, bound at run time.
struct PropertyFunctions {
  using ListFromString = HRESULT(WINAPI*)(LPCWSTR, REFIID, void**);
  SystemModule module;
  ListFromString listFromString = nullptr;
  PropertyFunctions() {
    if (module.Load(MString(u"propsys.dll"))) {
      listFromString = module.ResolveAs<ListFromString>("PSGetPropertyDescriptionListFromString");
    }
  }
};

// The dialog's initial properties: one read-only value under one key. The
// broker's own store, so that the value reaches the dialog as it was made
// (some systems' memory stores answer an empty value for a string vector).
class OwnerStore final : public IPropertyStore {
 public:
  // Takes `value` over.
  explicit OwnerStore(PROPVARIANT value) : value_(value) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    const bool mine = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyStore);
    *object = mine ? static_cast<IPropertyStore*>(this) : nullptr;
    if (mine) AddRef();
    return mine ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override {
    if (key == nullptr) return E_POINTER;
    if (index != 0) return E_INVALIDARG;
    *key = kEncryptionOwners;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    if (!IsEqualPropertyKey(key, kEncryptionOwners)) return S_OK;
    return PropVariantCopy(value, &value_);
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override {
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }

 private:
  ~OwnerStore() { PropVariantClear(&value_); }
  PROPVARIANT value_;
  volatile LONG references_ = 1;
};

// A one-string vector value; PropVariantClear frees it.
HRESULT OneStringVector(const wchar_t* text, PROPVARIANT* value) {
  PropVariantInit(value);
  auto* elements = static_cast<LPWSTR*>(CoTaskMemAlloc(sizeof(LPWSTR)));
  const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (elements == nullptr || copy == nullptr) {
    CoTaskMemFree(elements);
    CoTaskMemFree(copy);
    return E_OUTOFMEMORY;
  }
  memcpy(copy, text, bytes);
  elements[0] = copy;
  value->vt = VT_VECTOR | VT_LPWSTR;
  value->calpwstr.cElems = 1;
  value->calpwstr.pElems = elements;
  return S_OK;
}

// Lets the user choose who owns the saved file, starting from the caller's
// first identity (or the empty string). The list of collected properties is
// set only where the system can describe it; the dialog is shown without
// either part when its step fails.
void OfferEncryptionOwners(IFileSaveDialog* dialog, const EnterpriseIds& caller) {
  PropertyFunctions functions;
  ComRef<IPropertyDescriptionList> list;
  if (functions.listFromString != nullptr &&
      SUCCEEDED(functions.listFromString(kEncryptionOwnersList, IID_IPropertyDescriptionList,
                                         list.Receive()))) {
    dialog->SetCollectedProperties(list.Get(), FALSE);
  }
  const wchar_t* first = caller.Identity(0);
  PROPVARIANT owners;
  if (FAILED(OneStringVector(first != nullptr ? first : L"", &owners))) return;
  ComRef<IPropertyStore> store;
  *store.ReceiveTyped() = new (std::nothrow) OwnerStore(owners);
  if (!store) {
    PropVariantClear(&owners);
    return;
  }
  dialog->SetProperties(store.Get());
}

// The owner the user chose: the first string of the collected value, when
// there is one and it is not empty.
std::optional<std::wstring> ChosenEncryptionOwner(IFileSaveDialog* dialog) {
  ComRef<IPropertyStore> store;
  if (FAILED(dialog->GetProperties(store.ReceiveTyped())) || !store) return std::nullopt;
  PROPVARIANT value;
  PropVariantInit(&value);
  if (FAILED(store->GetValue(kEncryptionOwners, &value))) return std::nullopt;
  std::optional<std::wstring> owner;
  if (value.vt == (VT_VECTOR | VT_LPWSTR) && value.calpwstr.cElems >= 1 &&
      value.calpwstr.pElems != nullptr && value.calpwstr.pElems[0] != nullptr &&
      value.calpwstr.pElems[0][0] != 0) {
    owner = value.calpwstr.pElems[0];
  }
  PropVariantClear(&value);
  return owner;
}

}  // namespace

ModalRequest::ModalRequest() : admitted_(!g_modalPending) {
  if (admitted_) g_modalPending = true;
}

ModalRequest::~ModalRequest() {
  if (admitted_) g_modalPending = false;
}

bool IsAllowedOwnerWindow(ULONG window) {
  const HWND owner = PlayerWindow(window);
  if (window == 0 || !IsWindow(owner)) return false;
  DWORD processId = 0;
  if (GetWindowThreadProcessId(owner, &processId) == 0 || processId == 0) return false;
  std::optional<ProcessImage> image = ImageOf(processId);
  if (!image) return false;
  if (IsExplorerIn(image->path, CSIDL_PROGRAM_FILES) ||
      IsExplorerIn(image->path, CSIDL_PROGRAM_FILESX86)) {
    return true;
  }
  for (const wchar_t* name : kBrowserImages) {
    if (SameIgnoringCase(image->name, name)) return true;
  }
  return false;
}

// Retired: players use BrokerSaveDialog2.
HRESULT CoGlintBrokerServer::BrokerSaveDialog(ULONG /*p_hwnd*/, LPWSTR /*p_lpwstrInitialFileName*/,
                                              ULONG* /*p_fileCookie*/, BSTR* /*p_chosenFilePath*/) {
  return E_NOTIMPL;
}

HRESULT CoGlintBrokerServer::BrokerOpenDialog(ULONG p_hwnd, ULONG dwFilterPairs,
                                              ULONG dwFilterLength, SAFEARRAY* p_FilterArray,
                                              ULONG dwFlags, VARIANT* p_chosenFilePathArray) {
  if (p_chosenFilePathArray == nullptr) return E_INVALIDARG;
  VariantInit(p_chosenFilePathArray);
  if (!ArgumentsValid(p_hwnd, dwFilterPairs, dwFilterLength, p_FilterArray)) return E_INVALIDARG;
  FilterList filters;
  if (FAILED(filters.Parse(dwFilterPairs, p_FilterArray))) return E_INVALIDARG;
  CallReference<CoGlintBrokerServer> self(this);
  ModalRequest modal;
  if (!modal.Admitted()) return HRESULT_FROM_WIN32(ERROR_BUSY);

  ComRef<IFileOpenDialog> dialog;
  HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, dialog.Receive());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = filters.ApplyTo(dialog.Get()))) return hr;
  if (FAILED(hr = dialog->SetOptions(DialogRules::OpenDialogOptions(dwFlags)))) return hr;
  if (FAILED(hr = dialog->Show(PlayerWindow(p_hwnd)))) return hr;

  ComRef<IShellItemArray> results;
  if (FAILED(hr = dialog->GetResults(results.ReceiveTyped()))) return hr;
  DWORD count = 0;
  if (FAILED(hr = results->GetCount(&count))) return hr;
  std::vector<DialogRules::ChosenItem> items;
  for (DWORD i = 0; i < count; ++i) {
    ComRef<IShellItem> item;
    if (FAILED(hr = results->GetItemAt(i, item.ReceiveTyped()))) return hr;
    DialogRules::ChosenItem chosen;
    if (count > 1 && FAILED(hr = ItemName(item.Get(), SIGDN_PARENTRELATIVEPARSING, &chosen.name)))
      return hr;
    if (FAILED(hr = ItemName(item.Get(), SIGDN_FILESYSPATH, &chosen.path))) return hr;
    AddChosenFile(Wide(chosen.path));
    dialogPaths_.push_back(Wide(chosen.path));
    items.push_back(std::move(chosen));
  }
  DialogRules::OpenResult answer = DialogRules::SplitOpenResult(items);
  if (answer.verdict != DialogRules::Verdict::Ok) return E_FAIL;
  return StringArray(answer.strings, p_chosenFilePathArray);
}

HRESULT CoGlintBrokerServer::BrokerSaveDialog2(ULONG p_hwnd, LPWSTR p_lpwstrInitialFileName,
                                               ULONG dwFilterPairs, ULONG dwFilterLength,
                                               SAFEARRAY* p_FilterArray, ULONG dwFlags,
                                               ULONG* p_fileCookie, BSTR* p_chosenFilePath) {
  if (p_fileCookie == nullptr || p_chosenFilePath == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  *p_chosenFilePath = nullptr;
  if (!ArgumentsValid(p_hwnd, dwFilterPairs, dwFilterLength, p_FilterArray)) return E_INVALIDARG;
  FilterList filters;
  if (FAILED(filters.Parse(dwFilterPairs, p_FilterArray))) return E_INVALIDARG;
  CallReference<CoGlintBrokerServer> self(this);
  ModalRequest modal;
  if (!modal.Admitted()) return HRESULT_FROM_WIN32(ERROR_BUSY);

  ComRef<IFileSaveDialog> dialog;
  HRESULT hr = CoCreateInstance(CLSID_FileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileSaveDialog, dialog.Receive());
  if (FAILED(hr)) return hr;
  std::optional<Text> name =
      DialogRules::ProposedSaveName(reinterpret_cast<const char16_t*>(p_lpwstrInitialFileName));
  if (name && FAILED(hr = dialog->SetFileName(reinterpret_cast<LPCWSTR>(name->c_str())))) return hr;
  if (FAILED(hr = filters.ApplyTo(dialog.Get()))) return hr;
  if (FAILED(hr = dialog->SetOptions(DialogRules::SaveDialogOptions(dwFlags)))) return hr;
  {
    EnterpriseIds caller(true, srpapi_);
    OfferEncryptionOwners(dialog.Get(), caller);
  }
  if (FAILED(hr = dialog->Show(PlayerWindow(p_hwnd)))) return hr;

  ComRef<IShellItem> item;
  Text path;
  if (FAILED(dialog->GetResult(item.ReceiveTyped())) || !item ||
      FAILED(ItemName(item.Get(), SIGDN_FILESYSPATH, &path)) || path.empty()) {
    return E_FAIL;
  }
  auto pending = std::make_unique<PendingOpen>();
  pending->access = GENERIC_WRITE;
  pending->share = 0;
  pending->disposition = CREATE_ALWAYS;
  pending->flags = FILE_FLAG_RANDOM_ACCESS;
  pending->identity = ChosenEncryptionOwner(dialog.Get());
  UniqueBstr chosen(SysAllocStringLen(reinterpret_cast<const wchar_t*>(path.data()),
                                      static_cast<UINT>(path.size())));
  if (!chosen) return E_FAIL;
  FileCookie* node = cookies_.Add(INVALID_HANDLE_VALUE, std::move(pending), Wide(path));
  if (node == nullptr) return E_FAIL;
  dialogPaths_.push_back(Wide(path));
  *p_fileCookie = node->cookie;
  *p_chosenFilePath = chosen.Release();
  return S_OK;
}
