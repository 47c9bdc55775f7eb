// The notifier task's rules that need no system: the account it runs under
// and the start boundary of its trigger.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

inline constexpr uint32_t kMaxTaskAccountUnits = 272;
inline constexpr uint32_t kStatusAccountUserOnly = 1746;
inline constexpr uint32_t kStatusAccountEmpty = 1747;

struct TaskAccount {
  MString name;     // "domain\user", the user alone, or empty
  uint32_t status;  // 0, or the code to report (level 1, empty detail)
};

// "domain\user" while both are known and it fits in 272 units; else the
// user alone while that fits; else nothing.
TaskAccount ComposeTaskAccount(const MString& domain, const MString& user);

// "2000-01-01T00:MM:00Z": the tens digit of the minute from one random
// draw (mod 6), the units digit from another (mod 10).
MString TaskStartBoundary(uint32_t tensDraw, uint32_t unitsDraw);
