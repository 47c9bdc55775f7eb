// Status reports to the host: the codes the engine reports and the one
// place where their detail strings are formatted.
#pragma once

#include <cstdint>

#include "engine/HostCallbacks.h"
#include "foundation/MString.h"

// Windows error in hexadecimal (upper case, no prefix), and in decimal.
MString HexError(uint32_t error);
MString DecimalError(uint32_t error);
// "path error-in-hex"
MString PathWithHexError(const MString& path, uint32_t error);
// "path error-in-decimal", for restart scheduling and process starts.
MString PathWithDecimalError(const MString& path, uint32_t error);
// "key/value error-in-hex"; without `spaced` no space before the error (code
// 1035), and an empty value name leaves out "/value" (code 1037 on keys).
MString RegistryDetail(const MString& key, const MString& valueName, uint32_t error,
                       bool spaced = true);

// Sends one report to the host; a missing host is not an error.
void ReportStatus(HostCallbacks* host, int32_t level, uint32_t code,
                  const MString& detail = MString(u""));
