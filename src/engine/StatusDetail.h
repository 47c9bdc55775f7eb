// Status reports to the host: the codes the engine reports and the one
// place where their detail strings are formatted.
#pragma once

#include <cstdint>

#include "engine/HostCallbacks.h"
#include "foundation/MString.h"

// The codes the engine reports (the detail of each is said where it is sent).
inline constexpr uint32_t kStatusRepairingPermissions = 18;
inline constexpr uint32_t kStatusCheckingInUse = 20;
inline constexpr uint32_t kStatusServiceStopped = 35;
inline constexpr uint32_t kStatusUnlockingFile = 52;
inline constexpr uint32_t kStatusFileNotDeleted = 1015;
inline constexpr uint32_t kStatusMarkerKept = 1017;
inline constexpr uint32_t kStatusRecordMissing = 1018;
inline constexpr uint32_t kStatusNoPlayerPath = 1019;
inline constexpr uint32_t kStatusNoUninstallerPath = 1020;
inline constexpr uint32_t kStatusTypeRegistryKept = 1021;
inline constexpr uint32_t kStatusControlRefused = 1032;
inline constexpr uint32_t kStatusControlNotLoaded = 1033;
inline constexpr uint32_t kStatusControlNoEntry = 1034;
inline constexpr uint32_t kStatusWriteFailed = 1035;
inline constexpr uint32_t kStatusReadFailed = 1036;
inline constexpr uint32_t kStatusDeleteFailed = 1037;
inline constexpr uint32_t kStatusRestartFailed = 1045;
inline constexpr uint32_t kStatusEmptyFileHeld = 1046;
inline constexpr uint32_t kStatusDeletedAtRestart = 1047;
inline constexpr uint32_t kStatusSharedFileKept = 1048;
inline constexpr uint32_t kStatusUpdateServiceKept = 1100;
inline constexpr uint32_t kStatusNoManager = 1101;
inline constexpr uint32_t kStatusNoService = 1102;
inline constexpr uint32_t kStatusStopRefused = 1106;
inline constexpr uint32_t kStatusCannotStart = 1118;
inline constexpr uint32_t kStatusFeedbackKept = 1738;
inline constexpr uint32_t kStatusCannotStartUninstall = 1739;
inline constexpr uint32_t kStatusStatusLost = 1741;
inline constexpr uint32_t kStatusStoppedLate = 1743;
inline constexpr uint32_t kStatusNeverStopped = 1744;
inline constexpr uint32_t kStatusNoStatus = 1745;
inline constexpr uint32_t kStatusHelperKept = 1786;
inline constexpr uint32_t kStatusFolderKept = 1833;
inline constexpr uint32_t kStatusAssistantKept = 1834;

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
