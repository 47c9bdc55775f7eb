// The scheduled task that runs the updater's check for a plugin type.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class HostCallbacks;

// Registers (or replaces) the type's notifier task; false while the task
// scheduler binding is not part of this build.
bool RegisterNotifierTask(const MString& program, const MString& arguments, HostCallbacks* host,
                          uint32_t type);
// Deletes the type's notifier task; false when there is none to delete.
bool DeleteNotifierTask(HostCallbacks* host, uint32_t type);
