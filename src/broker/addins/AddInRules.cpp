#include "broker/addins/AddInRules.h"

#include <cstring>

namespace AddInRules {

bool IsValidName(const std::u16string& name) {
  if (name.empty() || name.size() > 31) return false;
  for (char16_t c : name) {
    bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    bool digit = c >= u'0' && c <= u'9';
    if (!letter && !digit) return false;
  }
  return true;
}

std::optional<DownloadAddress> ParseDownloadAddress(const std::string& url) {
  DownloadAddress address;
  size_t at = 0;
  if (url.size() < std::strlen("https://")) return std::nullopt;
  if (url.compare(0, 8, "https://") == 0) {
    address.secure = true;
    at = 8;
  } else if (url.compare(0, 7, "http://") == 0) {
    at = 7;
  } else {
    return std::nullopt;
  }
  size_t label = at;
  while (at < url.size() && at - label < 33) {
    char c = url[at];
    bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    if (!allowed) break;
    ++at;
  }
  size_t labelLength = at - label;
  if (labelLength < 1 || labelLength > 32 || at >= url.size() || url[at] != '.') {
    return std::nullopt;
  }
  ++at;
  std::string domain = kMakerDomain;
  if (url.compare(at, domain.size(), domain) != 0) return std::nullopt;
  at += domain.size();
  if (at >= url.size() || url[at] != '/') return std::nullopt;
  address.host = url.substr(label, at - label);
  address.path = url.substr(at);
  return address;
}

std::string RunningMutexName(const std::u16string& name) {
  std::string mutex = "KestrelinkMutexGamma";
  for (char16_t c : name) {
    char narrow = static_cast<char>(c);
    if (narrow >= 'A' && narrow <= 'Z') narrow = static_cast<char>(narrow - 'A' + 'a');
    mutex += narrow;
  }
  return mutex;
}

std::optional<PackageHeader> ReadPackageHeader(const uint8_t* content, size_t size) {
  if (content == nullptr || size < 8 || std::memcmp(content, "Troy", 4) != 0) return std::nullopt;
  PackageHeader header;
  header.unpackedSize =
      static_cast<uint32_t>(content[4]) | (static_cast<uint32_t>(content[5]) << 8) |
      (static_cast<uint32_t>(content[6]) << 16) | (static_cast<uint32_t>(content[7]) << 24);
  // A size of ten times the package or more is refused before any memory is
  // taken for it.
  if (static_cast<uint64_t>(header.unpackedSize) >= static_cast<uint64_t>(size) * 10) {
    return std::nullopt;
  }
  return header;
}

}  // namespace AddInRules
