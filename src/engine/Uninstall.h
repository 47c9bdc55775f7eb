// Removal of the player's files: deletion with one retry, scheduling at the
// next restart, and the in-use check.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class GlintBrokerShim;

// Deletes a player file; answers the Windows error (0 when it is gone or was
// absent). A file still held is scheduled for deletion at restart unless it
// is on the type's keep list and the host is interactive.
uint32_t RemovePlayerFile(GlintBrokerShim* shim, const MString& path, uint32_t type);

// Asks the system to delete the file at the next restart; false (reported)
// when it cannot.
bool ScheduleDeleteAtRestart(GlintBrokerShim* shim, const MString& path);

// With flag 512: 1 when the file is held (it opens for reading only), 2 when
// it is held and empty, 0 otherwise. Without the flag: 0.
uint32_t CheckFileInUse(GlintBrokerShim* shim, uint32_t flags, const MString& path);
