#include "broker/services/DialogRules.h"

#include <string_view>

namespace DialogRules {

namespace {

char16_t UpperAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// Reads one description or pattern starting at `at`, up to and past its
// "\0" separator. Nothing for text that ends first or a stray backslash.
std::optional<Text> ReadField(std::u16string_view text, size_t& at) {
  Text field;
  while (at < text.size()) {
    char16_t c = text[at];
    if (c != u'\\') {
      field += c;
      ++at;
      continue;
    }
    if (at + 1 >= text.size()) return std::nullopt;
    char16_t next = text[at + 1];
    at += 2;
    if (next == u'0') return field;
    if (next != u'\\') return std::nullopt;
    field += u'\\';
  }
  return std::nullopt;
}

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM and LPT with a digit or a
// superscript one to three: the part before the first dot, trailing spaces
// ignored, in any case.
bool IsDeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  Text upper;
  for (char16_t c : base) upper += UpperAscii(c);
  for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (upper == device) return true;
  }
  if (upper.size() != 4 || !(upper.starts_with(u"COM") || upper.starts_with(u"LPT"))) return false;
  char16_t last = upper[3];
  return (last >= u'0' && last <= u'9') || last == u'\u00B9' || last == u'\u00B2' ||
         last == u'\u00B3';
}

}  // namespace

bool FilterArgumentsValid(uint32_t pairs, uint32_t length, const FilterArrayShape& array) {
  if (pairs > kMostFilterPairs) return false;
  if (pairs == 0) return length == 0 && !array.present;
  return length != 0 && array.present && array.dimensions == 1 && array.elementSize == 1 &&
         array.lowerBound == 0 && array.elementCount == length;
}

FilterParse ParseFilterSpecs(uint32_t pairs, std::span<const uint8_t> bytes) {
  FilterParse result;
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return result;
  Text units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  // One NUL, at the end.
  if (units.find(u'\0') != units.size() - 1) return result;
  const std::u16string_view text(units.data(), units.size() - 1);
  if (text.empty()) {
    if (pairs == 0) result.verdict = Verdict::Ok;
    return result;
  }
  size_t at = 0;
  while (at < text.size()) {
    std::optional<Text> name = ReadField(text, at);
    if (!name || name->empty()) return FilterParse{};
    std::optional<Text> pattern = ReadField(text, at);
    if (!pattern || result.specs.size() >= pairs) return FilterParse{};
    result.specs.push_back({std::move(*name), std::move(*pattern)});
  }
  if (result.specs.size() != pairs) return FilterParse{};
  result.verdict = Verdict::Ok;
  return result;
}

OpenResult SplitOpenResult(const std::vector<ChosenItem>& items) {
  OpenResult result;
  if (items.size() == 1) {
    result.strings.push_back(items[0].path);
  } else if (!items.empty()) {
    const ChosenItem& first = items[0];
    size_t cut = first.name.empty() ? Text::npos : first.path.rfind(first.name);
    if (cut == Text::npos) {
      cut = first.path.rfind(u'\\');
      if (cut == Text::npos) return result;
      ++cut;  // the folder keeps its backslash
    }
    result.strings.push_back(first.path.substr(0, cut));
    for (const ChosenItem& item : items) result.strings.push_back(item.name);
  }
  result.verdict = Verdict::Ok;
  return result;
}

std::optional<Text> ProposedSaveName(const char16_t* text) {
  if (text == nullptr) return std::nullopt;
  std::u16string_view name(text);
  size_t cut = name.find_last_of(u"\\/:");
  if (cut != std::u16string_view::npos) name.remove_prefix(cut + 1);
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.remove_suffix(1);
  if (name.empty() || name.size() > kLongestProposedName || IsDeviceName(name)) {
    return std::nullopt;
  }
  for (char16_t c : name) {
    if (c < 32 || std::u16string_view(u"<>\"|?*").find(c) != std::u16string_view::npos) {
      return std::nullopt;
    }
  }
  return Text(name);
}

bool MayRequestAudit(const char16_t* fileIdentity, const char16_t* clientIdentity,
                     uint32_t window) {
  return fileIdentity != nullptr && clientIdentity != nullptr && window != 0 &&
         window != 0xFFFFFFFFu;
}

std::optional<AuditDescriptions> SplitAuditPath(const Text& path) {
  if (path.empty() || path.find(u'\0') != Text::npos) return std::nullopt;
  AuditDescriptions parts;
  std::u16string_view rest(path);
  if (rest.size() >= 2 && rest[1] == u':') {
    parts.drive = Text(rest.substr(0, 2));
    rest.remove_prefix(2);
  }
  size_t folderEnd = 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (IsSeparator(rest[i])) folderEnd = i + 1;
  }
  parts.folder = Text(rest.substr(0, folderEnd));
  rest.remove_prefix(folderEnd);
  size_t dot = rest.rfind(u'.');
  if (dot == std::u16string_view::npos) dot = rest.size();
  parts.name = Text(rest.substr(0, dot));
  parts.extension = Text(rest.substr(dot));
  if (parts.drive.size() >= kDriveUnits || parts.folder.size() >= kPartUnits ||
      parts.name.size() >= kPartUnits || parts.extension.size() >= kPartUnits) {
    return std::nullopt;
  }
  parts.source = parts.drive + parts.folder;
  parts.data = parts.name + parts.extension;
  if (parts.source.size() > kLongestDescription || parts.data.size() > kLongestDescription) {
    return std::nullopt;
  }
  return parts;
}

}  // namespace DialogRules
