// The scheduled task that runs the updater's check for a plugin type: the
// task scheduler's current interfaces on Windows 6.0 and later, its first
// interfaces before that.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class HostCallbacks;

// One registration: built (looking up the console user's account), used once
// and destroyed by RegisterNotifierTask.
class NotifierTask {
 public:
  NotifierTask(MString program, MString arguments, HostCallbacks* host);
  NotifierTask(const NotifierTask&) = delete;
  NotifierTask& operator=(const NotifierTask&) = delete;

  // Creates the type's task, or updates the one that exists.
  bool Register(uint32_t type);

  // "domain\user", the user alone, or empty.
  const MString& Account() const { return account_; }
  // 2 on Windows 6.0 or later, else 1.
  uint32_t Generation() const { return generation_; }

 private:
  void LookUpAccount();
  bool RegisterCurrent(const MString& name, const MString& description);
  bool RegisterFirst(const MString& name, const MString& description);

  MString program_;
  MString arguments_;
  uint32_t generation_ = 1;
  HostCallbacks* host_;
  MString account_;
};

// Registers (or updates) the type's notifier task; the callers do not rely
// on the result.
bool RegisterNotifierTask(const MString& program, const MString& arguments, HostCallbacks* host,
                          uint32_t type);
// Deletes the type's notifier task; true when the scheduler deleted one.
bool DeleteNotifierTask(HostCallbacks* host, uint32_t type);
