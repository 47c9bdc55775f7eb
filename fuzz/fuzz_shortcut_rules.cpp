// The shortcut methods' rules from arbitrary bytes. The input is four
// fields split at the first three line feeds: a name, a URL, an icon path
// and the strings blob, which also serves as the signed content. A leading
// '*' in the icon path stands for the icon cache folder, a leading '+' for
// that folder, a separator and the name. In the first three fields the byte
// 0xFE and the two after it give one UTF-16 unit (little-endian), so that any
// unit can be reached; other bytes are units below 256. The first ten bytes
// of the input also drive the tick counts, the flags and the fake folder of
// the unique-name builder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "broker/services/ShortcutRules.h"
#include "FuzzSupport.h"

using namespace ShortcutRules;

namespace {

const Text kCache = u"C:\\Users\\Ann\\AppData\\Roaming\\Arvex\\Glint Player\\Icon Cache";

Text Field(std::string_view bytes) {
  Text out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<uint8_t>(bytes[i]);
    if (b == 0xFE && i + 2 < bytes.size()) {
      out += static_cast<char16_t>(static_cast<uint8_t>(bytes[i + 1]) |
                                   static_cast<uint8_t>(bytes[i + 2]) << 8);
      i += 2;
    } else {
      out += static_cast<char16_t>(b);
    }
  }
  return out;
}

// Units below 256 as bytes, standing in for the code-page conversion.
std::string Narrow(const Text& text) {
  std::string out;
  for (char16_t unit : text) out += static_cast<char>(unit);
  return out;
}

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

uint32_t Word(const uint8_t* data, size_t size, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4 && at + i < size; ++i) value |= uint32_t{data[at + i]} << (8 * i);
  return value;
}

void CheckSearch(std::span<const uint8_t> bytes, std::string_view text) {
  // The blob in a block of exactly its size: a read past its end is an
  // AddressSanitizer report.
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  const bool found = ContainsText(exact, text);
  if (text.empty() || text.find('\0') != std::string_view::npos) return;
  const std::string_view blob(reinterpret_cast<const char*>(exact.data()), exact.size());
  Check(found == (blob.substr(0, blob.find('\0')).find(text) != std::string_view::npos));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view fields[4];
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    size_t end = std::min(input.find('\n', at), input.size());
    fields[i] = input.substr(at, end - at);
    at = std::min(end + 1, input.size());
  }
  fields[3] = input.substr(at);
  const Text name = Field(fields[0]), url = Field(fields[1]);
  Text icon = Field(fields[2]);
  if (!icon.empty() && icon[0] == u'*') icon = kCache + icon.substr(1);
  if (!icon.empty() && icon[0] == u'+') icon = kCache + u'\\' + name + icon.substr(1);
  const std::span<const uint8_t> blob(reinterpret_cast<const uint8_t*>(fields[3].data()),
                                      fields[3].size());

  // Names.
  if (IsInternetShortcutName(name, name)) {
    Check(!name.empty() && name.size() < 30);
    for (char16_t c : name) Check(c >= 32 && Text(u"\"%&*./:<>?\\|").find(c) == Text::npos);
  }
  if (IsDesktopShortcutName(name)) {
    for (char16_t c : name) {
      const char16_t lower = c | 0x20;
      Check(c >= 0x80 || c == u'_' || (c >= u'0' && c <= u'9') || (lower >= u'a' && lower <= u'z'));
    }
  }

  // An admitted icon is one file directly in the local cache folder.
  if (IsCacheIconPath(icon, kCache, name)) {
    Check(icon.size() < kPathBufferUnits && icon.compare(0, kCache.size(), kCache) == 0);
    const Text file = icon.substr(kCache.size());
    Check(file[0] == u'\\' && file.size() > 5 && file.ends_with(u".ico"));
    Check(file.find_first_of(u"\\/:", 1) == Text::npos);
  }
  const Text unc = u"\\\\srv\\share";
  Check(!IsCacheIconPath(unc + u"\\" + name + u".ico", unc, name));

  // URLs and whole requests.
  if (HasRedirectPrefix(url)) Check(url.starts_with(u"https://www.glint.example/cn/"));
  if (AdmitsDesktopShortcut({name, url, icon, kCache, Word(data, size, 0)})) {
    Check(HasRedirectPrefix(url) && !HasControlCharacters(url) && IsDesktopShortcutName(name));
    Check(icon.empty() || IsCacheIconPath(icon, kCache, name));
  }
  if (AdmitsInternetShortcut({name, name, url, url, icon, kCache, Word(data, size, 4)})) {
    Check(IsHttpUrl(url) && !HasControlCharacters(url) && url.size() < kPathBufferUnits);
  }

  // The snippet, and both searches over the blob.
  const std::string ansiUrl = Narrow(url), ansiName = Narrow(name);
  if (std::optional<std::string> snippet = AuthorisationSnippet(ansiUrl, ansiName)) {
    Check(ansiName.size() < kAnsiNameLimit && ansiUrl.size() < kAnsiUrlLimit);
    Check(snippet->size() == 29 + ansiUrl.size() + ansiName.size());
    Check(StringsHoldSnippet(Bytes(*snippet), ansiUrl, ansiName));
    CheckSearch(blob, *snippet);
  }
  CheckSearch(blob, ansiName);
  const std::span<const uint8_t> digest = blob.first(std::min<size_t>(blob.size(), 32));
  const std::string hex = DigestText(digest);
  Check(hex.size() == 2 * digest.size() && hex.find_first_not_of("0123456789ABCDEF") == hex.npos);
  CheckSearch(blob, hex);
  if (!digest.empty()) {
    std::string lower = hex;
    for (char& c : lower) c = static_cast<char>(c >= 'A' ? c + 32 : c);
    Check(ContentHoldsDigest(Bytes(hex), digest));
    Check(lower == hex || !ContentHoldsDigest(Bytes(lower), digest));
  }

  // The rate limit, the locations and the unique-name builder.
  const uint32_t now = Word(data, size, 0), stamp = Word(data, size, 4);
  const RateLimitDecision rate = CheckRateLimit(now, stamp);
  Check(rate.stamp == now && rate.allowed == (static_cast<int32_t>(now - stamp) > 3000));
  const uint32_t flags = size > 8 ? data[8] : 0;
  const std::vector<LocationStep> steps = PlanLocations(flags, ShortcutKind::Desktop);
  Check(steps.size() == static_cast<size_t>(__builtin_popcount(flags & 7)));
  for (const LocationStep& s : steps)
    Check(!s.pin || (s.location == Location::QuickLaunch && (flags & 8)));

  const uint32_t taken = size > 9 ? data[9] % 40 : 0;  // the first `taken` candidates exist
  uint32_t asked = 0;
  auto exists = [&](const Text&) { return asked++ < taken; };
  if (std::optional<Text> path = UniquePath(kCache, name, u".ico", flags & 1, exists)) {
    Check(path->size() < kPathBufferUnits && path->starts_with(kCache + u"\\" + name));
    Check(path->ends_with(u".ico") && ((flags & 1) || asked == taken + 1));
  } else {
    // Only a path too long for the buffer, or a suffix search that ran out of room.
    Check(kCache.size() + name.size() + 5 >= kPathBufferUnits || (taken > 0 && !(flags & 1)));
  }
  return 0;
}
