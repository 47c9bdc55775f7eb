// Rules for add-in applications that need no system: which names are
// acceptable, which download addresses, and the package format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace AddInRules {

// The maker's domain: every add-in comes from a host directly below it. A
// reserved name, so that nothing is ever fetched from a real host.
inline constexpr char kMakerDomain[] = "glint.example";

// 1 to 31 characters, each an ASCII letter or digit.
bool IsValidName(const std::u16string& name);

struct DownloadAddress {
  bool secure = false;  // https
  std::string host;     // label + "." + the maker's domain
  std::string path;     // from the '/' after the host on
};

// "http://" or "https://", a first host label of 1 to 32 characters from
// a-z, 0-9 and '-', a '.', the maker's domain and a '/'. Anything else is
// refused.
std::optional<DownloadAddress> ParseDownloadAddress(const std::string& url);

// The running-instance mutex: "KestrelinkMutexGamma" + the name with ASCII
// capitals lowered.
std::string RunningMutexName(const std::u16string& name);

// A signed package's content: "Troy", the unpacked size (32-bit little
// endian), then the compressed bytes. The size must be below ten times the
// content's size.
struct PackageHeader {
  uint32_t unpackedSize = 0;
  size_t payloadOffset = 8;
};
std::optional<PackageHeader> ReadPackageHeader(const uint8_t* content, size_t size);

}  // namespace AddInRules
