#include "broker/policy/PathRules.h"

#include <algorithm>
#include <set>
#include <vector>

namespace PathRules {

namespace {

bool StartsWith(const Text& text, const Text& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const Text& text, const Text& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsAsciiLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}
bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

}  // namespace

std::optional<Text> CanonicalText(const Text& full, const Text& upperFull, bool upper) {
  if (full.size() != upperFull.size()) return std::nullopt;
  size_t cut = 0;
  bool unc = false;
  if (StartsWith(upperFull, u"\\\\?\\UNC\\")) {
    cut = 8;
    unc = true;
  } else if (StartsWith(upperFull, u"\\\\?\\")) {
    cut = 4;
  }
  const Text& source = upper ? upperFull : full;
  Text text = (unc ? Text(u"\\\\") : Text()) + source.substr(cut);

  for (char16_t c : text) {
    if (c == u'*' || c == u'?' || c == u'"' || c == u'|' || c == u'<' || c == u'>' || c == u'/') {
      return std::nullopt;
    }
  }
  size_t colons = std::count(text.begin(), text.end(), u':');
  if (colons > 1) return std::nullopt;
  if (colons == 1 && !(text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == u':')) {
    return std::nullopt;
  }
  if (upper) {
    for (const char16_t* bad : {u"\\.", u".\\", u"\\%2E", u"%2E\\"}) {
      if (text.find(bad) != Text::npos) return std::nullopt;
    }
  }
  return text;
}

bool LiesUnder(const Text& path, const Text& root) {
  if (!StartsWith(path, root)) return false;
  return path.size() == root.size() || IsSeparator(path[root.size()]);
}

bool IsSettingsArea(const Text& path, const Text& sharedPrefix, const Text& settingsPrefix) {
  if (LiesUnder(path, sharedPrefix)) return true;
  if (!StartsWith(path, settingsPrefix)) return false;
  Text rest = path.substr(settingsPrefix.size());
  size_t last = rest.rfind(u'\\');
  if (last == Text::npos) return false;
  Text folder = rest.substr(0, last);
  return folder.size() > 2 && StartsWith(folder, u"\\#");
}

bool HasWritableExtension(const Text& upperPath) {
  static const char16_t* const kExtensions[] = {
      u".TXT", u".SOR", u".SOL", u".SSR", u".SSL",       u".SXX", u".XML", u".AHD", u".DAT",
      u".GMZ", u".HEU", u".TMP", u".S",   u".DIRECTORY", u".PNG", u".SSS", u".GS",  u".MGD",
      u".LKG", u".LIC", u".VCH", u".DLL", u".META",      u".ICO", u".JSON"};
  for (const char16_t* extension : kExtensions) {
    if (EndsWith(upperPath, extension)) return true;
  }
  return false;
}

Text StripObjectPrefix(const Text& target) {
  return StartsWith(target, u"\\??\\") ? target.substr(4) : target;
}

std::optional<Text> FollowLinkChain(const Text& path, const LinkResolver& resolve) {
  std::vector<Text> seen;
  Text current = path;
  while (true) {
    LinkStep step = resolve(current);
    if (!step.ok) return std::nullopt;
    if (!step.target) break;
    const Text& target = *step.target;
    bool loops = target == current || std::find(seen.begin(), seen.end(), target) != seen.end();
    if (loops || seen.size() >= 16) return path;
    seen.push_back(target);
    current = target;
  }
  return seen.empty() ? path : seen.back();
}

bool IsUncServerRoot(const Text& prefix) {
  if (!StartsWith(prefix, u"\\\\")) return false;
  Text rest = prefix.substr(2);
  if (!rest.empty() && rest.back() == u'\\') rest.pop_back();
  return !rest.empty() && rest.find(u'\\') == Text::npos;
}

LinkStep ResolveThroughPrefixes(const Text& path, const PrefixQuery& query) {
  auto linkStep = [&](const PrefixInfo& info, size_t restFrom) {
    LinkStep step;
    if (!info.readable) return step;
    step.ok = true;
    if (info.substitute) step.target = *info.substitute + path.substr(restFrom);
    return step;
  };
  // A reparse point that is not a link (a cloud placeholder, say) redirects
  // nothing and must not hide a link above it: the walk goes on past it.
  // Data that cannot be read might be a link's, and fails the step.
  auto endsWalk = [](const PrefixInfo& info) {
    return info.exists && info.reparsePoint && (!info.readable || info.substitute);
  };
  // The path itself may be a link; a missing final name is the normal case
  // of a file about to be created.
  PrefixInfo self = query(path);
  if (endsWalk(self)) return linkStep(self, path.size());
  // Then each folder above it, deepest first. A drive is asked for as "X:".
  for (size_t end = path.rfind(u'\\'); end != Text::npos && end > 1;
       end = path.rfind(u'\\', end - 1)) {
    Text prefix = path.substr(0, end);
    Text asked = prefix.size() == 2 && prefix[1] == u':' ? prefix + u"\\" : prefix;
    PrefixInfo info = query(asked);
    if (!info.exists) {
      LinkStep step;
      step.ok = IsUncServerRoot(prefix);
      step.missing = !step.ok;
      return step;
    }
    if (endsWalk(info)) return linkStep(info, end);
  }
  LinkStep none;
  none.ok = true;
  return none;
}

std::optional<SearchPattern> SplitSearchPattern(const Text& raw, const Text& full) {
  static const char16_t kWildcards[] = u"*?<>\"";
  size_t wildcard = raw.find_first_of(kWildcards);
  if (wildcard != Text::npos && raw.find_first_of(u"\\/", wildcard) != Text::npos) {
    return std::nullopt;
  }
  size_t separator = full.find_last_of(u"\\/");
  if (separator == Text::npos || separator + 1 >= full.size()) return std::nullopt;
  SearchPattern pattern{full.substr(0, separator), full.substr(separator + 1)};
  if (pattern.folder.find_first_of(kWildcards) != Text::npos) return std::nullopt;
  if (pattern.mask == u"." || pattern.mask == u"..") return std::nullopt;
  // A drive's root keeps its separator: "C:" alone names a current folder.
  if (pattern.folder.size() == 2 && pattern.folder[1] == u':') pattern.folder += u'\\';
  return pattern;
}

bool MayHoldShortNames(const Text& path) {
  return path.find(u'~') != Text::npos;
}

Text ExpandPlayerPath(const Text& path, const Text& localAppData) {
  static const Text kMarker = u"<LOCAL_APPDATA>";
  if (!StartsWith(path, kMarker)) return path;
  Text expanded = localAppData + path.substr(kMarker.size());
  if (expanded.size() >= 260) return path;
  return expanded;
}

}  // namespace PathRules
