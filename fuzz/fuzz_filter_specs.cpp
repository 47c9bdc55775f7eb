// The dialogs' filter text from arbitrary bytes. The first byte is the
// announced number of pairs; the rest is the filter array. The same bytes,
// read as UTF-16 units up to a NUL, are the proposed save name.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "broker/services/DialogRules.h"
#include "FuzzSupport.h"

using namespace DialogRules;

namespace {

// An admitted filter is the exact text of its specs, escaped again.
void CheckFilter(uint32_t pairs, std::span<const uint8_t> bytes) {
  FilterParse parse = ParseFilterSpecs(pairs, bytes);
  if (parse.verdict != Verdict::Ok) {
    Check(parse.specs.empty());
    return;
  }
  Check(parse.specs.size() == pairs);
  Text text;
  auto escape = [&](const Text& field) {
    for (char16_t c : field) {
      Check(c != 0);
      text += c == u'\\' ? u"\\\\" : Text(1, c);
    }
    text += u"\\0";
  };
  for (const FilterSpec& spec : parse.specs) {
    Check(!spec.name.empty());
    escape(spec.name);
    escape(spec.pattern);
  }
  text += u'\0';
  Check(text.size() * 2 == bytes.size());
  for (size_t i = 0; i < text.size(); ++i) {
    Check(bytes[2 * i] == (text[i] & 0xFF) && bytes[2 * i + 1] == (text[i] >> 8));
  }
}

void CheckSaveName(const Text& units) {
  const Text text = units.substr(0, units.find(u'\0'));
  auto name = ProposedSaveName(text.c_str());
  if (!name) return;
  Check(!name->empty() && name->size() <= kLongestProposedName);
  Check(name->find_first_of(u"\\/:<>\"|?*") == Text::npos);
  Check(name->back() != u'.' && name->back() != u' ');
  Check(text.find(*name) != Text::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  CheckFilter(data[0], bytes);
  Text units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  CheckSaveName(units);
  return 0;
}
