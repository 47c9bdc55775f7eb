#include "engine/StatusDetail.h"

MString HexError(uint32_t error) {
  return FormatNumber(error, 16);
}
MString DecimalError(uint32_t error) {
  return FormatNumber(error, 10);
}

MString PathWithHexError(const MString& path, uint32_t error) {
  return path + MString(u" ") + HexError(error);
}

MString PathWithDecimalError(const MString& path, uint32_t error) {
  return path + MString(u" ") + DecimalError(error);
}

MString RegistryDetail(const MString& key, const MString& valueName, uint32_t error, bool spaced) {
  MString detail = key;
  if (!valueName.IsEmpty()) detail += MString(u"/") + valueName;
  if (spaced) detail += MString(u" ");
  detail += HexError(error);
  return detail;
}

void ReportStatus(HostCallbacks* host, int32_t level, uint32_t code, const MString& detail) {
  if (host != nullptr) host->ReportStatus(0, level, code, detail.Give());
}
