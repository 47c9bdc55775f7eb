// What registering a player type writes: the control or plugin registration,
// the Add/Remove Programs entry and the install record. Each failed registry
// write is reported (1035) and stops the rest of its group.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class HostCallbacks;
class SetupEngine;

// The plugin's browser registration key under HKLM.
extern const char16_t kPluginRegistrationKey[];

bool WriteArpEntry(HostCallbacks* host, uint32_t type, const MString& uninstallerPath);
bool WriteInstallRecord(HostCallbacks* host, const SetupEngine& engine, const MString& playerPath,
                        const MString& uninstallerPath, uint32_t type);
bool RegisterPluginEntry(HostCallbacks* host, const MString& path);

// The control's registered file (its class's InprocServer32 under HKLM, read
// narrow and decoded as UTF-8); empty when none is registered.
MString RegisteredControlFile();
// Unlocks, unregisters and deletes the control's registration; with
// `removeSafeVersions` also its safe-version list. True when a control file
// was registered.
bool UnregisterControl(bool removeSafeVersions);
// The control file's own unregistration: its keys and the file unlocked,
// its DllUnregisterServer called, its machine keys deleted.
void UnregisterControlFile(const MString& file);
// Unlocks the broker's keys and executable and removes its registration;
// false when no broker is registered.
bool UnregisterBroker();
// Deletes the type's Add/Remove Programs entries and runs the installer's
// removal of each listed product found in either registry view; false when
// the type lists no product.
bool RemoveArpEntries(const SetupEngine& engine, const MString& dir, uint32_t type);

// Loads the control and calls its registration; a refused first call gets
// one retry after `repair` (the permission repair).
bool RegisterControlFile(HostCallbacks* host, const MString& path, void (*repair)(void*),
                         void* context);
