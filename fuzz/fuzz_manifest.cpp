// Add-in manifest text from arbitrary bytes. Whatever is read must be there
// in the input exactly as a counted line, the digest must fit its field, and
// writing the result back as a manifest and reading that again must give
// the same result.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "broker/signeddata/SignedDataManifest.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Result {
  bool ok;
  std::vector<std::string> references;
  std::string digest;
};

Result Read(std::string_view text) {
  AddInManifest manifest;
  Result result;
  result.ok = ReadAddInManifest(text.data(), text.size(), manifest);
  size_t count = 0;
  for (std::string_view name : manifest.references) {
    Check(!name.empty() && name.find('\0') == std::string_view::npos);
    result.references.emplace_back(name);
    ++count;
  }
  Check(count == manifest.references.Count());
  size_t digestLength = strnlen(manifest.digest, sizeof manifest.digest);
  Check(digestLength < sizeof manifest.digest);
  result.digest.assign(manifest.digest, digestLength);
  return result;
}

// The line as it must appear in the text: from a line start (or the start
// of the text) to its CR LF.
bool HasLine(std::string_view text, const std::string& line) {
  for (size_t at = text.find(line); at != std::string_view::npos; at = text.find(line, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Result first = Read(text);
  if (!first.ok) return 0;

  std::string_view read = text.substr(0, text.find('\0'));
  std::string rewritten;
  for (const std::string& name : first.references) {
    std::string line = "<Reference URI=\"" + name + "\" />\r\n";
    Check(HasLine(read, line));
    rewritten += line;
  }
  if (!first.digest.empty()) {
    std::string line = "<DigestValue>" + first.digest + "</DigestValue>\r\n";
    Check(HasLine(read, line));
    rewritten += line;
  }

  Result second = Read(rewritten);
  Check(second.ok && second.references == first.references && second.digest == first.digest);
  return 0;
}
