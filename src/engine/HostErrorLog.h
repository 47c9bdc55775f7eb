// The host's error log, as the failure panel reads it: a table of operations
// the host implements, one virtual per slot in slot order and no virtual
// destructor. The host keeps the entries (its own status reports among
// them) and turns one into the text the user sees.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class HostCallbacks;

// Entry severities, as ReportStatus levels map onto them: 2 and above are
// the ones worth showing to the user.
inline constexpr int32_t kLogSeverityShown = 2;

class HostErrorLog {
 public:
  virtual uint32_t Count();  // 0
  // Entry `index` (0 is the oldest); false when there is none.
  virtual bool Entry(uint32_t index, int32_t* severity, uint32_t* code, MString* detail);  // 1
  // The text for one entry; `detail` is adopted by the callee.
  virtual void Format(MString* text, HostCallbacks* host, int32_t severity, uint32_t code,
                      MStringArg detail, int32_t reserved);  // 2

 protected:
  ~HostErrorLog() = default;
};

inline uint32_t HostErrorLog::Count() {
  return 0;
}
inline bool HostErrorLog::Entry(uint32_t, int32_t*, uint32_t*, MString*) {
  return false;
}
inline void HostErrorLog::Format(MString*, HostCallbacks*, int32_t, uint32_t, MStringArg detail,
                                 int32_t) {
  MString::Adopt(detail);
}

inline constexpr uint32_t kHostErrorLogSlots = 3;
