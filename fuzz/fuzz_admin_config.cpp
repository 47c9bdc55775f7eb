// The administrator configuration file from arbitrary bytes. The parsed map is
// held against a plain reading that splits at every CR or LF (a CR LF pair
// then leaves an empty line, which holds no '=' and changes nothing), the
// map written out again as lines must parse back to itself, and the yes/no
// reading of every value must agree with one done with strtoll.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "broker/policy/AdminConfig.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Blank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && Blank(s[begin])) ++begin;
  while (end > begin && Blank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

std::map<std::string, std::string> PlainReading(const std::string& text) {
  std::map<std::string, std::string> values;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    size_t equals = line.find('=');
    if (equals != std::string::npos) {
      std::string key = Trim(line.substr(0, equals));
      std::string value = Trim(line.substr(equals + 1));
      if (!key.empty() && !value.empty()) values[key] = value;
    }
    start = end + 1;
  }
  return values;
}

// The words, else the leading integer as the C library reads it. Values are
// trimmed, so strtoll finds no white space to skip; it stops at a NUL where
// the rule stops at any non-digit, and an integer too large for it saturates
// to a value that is not zero.
bool ReferenceBool(const std::string& value) {
  std::string lower = value;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "true" || lower == "t" || lower == "yes" || lower == "y") return true;
  return std::strtoll(value.c_str(), nullptr, 10) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AdminConfig config = ParseAdminConfig(data, size);
  if (size < 4) {
    Check(config.encoding == AdminConfig::kUnreadable && config.values.empty());
    return 0;
  }
  bool utf8 = data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
  bool utf16 = (data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE);
  if (utf16) {
    Check(config.encoding == AdminConfig::kUtf16 && config.values.empty());
    return 0;
  }
  Check(config.encoding == (utf8 ? AdminConfig::kUtf8 : AdminConfig::kPlain));

  size_t start = utf8 ? 3 : 0;
  std::string text(reinterpret_cast<const char*>(data) + start, size - start);
  Check(config.values == PlainReading(text));

  for (const auto& [key, value] : config.values) {
    Check(!key.empty() && !value.empty());
    Check(!Blank(key.front()) && !Blank(key.back()) && !Blank(value.front()) &&
          !Blank(value.back()));
    Check(key.find_first_of("=\r\n") == std::string::npos);
    Check(value.find_first_of("\r\n") == std::string::npos);
    Check(GetAdminBool(config, key) == ReferenceBool(value));
  }
  Check(!GetAdminBool(config, ""));

  // Written out as plain lines, after an empty first line so that no key can
  // pass for a signature, the map reads back unchanged.
  if (!config.values.empty()) {
    std::string lines = "\n";
    for (const auto& [key, value] : config.values) lines += key + "=" + value + "\r\n";
    AdminConfig again =
        ParseAdminConfig(reinterpret_cast<const uint8_t*>(lines.data()), lines.size());
    Check(again.encoding == AdminConfig::kPlain);
    Check(again.values == config.values);
  }
  return 0;
}
