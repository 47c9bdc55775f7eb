#include "update/UpdateNoticeWin32.h"

#include <windows.h>

#include "foundation/Registry.h"
#include "update/UpdateNotice.h"

bool ReadOfferDocument(MString* document) {
  const MString name(u"description");
  RegKey key;
  if (key.Open(HKEY_CURRENT_USER, MString(kUpdateNoticeKey)) != ERROR_SUCCESS) return false;
  // Only a plain string is an offer: any other type counts as no offer at all.
  DWORD type = REG_NONE;
  if (RegQueryValueExW(key.Get(), L"description", nullptr, &type, nullptr, nullptr) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  return key.ReadString(name, document) == ERROR_SUCCESS;
}

bool RejectStoredOffer() {
  MString document, version;
  if (!ReadOfferDocument(&document) || !ExtractUpdateVersion(document, &version)) return false;
  RegKey key;
  if (key.Open(HKEY_CURRENT_USER, MString(kUpdateNoticeKey), KEY_SET_VALUE) == ERROR_SUCCESS) {
    key.WriteString(MString(u"Rejected"), version);
  }
  return true;
}

bool ReadStoredNotice(MConfigNode** texts) {
  MString document;
  return texts != nullptr && ReadOfferDocument(&document) && ParseNoticeContent(texts, document);
}

bool ReadStoredOfferVersion(MString* version) {
  MString document;
  return version != nullptr && ReadOfferDocument(&document) &&
         ExtractUpdateVersion(document, version);
}
