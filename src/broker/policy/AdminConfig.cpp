#include "broker/policy/AdminConfig.h"

namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

void ParseLine(const std::string& line, AdminConfig& config) {
  size_t equals = line.find('=');
  if (equals == std::string::npos) return;
  std::string key = Trim(line.substr(0, equals));
  std::string value = Trim(line.substr(equals + 1));
  if (key.empty() || value.empty()) return;
  config.values[key] = value;
}

}  // namespace

AdminConfig ParseAdminConfig(const uint8_t* bytes, size_t size) {
  AdminConfig config;
  if (bytes == nullptr || size < 4) return config;
  size_t start = 0;
  if (bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    config.encoding = AdminConfig::kUtf8;
    start = 3;
  } else if ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0xFF && bytes[1] == 0xFE)) {
    config.encoding = AdminConfig::kUtf16;
    return config;
  } else {
    config.encoding = AdminConfig::kPlain;
  }
  std::string line;
  for (size_t i = start; i < size; ++i) {
    char c = static_cast<char>(bytes[i]);
    if (c == '\n' || c == '\r') {
      ParseLine(line, config);
      line.clear();
      if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  ParseLine(line, config);
  return config;
}

bool GetAdminBool(const AdminConfig& config, const std::string& key) {
  auto found = config.values.find(key);
  if (found == config.values.end()) return false;
  std::string value = found->second;
  for (char& c : value) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (value == "true" || value == "t" || value == "yes" || value == "y") return true;
  size_t i = 0;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) ++i;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    if (value[i] != '0') return true;
  }
  return false;
}
