// The audited open's path split from arbitrary bytes read as UTF-16 units:
// an admitted split puts the path back together exactly, every part fits its
// buffer, and the descriptions stay within their limit; the request's
// preconditions hold for the identities the same bytes make.
#include <cstddef>
#include <cstdint>
#include <string>

#include "broker/services/DialogRules.h"
#include "FuzzSupport.h"

using namespace DialogRules;

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

void CheckSplit(const Text& path) {
  auto parts = SplitAuditPath(path);
  if (!parts) return;
  Check(parts->drive + parts->folder + parts->name + parts->extension == path);
  Check(parts->source == parts->drive + parts->folder);
  Check(parts->data == parts->name + parts->extension);
  Check(parts->drive.size() < kDriveUnits && parts->folder.size() < kPartUnits);
  Check(parts->name.size() < kPartUnits && parts->extension.size() < kPartUnits);
  Check(parts->data.size() <= kLongestDescription);
  Check(parts->folder.empty() || IsSeparator(parts->folder.back()));
  for (char16_t c : parts->name + parts->extension) Check(!IsSeparator(c));
  Check(parts->extension.empty() || parts->extension.rfind(u'.') == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Text units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  CheckSplit(units);
  // The identities: the text up to the first NUL, and what follows it.
  const size_t nul = units.find(u'\0');
  const Text first = units.substr(0, nul);
  const Text second = nul == Text::npos ? Text() : units.substr(nul + 1);
  const uint32_t window =
      size >= 4 ? data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24 : 0;
  Check(MayRequestAudit(first.c_str(), second.c_str(), window) ==
        (window != 0 && window != 0xFFFFFFFFu));
  Check(!MayRequestAudit(nullptr, second.c_str(), window));
  return 0;
}
