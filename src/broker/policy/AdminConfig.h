// The administrator configuration file ("gcs.cfg"): lines of key = value in
// plain bytes or UTF-8 with a signature. A file that starts with a UTF-16
// signature is recognised and not parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

struct AdminConfig {
  enum Encoding : int { kUnreadable = -1, kPlain = 0, kUtf8 = 1, kUtf16 = 2 };
  std::map<std::string, std::string> values;
  int encoding = kUnreadable;
};

AdminConfig ParseAdminConfig(const uint8_t* bytes, size_t size);

// Absent: false. "true", "t", "yes", "y" in any case, or a leading decimal
// integer that is not zero: true.
bool GetAdminBool(const AdminConfig& config, const std::string& key);
