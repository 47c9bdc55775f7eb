// A multi-language object for the font-link tests, made the TreatAs of the
// system's class by the test that uses it. Values under the stand-ins' key:
//   MLangCreate    REG_DWORD HRESULT: creation fails with it
//   MLangNoLink    REG_DWORD 1: no IMLangFontLink
//   MLangResult    REG_DWORD HRESULT every font-link call answers
//   MLangFont      REG_SZ the font MapFont returns, in hex (GetFontCodePages gives 1)
//   MLangLog       REG_SZ file that gets "codepages|release dc font\n", handles in hex
#include <windows.h>
#include <mlang.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>

#include "StandInSettings.h"

namespace {

const IID kIidMultiLanguage = {
    0x275C23E1, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
const IID kIidFontLink = {
    0x359F3441, 0xBD4A, 0x11D0, {0xB1, 0x88, 0x00, 0xAA, 0x00, 0x38, 0xC9, 0x69}};

void Log(const char* call, const void* dc, const void* font) {
  std::wstring path;
  if (!standin::ReadText(L"MLangLog", REG_SZ, &path)) return;
  if (FILE* file = _wfopen(path.c_str(), L"ab")) {
    std::fprintf(file, "%s %llX %llX\n", call, reinterpret_cast<unsigned long long>(dc),
                 reinterpret_cast<unsigned long long>(font));
    std::fclose(file);
  }
}

HRESULT Answer() {
  return standin::ReadResult(L"MLangResult", S_OK);
}

// IMultiLanguage's own methods are never called by the broker: only its
// IUnknown, through which the font link is asked for.
class FontLink final : public IMLangFontLink {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    const bool link = standin::ReadResult(L"MLangNoLink", 0) == 0;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidMultiLanguage) ||
        (link && IsEqualIID(iid, kIidFontLink))) {
      *out = static_cast<IMLangFontLink*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetCharCodePages(WCHAR, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStrCodePages(const WCHAR*, LONG, DWORD, DWORD*, LONG*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CodePageToCodePages(UINT, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CodePagesToCodePage(DWORD, UINT, UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFontCodePages(HDC dc, HFONT font, DWORD* pages) override {
    Log("codepages", dc, font);
    const HRESULT answer = Answer();
    if (SUCCEEDED(answer)) *pages = 0x1;
    return answer;
  }
  HRESULT STDMETHODCALLTYPE MapFont(HDC, DWORD, HFONT, HFONT* mapped) override {
    const HRESULT answer = Answer();
    std::wstring value;
    standin::ReadText(L"MLangFont", REG_SZ, &value);
    if (SUCCEEDED(answer))
      *mapped = reinterpret_cast<HFONT>(std::wcstoull(value.c_str(), nullptr, 16));
    return answer;
  }
  HRESULT STDMETHODCALLTYPE ReleaseFont(HFONT font) override {
    Log("release", nullptr, font);
    return Answer();
  }
  HRESULT STDMETHODCALLTYPE ResetFontMapping() override { return S_OK; }

 private:
  ~FontLink() = default;
  std::atomic<ULONG> references_{1};
};

// A static class object: its references do not keep the library loaded.
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool mine = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory);
    *out = mine ? static_cast<IClassFactory*>(this) : nullptr;
    return mine ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    const HRESULT refused = standin::ReadResult(L"MLangCreate", S_OK);
    if (FAILED(refused)) return refused;
    FontLink* link = new FontLink;
    const HRESULT result = link->QueryInterface(iid, out);
    link->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};
Factory g_factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** out) {
  return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return S_FALSE;
}
