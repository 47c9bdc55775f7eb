#include "broker/services/ShortcutRules.h"

#include <cstring>

#include "broker/addins/AddInRules.h"

namespace ShortcutRules {

namespace {

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool IsAsciiLetterOrDigit(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

char16_t LowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool StartsWithIgnoringAsciiCase(const Text& text, std::u16string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (LowerAscii(text[i]) != lowerPrefix[i]) return false;
  }
  return true;
}

Text Decimal(uint32_t value) {
  const std::string digits = std::to_string(value);
  return Text(digits.begin(), digits.end());
}

}  // namespace

std::optional<Text> IconCacheFolder(const Text& roamingAppData) {
  if (roamingAppData.empty()) return std::nullopt;
  Text folder = roamingAppData;
  if (folder.back() == u'\\') folder.pop_back();
  folder += u"\\Arvex\\Glint Player\\Icon Cache";
  if (folder.size() >= kPathBufferUnits) return std::nullopt;
  return folder;
}

std::optional<Text> UniquePath(const Text& folder, const Text& name, const Text& extension,
                               bool overwrite, const ExistsQuery& exists) {
  if (folder.empty()) return std::nullopt;
  Text base = folder;
  if (base.back() != u'\\') base += u'\\';
  base += name;
  Text path = base + extension;
  if (path.size() >= kPathBufferUnits) return std::nullopt;
  if (overwrite || !exists(path)) return path;
  for (uint32_t n = 2; n <= kLastUniqueNumber; ++n) {
    path = base + u" (" + Decimal(n) + u")" + extension;
    // Each number is at least as long as the one before: a candidate that
    // does not fit ends the search.
    if (path.size() >= kPathBufferUnits) return std::nullopt;
    if (!exists(path)) return path;
  }
  return std::nullopt;
}

bool IsCacheIconPath(const Text& iconPath, const Text& cacheFolder, const Text& name) {
  if (iconPath.size() >= kPathBufferUnits || cacheFolder.empty() || name.empty()) return false;
  if (cacheFolder.size() >= 2 && IsSeparator(cacheFolder[0]) && IsSeparator(cacheFolder[1])) {
    return false;
  }
  for (char16_t c : name) {
    if (c < 32 || IsSeparator(c) || c == u':') return false;
  }
  const Text prefix = cacheFolder + u'\\' + name;
  if (!iconPath.starts_with(prefix)) return false;
  size_t at = prefix.size();
  while (at < iconPath.size()) {
    char16_t c = iconPath[at];
    if (!((c >= u'0' && c <= u'9') || c == u' ' || c == u'(' || c == u')')) break;
    ++at;
  }
  return iconPath.compare(at, Text::npos, u".ico") == 0;
}

bool IsInternetShortcutName(const Text& name, const Text& canonicalName) {
  if (name.empty() || name.size() >= 30 || name != canonicalName) return false;
  for (char16_t c : name) {
    if (c < 32) return false;
    if (c < 0x80 && std::strchr("\"%&*./:<>?\\|", static_cast<char>(c)) != nullptr) return false;
  }
  return true;
}

bool IsDesktopShortcutName(const Text& name) {
  if (name.empty()) return false;
  for (char16_t c : name) {
    if (c < 0x80 && !IsAsciiLetterOrDigit(c) && c != u'_') return false;
  }
  return true;
}

bool HasControlCharacters(const Text& url) {
  for (char16_t c : url) {
    if (c < 32 || c == 0x7F) return true;
  }
  return false;
}

bool IsHttpUrl(const Text& canonicalUrl) {
  return StartsWithIgnoringAsciiCase(canonicalUrl, u"http:") ||
         StartsWithIgnoringAsciiCase(canonicalUrl, u"https:");
}

const Text& RedirectPrefix() {
  static const Text prefix = [] {
    std::string narrow = std::string("https://www.") + AddInRules::kMakerDomain +
                         "/cn/glintservice/shortcut/shortcutredirect/?url=";
    return Text(narrow.begin(), narrow.end());
  }();
  return prefix;
}

bool HasRedirectPrefix(const Text& url) {
  return url.starts_with(RedirectPrefix());
}

std::optional<std::string> AuthorisationSnippet(std::string_view ansiUrl,
                                                std::string_view ansiName) {
  if (ansiUrl.empty() || ansiName.empty()) return std::nullopt;
  if (ansiUrl.size() >= kAnsiUrlLimit || ansiName.size() >= kAnsiNameLimit) return std::nullopt;
  if (ansiUrl.find('\0') != std::string_view::npos) return std::nullopt;
  if (ansiName.find('\0') != std::string_view::npos) return std::nullopt;
  std::string snippet = "<shortcut href=\"";
  snippet += ansiUrl;
  snippet += "\">";
  snippet += ansiName;
  snippet += "</shortcut>";
  return snippet;
}

bool ContainsText(std::span<const uint8_t> bytes, std::string_view text) {
  if (text.empty()) return false;
  for (size_t at = 0; at < bytes.size() && bytes[at] != 0; ++at) {
    if (bytes.size() - at < text.size()) return false;
    if (std::memcmp(bytes.data() + at, text.data(), text.size()) == 0) return true;
  }
  return false;
}

std::string DigestText(std::span<const uint8_t> digest) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(digest.size() * 2);
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

bool StringsHoldSnippet(std::span<const uint8_t> strings, std::string_view ansiUrl,
                        std::string_view ansiName) {
  std::optional<std::string> snippet = AuthorisationSnippet(ansiUrl, ansiName);
  return snippet && ContainsText(strings, *snippet);
}

bool ContentHoldsDigest(std::span<const uint8_t> content, std::span<const uint8_t> digest) {
  return !content.empty() && !digest.empty() && ContainsText(content, DigestText(digest));
}

RateLimitDecision CheckRateLimit(uint32_t now, uint32_t stamp) {
  auto elapsed = static_cast<int32_t>(now - stamp);
  return RateLimitDecision{elapsed > kDesktopShortcutInterval, now};
}

std::vector<LocationStep> PlanLocations(uint32_t flags, ShortcutKind kind) {
  std::vector<LocationStep> steps;
  if (flags & static_cast<uint32_t>(Location::Desktop)) {
    steps.push_back({Location::Desktop, kind == ShortcutKind::Desktop ? u".url" : u".lnk", false});
  }
  if (flags & static_cast<uint32_t>(Location::Programs)) {
    steps.push_back({Location::Programs, u".lnk", false});
  }
  if (flags & static_cast<uint32_t>(Location::QuickLaunch)) {
    steps.push_back({Location::QuickLaunch, u".lnk", (flags & kPinFlag) != 0});
  }
  return steps;
}

bool AdmitsInternetShortcut(const InternetShortcutText& r) {
  if (r.url.empty() || r.iconPath.empty() || r.flags == 0) return false;
  if (!IsInternetShortcutName(r.name, r.canonicalName)) return false;
  if (HasControlCharacters(r.url)) return false;
  if (r.canonicalUrl.size() >= kPathBufferUnits || !IsHttpUrl(r.canonicalUrl)) return false;
  return IsCacheIconPath(r.iconPath, r.iconCache, r.name);
}

bool AdmitsDesktopShortcut(const DesktopShortcutText& r) {
  if (r.url.empty() || r.flags == 0) return false;
  if (!IsDesktopShortcutName(r.name)) return false;
  if (!HasRedirectPrefix(r.url) || HasControlCharacters(r.url)) return false;
  return r.iconPath.empty() || IsCacheIconPath(r.iconPath, r.iconCache, r.name);
}

}  // namespace ShortcutRules
