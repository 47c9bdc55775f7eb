// Local connections: the shared block through which player instances
// exchange messages. A sandboxed player cannot open the block, so the broker
// object's accessor does each step for it.
//
// In these methods a null out-pointer and a missing accessor both answer
// E_FAIL; out-values start cleared. Names arrive as BSTRs and reach the
// accessor as UTF-8.
#include "broker/server/ByteBlob.h"
#include "broker/server/CoGlintBrokerServer.h"

#include <cstring>
#include <new>
#include <string_view>

#include "broker/localconnection/LcdAccessorWin32.h"
#include "foundation/ComRef.h"

namespace {

// A connection name as the block stores it. A name whose UTF-8 form is
// longer than the whole connection list cannot be in it.
class LcdName {
 public:
  explicit LcdName(BSTR text) {
    UINT units = SysStringLen(text);
    if (units == 0) {
      fits_ = true;
      return;
    }
    if (units > lcd::kListSize) return;  // every unit takes at least one byte
    int written = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), bytes_,
                                      sizeof bytes_, nullptr, nullptr);
    if (written <= 0) return;
    size_ = static_cast<size_t>(written);
    fits_ = true;
  }
  LcdName(const LcdName&) = delete;
  LcdName& operator=(const LcdName&) = delete;

  bool Fits() const { return fits_; }
  std::string_view View() const { return {bytes_, size_}; }

 private:
  char bytes_[lcd::kListSize];
  size_t size_ = 0;
  bool fits_ = false;
};

// Access to an array's elements for the length of a scope.
class ArrayData {
 public:
  explicit ArrayData(SAFEARRAY* array) : array_(array) {
    result_ = SafeArrayAccessData(array_, &data_);
  }
  ArrayData(const ArrayData&) = delete;
  ArrayData& operator=(const ArrayData&) = delete;
  ~ArrayData() {
    if (SUCCEEDED(result_)) SafeArrayUnaccessData(array_);
  }
  HRESULT Result() const { return result_; }
  void* Data() const { return data_; }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
  HRESULT result_;
};

}  // namespace

Win32LcdAccessor* CoGlintBrokerServer::Lcd() {
  // An accessor that found the block taken for the whole time it may wait
  // has no memory; the next call opens it again rather than keeping that.
  if (!lcdAccessor_ || lcdAccessor_->OpeningTimedOut()) {
    lcdAccessor_.reset(new (std::nothrow) Win32LcdAccessor());
  }
  return lcdAccessor_.get();
}

HRESULT CoGlintBrokerServer::BrokerLcdLock(LONG* p_refCount) {
  if (p_refCount == nullptr) return E_FAIL;
  *p_refCount = 0;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  *p_refCount = lcd->Lock();
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLcdUnlock(LONG* p_refCount) {
  if (p_refCount == nullptr) return E_FAIL;
  *p_refCount = 0;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  *p_refCount = lcd->Unlock();
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLcdLockTime(LONG* p_lockTime) {
  if (p_lockTime == nullptr) return E_FAIL;
  *p_lockTime = 0;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  *p_lockTime = static_cast<LONG>(lcd->LockTime());
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLcdFindConnectionFormat(BSTR p_string, ULONG p_realm,
                                                           LONG* p_format) {
  if (p_format == nullptr) return E_FAIL;
  *p_format = 0;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  LcdName name(p_string);
  if (!name.Fits()) return S_FALSE;
  *p_format = lcd->FindConnectionFormat(name.View(), p_realm);
  return *p_format != 0 ? S_OK : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerLcdRemoveConnection(BSTR p_string, ULONG p_realm) {
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  LcdName name(p_string);
  if (!name.Fits()) return S_FALSE;
  return lcd->RemoveConnection(name.View(), p_realm) ? S_OK : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerLcdTryAddConnection(BSTR p_string, ULONG p_realmToSeek,
                                                       ULONG p_realmToAdd,
                                                       LONG p_msgFormatVersion) {
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  LcdName name(p_string);
  if (!name.Fits()) return S_FALSE;
  return lcd->TryAddConnection(name.View(), p_realmToSeek, p_realmToAdd, p_msgFormatVersion)
             ? S_OK
             : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerLcdGetMessageTarget(BSTR* p_string) {
  if (p_string == nullptr) return E_FAIL;
  *p_string = nullptr;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  char target[lcd::kTargetBufferSize];
  if (!lcd->GetMessageTarget(target, sizeof target)) return S_FALSE;
  auto bytes = static_cast<int>(std::strlen(target));
  int units = bytes == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, target, bytes, nullptr, 0);
  BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (text == nullptr) return E_FAIL;
  if (units != 0) MultiByteToWideChar(CP_UTF8, 0, target, bytes, text, units);
  *p_string = text;
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLcdDispatchMessage(SAFEARRAY* p_msgData,
                                                      ULONG p_senderGmvVersion,
                                                      ULONG p_expectedMsgFormat, ULONG p_realm) {
  ByteBlob message(p_msgData);
  if (!message.Valid()) return message.Result();
  if (message.Bytes().size() > lcd::kDataSize) return E_FAIL;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  int32_t result = lcd->DispatchMessage(message.Bytes().data(),
                                        static_cast<uint32_t>(message.Bytes().size()),
                                        p_senderGmvVersion, p_expectedMsgFormat, p_realm);
  if (result == lcd::kDispatchPosted) return S_OK;
  return result == lcd::kDispatchNoReceiver ? E_INVALIDARG : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerLcdClearMessage() {
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  return lcd->ClearMessage() ? S_OK : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerLcdPruneDeadMessage() {
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  return lcd->PruneDeadMessage() ? S_OK : S_FALSE;
}

HRESULT CoGlintBrokerServer::BrokerLcdGetMessageData(SAFEARRAY** p_msgData) {
  if (p_msgData == nullptr) return E_FAIL;
  *p_msgData = nullptr;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (!lcd->GetMessageData(&data, &length)) return S_FALSE;
  UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, length));
  if (!array) return E_FAIL;
  {
    ArrayData copy(array.Get());
    if (FAILED(copy.Result())) return E_FAIL;
    std::memcpy(copy.Data(), data, length);
  }
  *p_msgData = array.Release();
  return S_OK;
}

HRESULT CoGlintBrokerServer::BrokerLcdMessageTimeout(LONG* p_timeout) {
  if (p_timeout == nullptr) return E_FAIL;
  *p_timeout = 0;
  ILcdAccessor* lcd = Lcd();
  if (lcd == nullptr) return E_FAIL;
  *p_timeout = lcd->MessageTimeout();
  return S_OK;
}
