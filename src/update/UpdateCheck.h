// The update check's query string, without the system: what this install
// tells the update server about itself. The Win32 layer gathers the inputs
// (host answers, the user's language, WOW64, the Windows version) and sends
// the request.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

inline constexpr uint32_t kPlayerTypeFull = 524027;  // 0x7FEFB
inline constexpr uint32_t kHostFlagRelease = 1024;   // host flag: not a debug build

struct UpdateCheckInputs {
  MString ownVersion;  // the engine's own version
  // Arguments of the check.
  uint32_t playerType = 0;
  uint32_t installVector = 0;
  uint32_t errorCode = 0;
  uint32_t windowsError = 0;
  // Host answers.
  uint32_t hostInstallVector = 0;
  MString previousVersion;
  MString processName;
  uint32_t hostFlags = 0;
  // The system's.
  uint16_t languageId = 0;
  bool wow64 = false;
  uint32_t osVersionCode = 0;
};

// "?version=…&installVector=…&…", every value as it is (not URL-encoded).
MString UpdateCheckQuery(const UpdateCheckInputs& in);

// Language of a LANGID: the low 10 bits name the language, the high 6 the
// sublanguage; an unlisted language gives "xu".
MString LanguageCode(uint16_t languageId);
// "full", "ax", "pl", "pep" or "unk".
MString PlayerTypeValue(uint32_t playerType);

// One version condition of the Windows version table.
enum class ProductKind { kAny, kWorkstation, kServer };
struct VersionCondition {
  uint32_t major;
  uint32_t minor;
  bool orLater;         // greater-or-equal on major, minor and service-pack 0; else equal x.y
  uint32_t build;       // with orLater: the build must reach it too (0: no build test)
  ProductKind product;  // server: anything but a workstation
  uint16_t suiteBits;   // every bit set in the suite mask (0: no suite test)
};

// The answers of the running system to version conditions.
class VersionFacts {
 public:
  virtual bool Matches(const VersionCondition& condition) const = 0;
  virtual bool IsAmd64() const = 0;

 protected:
  ~VersionFacts() = default;
};

// The code of the first row of the version table whose conditions hold; 0
// when none does.
uint32_t OsVersionCode(const VersionFacts& facts);
