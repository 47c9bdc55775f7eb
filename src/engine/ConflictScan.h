// The conflict scan on the running system: the process snapshot through
// psapi, the host's answers, the decision, and the end of the designated
// process when the decision calls for it.
#pragma once

#include <cstdint>

#include "foundation/MStringList.h"

class GlintBrokerShim;

// A new list of (base name, display name) for the caller to free; null when
// the process list cannot be read.
MStringList* FindConflictingProcesses(GlintBrokerShim* shim, uint32_t mask);
