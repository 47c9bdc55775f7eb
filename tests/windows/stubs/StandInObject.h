// Reference counting and QueryInterface for the stand-ins' objects: IUnknown
// and `kIids` answer the first base, Other any further interface.
#pragma once

#include <windows.h>

#include <atomic>

namespace standin {

template <typename Base, const IID&... kIids>
class Unknown : public Base {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = Other(iid);
    if (IsEqualIID(iid, IID_IUnknown) || (IsEqualIID(iid, kIids) || ...))
      *out = static_cast<Base*>(this);
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

 protected:
  virtual ~Unknown() = default;
  virtual void* Other(REFIID) { return nullptr; }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace standin
