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

// Loads the control and calls its registration; a refused first call gets
// one retry after `repair` (the permission repair).
bool RegisterControlFile(HostCallbacks* host, const MString& path, void (*repair)(void*),
                         void* context);
