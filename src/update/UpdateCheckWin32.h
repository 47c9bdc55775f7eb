// The update check's system side: the inputs the host and the system give,
// the URL, and the request that is opened and closed unread.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class HostCallbacks;

struct UpdateCheckArguments {
  uint32_t playerType = 0;
  uint32_t installVector = 0;
  uint32_t errorCode = 0;
  uint32_t windowsError = 0;
};

// The full URL the check sends for these arguments on this system.
MString UpdateCheckUrl(HostCallbacks* host, const MString& ownVersion,
                       const UpdateCheckArguments& arguments);

// Opens the URL and closes it at once; nothing is read and nothing reported.
// Connecting, sending and receiving are each bounded by `phaseLimitMs`, and
// the caller is never held longer than the three together (plus a short
// grace), so that a dead network never holds it for long.
inline constexpr uint32_t kUpdatePhaseLimitMs = 30000;
void SendUpdateCheck(const MString& url, unsigned long phaseLimitMs = kUpdatePhaseLimitMs);
