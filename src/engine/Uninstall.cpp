#include "engine/Uninstall.h"

#include <windows.h>

#include "engine/GlintBrokerShim.h"
#include "engine/HostCallbacks.h"
#include "engine/KeyTableActions.h"
#include "engine/SetupEngine.h"
#include "engine/StatusDetail.h"
#include "foundation/Registry.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr uint32_t kStatusCheckingInUse = 20;
constexpr uint32_t kStatusUnlockingFile = 52;
constexpr uint32_t kStatusFileNotDeleted = 1015;
constexpr uint32_t kStatusRestartFailed = 1045;
constexpr uint32_t kStatusEmptyFileHeld = 1046;
constexpr uint32_t kStatusDeletedAtRestart = 1047;
constexpr uint32_t kFlagCheckInUse = 512;

UniqueHandle Open(const MString& path, DWORD access) {
  return UniqueHandle(CreateFileW(W(path), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

const MStringList* KeepList(const SetupEngine* engine, uint32_t type) {
  if (engine == nullptr) return nullptr;
  switch (type) {
    case kPlayerActiveX:
      return &engine->keepListActiveX;
    case kPlayerPlugin:
      return &engine->keepListPlugin;
    case kPlayerPepper:
      return &engine->keepListPepper;
    default:
      return nullptr;
  }
}

}  // namespace

uint32_t RemovePlayerFile(GlintBrokerShim* shim, const MString& path, uint32_t type) {
  HostCallbacks* host = shim->Host();
  // Absent: it cannot be opened for reading, for any reason but a refusal.
  if (!Open(path, GENERIC_READ) && GetLastError() != ERROR_ACCESS_DENIED) return 0;
  if (DeleteFileW(W(path))) return 0;
  uint32_t error = GetLastError();
  // Both reports carry the first error.
  const MString detail = PathWithHexError(path, error);
  if (error != ERROR_FILE_NOT_FOUND) {
    ReportStatus(host, kStatusError, kStatusFileNotDeleted, detail);
    if (type == kPlayerActiveX) {
      shim->RepairControlPermissions();
    } else {
      ReportStatus(host, kStatusProgress, kStatusUnlockingFile, path);
      LockFile(path, false);
    }
    SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
    error = DeleteFileW(W(path)) ? 0 : GetLastError();
  }
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    const MStringList* keep = KeepList(shim->GetEngine(), type);
    bool kept = false;
    if (keep != nullptr && host != nullptr && host->IsInteractive()) {
      for (const auto& node : *keep) kept = kept || EndsWith(path, node.key);
    }
    if (!kept && ScheduleDeleteAtRestart(shim, path)) {
      ReportStatus(host, kStatusAtRestart, kStatusDeletedAtRestart, path);
    }
  }
  if (error != 0) ReportStatus(host, kStatusError, kStatusFileNotDeleted, detail);
  return error;
}

bool ScheduleDeleteAtRestart(GlintBrokerShim* shim, const MString& path) {
  RegKey key;
  if (key.Create(HKEY_LOCAL_MACHINE,
                 MString(u"SYSTEM\\CurrentControlSet\\Control\\Session Manager"),
                 KEY_SET_VALUE) == ERROR_SUCCESS) {
    key.WriteDword(MString(u"AllowProtectedRenames"), 1);
  }
  if (MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
  ReportStatus(shim->Host(), kStatusError, kStatusRestartFailed,
               PathWithDecimalError(path, GetLastError()));
  return false;
}

uint32_t CheckFileInUse(GlintBrokerShim* shim, uint32_t flags, const MString& path) {
  ReportStatus(shim->Host(), kStatusProgress, kStatusCheckingInUse, path);
  if (!(flags & kFlagCheckInUse)) return 0;
  if (GetFileAttributesW(W(path)) == INVALID_FILE_ATTRIBUTES) return 0;
  if (Open(path, GENERIC_WRITE)) return 0;
  UniqueHandle reading = Open(path, GENERIC_READ);
  if (!reading) return 0;
  LARGE_INTEGER size = {};
  GetFileSizeEx(reading.Get(), &size);
  if (size.QuadPart != 0) return 1;
  ReportStatus(shim->Host(), kStatusError, kStatusEmptyFileHeld, path);
  return 2;
}
