// Zone marking of downloaded files and audited opens of protected files.
//
// Every method applies the common argument checks first: a null out-pointer
// answers E_INVALIDARG, and out-values start cleared.
#include <windows.h>
#include <ole2.h>
#include <shobjidl.h>

#include <optional>
#include <string>

#include "broker/files/FileObject.h"
#include "broker/server/CoGlintBrokerServer.h"
#include "broker/services/EnterpriseData.h"
#include "broker/services/FileDialogs.h"
#include "foundation/ComRef.h"

namespace {

// Not in every uuid library.
const CLSID kClsidAttachmentServices = {
    0x4125DD96, 0xE03A, 0x4103, {0x8F, 0x70, 0xE0, 0x59, 0x7D, 0x80, 0x3B, 0x9C}};
const IID kIidAttachmentExecute = {
    0x73DB1241, 0x1E85, 0x4581, {0x8E, 0x4F, 0xA8, 0x1E, 0x1D, 0x0F, 0x8C, 0x57}};

// The whole BSTR, an embedded NUL included.
std::wstring Whole(BSTR value) {
  return value == nullptr ? std::wstring() : std::wstring(value, SysStringLen(value));
}

// A control character would start a line of its own in the zone record.
bool HasControlCharacters(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

PathRules::Text ToText(const std::wstring& path) {
  return PathRules::Text(reinterpret_cast<const char16_t*>(path.data()), path.size());
}

// COM on the calling thread for the length of one call.
class ComScope {
 public:
  ComScope() : ready_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (ready_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool ready_;
};

}  // namespace

HRESULT CoGlintBrokerServer::BrokerMarkFileUnsafe(BSTR p_filePath, BSTR p_sourceURL,
                                                  BSTR p_refURL) {
  std::optional<std::wstring> path = PlayerPath(p_filePath);
  if (!path || path->empty()) return E_INVALIDARG;
  const std::wstring source = Whole(p_sourceURL), referrer = Whole(p_refURL);
  if (HasControlCharacters(source) || HasControlCharacters(referrer)) return E_INVALIDARG;
  // Only a file the player may write, or one the user chose in a dialog.
  bool chosen = IsChosenFile(*path);
  for (const std::wstring& dialogPath : dialogPaths_) chosen = chosen || dialogPath == *path;
  if (!chosen && !paths_.MayWrite(ToText(*path), true)) return E_ACCESSDENIED;

  ComScope com;
  ComRef<IAttachmentExecute> attachment;
  HRESULT hr = CoCreateInstance(kClsidAttachmentServices, nullptr, CLSCTX_INPROC_SERVER,
                                kIidAttachmentExecute, attachment.Receive());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = attachment->SetLocalPath(path->c_str()))) return hr;
  if (!referrer.empty() && FAILED(hr = attachment->SetReferrer(referrer.c_str()))) return hr;
  if (!source.empty() && FAILED(hr = attachment->SetSource(source.c_str()))) return hr;
  return attachment->Save();
}

HRESULT CoGlintBrokerServer::BrokerOpenFileWithAuditingInfo(BSTR pFileName, BSTR pRemoteUrl,
                                                            ULONG p_hwnd, ULONG* p_fileCookie) {
  if (p_fileCookie == nullptr) return E_INVALIDARG;
  *p_fileCookie = 0;
  HRESULT ordinary = BrokerCreateFile(pFileName, TRUE, FALSE, p_fileCookie);
  if (ordinary != E_ACCESSDENIED) return ordinary;
  // Without enterprise identities nothing is asked: the answer stands.
  if (!processIds_->HasIdentity()) return E_ACCESSDENIED;
  std::optional<std::wstring> expanded = PlayerPath(pFileName);
  if (!expanded || expanded->empty()) return E_ACCESSDENIED;
  const std::wstring& path = *expanded;
  BrokerFileProtectionInfo protection(path);
  if (!protection.IsProtected()) return E_ACCESSDENIED;
  if (!protection.Identity().empty() && !processIds_->Holds(protection.Identity())) {
    return E_ACCESSDENIED;
  }
  if (!IsAllowedOwnerWindow(p_hwnd)) return E_ACCESSDENIED;
  std::wstring client;
  {
    EnterpriseIds caller(true, srpapi_);
    if (const wchar_t* first = caller.Identity(0)) client = first;
  }

  CallReference<CoGlintBrokerServer> self(this);
  {
    ModalRequest modal;
    if (!modal.Admitted() ||
        !RequestAccessWithAuditing(path, protection.Identity().c_str(), Whole(pRemoteUrl),
                                   client.c_str(), p_hwnd)) {
      return E_ACCESSDENIED;
    }
  }

  FileObject::Opened opened = FileObject::OpenForPlayer(path, GENERIC_READ, FILE_SHARE_READ,
                                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
  if (!opened.handle) {
    opened = FileObject::OpenForPlayer(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
  }
  if (!opened.handle) return E_ACCESSDENIED;
  // The file opened is the one whose protection was asked about.
  if (!FileObject::KeepIfAdmitted(opened, [&](const std::wstring& final) {
        return paths_.IsSamePlace(ToText(final), ToText(path));
      })) {
    return E_ACCESSDENIED;
  }
  FileCookie* node = cookies_.Add(opened.handle.Get(), nullptr, path);
  if (node == nullptr) return E_ACCESSDENIED;
  opened.handle.Release();
  node->readable = true;
  *p_fileCookie = node->cookie;
  return S_OK;
}
