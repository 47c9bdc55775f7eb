// Removal of the player's files: deletion with one retry, scheduling at the
// next restart, and the in-use check.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class GlintBrokerShim;
class HostCallbacks;

// Deletes a player file; answers the Windows error (0 when it is gone or was
// absent). A file still held is scheduled for deletion at restart unless it
// is on the type's keep list and the host is interactive.
uint32_t RemovePlayerFile(GlintBrokerShim* shim, const MString& path, uint32_t type);

// Asks the system to delete the file at the next restart; false (reported)
// when it cannot.
bool ScheduleDeleteAtRestart(HostCallbacks* host, const MString& path);

// With flag 512: 1 when the file is held (it opens for reading only), 2 when
// it is held and empty, 0 otherwise. Without the flag: 0.
uint32_t CheckFileInUse(GlintBrokerShim* shim, uint32_t flags, const MString& path);

// A type's install record (uninstall step 1): the player file and, for the
// control type, the uninstaller. `found` as the record counts; without it
// (reported 1018 when asked) the registrations stand in.
struct InstallRecord {
  MString player;
  MString uninstaller;
  bool found = false;
};
InstallRecord ReadInstallRecord(GlintBrokerShim* shim, uint32_t type, bool fallBack);

// Deletes the type's HKLM key; the control type keeps it with its installed
// marker at 0.
bool RemoveInstalledMarker(uint32_t type);
// Deletes the type's per-user and release-type entries (each failure
// reported, 1037; a missing entry counts as one).
bool CleanTypeRegistry(GlintBrokerShim* shim, uint32_t type);
// Removes a utility file the types share once no type is installed.
bool RemoveSharedUtilityFile(GlintBrokerShim* shim, const MString& path);
// Runs the separately installed assistant's uninstaller when it is there.
bool UninstallAssistant(GlintBrokerShim* shim);

// Deletes the executable's per-program options key (named by its file name).
void DeleteOptionsKey(const MString& program);
// The setup's existence test: the path opens for reading with read sharing,
// or refuses with access denied (what a folder answers).
bool PathExists(const MString& path);

// Whether the type has an install record (step 1's reading, no fallback).
bool HasInstallRecord(uint32_t type);

// The background services' removal steps (slots 13, 10, 19, 17). Each
// answers false when a step failed, after reporting it.
bool RemoveUpdateService(HostCallbacks* host, const MString& path, bool setNotify);
bool RemoveSystemUpdateService(HostCallbacks* host, const MString& systemDir);
bool RemoveFeedbackService(HostCallbacks* host, const MString& feedbackPath,
                           const MString& updatePath, bool forced);
bool RemoveHelperService(HostCallbacks* host, const MString& path, bool skipPartnerCheck);
