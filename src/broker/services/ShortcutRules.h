// The decisions of the broker's icon and shortcut methods that need no
// system: the icon cache and the icon paths a shortcut may show, unique file
// names, both shortcut name rules, the URL tests, the authorisation snippet
// and the searches over the player's blobs, the desktop shortcut's rate limit
// and the location flags. The Win32 layer supplies folders, the shell's
// canonical forms, code-page bytes, digests, tick counts and whether a file
// exists; it writes nothing before these rules have admitted the request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ShortcutRules {

using Text = std::u16string;

// Path buffers hold 260 units: 259 of text and the NUL.
inline constexpr size_t kPathBufferUnits = 260;

// ---------------------------------------------------------------- icon cache

// "\Arvex\Glint Player\Icon Cache" joined to the roaming application-data
// folder with exactly one separator. Nothing for an empty folder or a result
// that does not fit a path buffer.
std::optional<Text> IconCacheFolder(const Text& roamingAppData);

// BrokerCreateIconPathV2 overwrites only for exactly 1; an omitted argument
// (late-bound, DISP_E_PARAMNOTFOUND) and every other value do not.
inline constexpr bool OverwriteAsked(int32_t overwrite) {
  return overwrite == 1;
}

// Whether a file of that path exists (the Win32 layer asks the file system).
using ExistsQuery = std::function<bool(const Text& path)>;

// The highest number the unique-name builder tries: a bound of the broker's
// own, so that a folder full of copies cannot keep it busy.
inline constexpr uint32_t kLastUniqueNumber = 9999;

// folder, a separator unless the folder ends in one, name, extension. When
// overwriting is not asked for and that file exists, name + " (n)" +
// extension for n = 2, 3, ... until one does not exist. Nothing for an empty
// folder, when a candidate does not fit a path buffer, or past
// kLastUniqueNumber. The name itself is not judged here.
std::optional<Text> UniquePath(const Text& folder, const Text& name, const Text& extension,
                               bool overwrite, const ExistsQuery& exists);

// The only icons a shortcut may show: `cacheFolder` (IconCacheFolder's
// answer), "\", the shortcut's name, any run of digits, spaces and
// parentheses (the unique-name suffix), ".ico" and nothing more; compared
// case-sensitively, shorter than a path buffer. Never a network path: a
// cache folder that starts with two separators refuses every icon, because
// the shell would fetch the icon from the server with the user's
// credentials (a drive letter mapped to a share is the Win32 layer's to
// refuse: it knows the drive's type). A name holding a separator, a colon or a control unit
// refuses, so an admitted path always names a file directly in the cache.
bool IsCacheIconPath(const Text& iconPath, const Text& cacheFolder, const Text& name);

// --------------------------------------------------------------------- names

// BrokerCreateInternetShortcut's names: 1 to 29 units, none below 32 and
// none of " % & * . / : < > ? \ |; every unit from U+0080 up is allowed.
// `canonicalName` is PathCanonicalizeW's answer for the name (empty when the
// call failed): the name must come back unchanged.
bool IsInternetShortcutName(const Text& name, const Text& canonicalName);

// BrokerCreateDesktopShortcut's names: not empty; below U+0080 only ASCII
// letters, digits and '_'; every unit from U+0080 up is allowed; no length
// limit of its own.
bool IsDesktopShortcutName(const Text& name);

// ---------------------------------------------------------------------- URLs

// Any unit below 32 (CR, LF, NUL and the rest of C0) or DEL. Judged on the
// URL as the player sent it, whole (a NUL inside included), before any
// canonical form: such a URL is refused before anything is written.
bool HasControlCharacters(const Text& url);

// Begins with "http:" or "https:" in any case.
bool IsHttpUrl(const Text& canonicalUrl);

// "https://www." + the maker's domain +
// "/cn/glintservice/shortcut/shortcutredirect/?url=".
const Text& RedirectPrefix();

// Begins with RedirectPrefix(), case-sensitively; the URL is not
// canonicalised first.
bool HasRedirectPrefix(const Text& url);

// ------------------------------------------------------------- authorisation

// Code-page byte limits of the authorised name and URL (both exclusive).
inline constexpr size_t kAnsiNameLimit = 30;
inline constexpr size_t kAnsiUrlLimit = 192;

// `<shortcut href="URL">NAME</shortcut>` from the canonical URL and the name
// in the thread's ANSI code page. Nothing when either is empty, holds a zero
// byte or reaches its limit.
std::optional<std::string> AuthorisationSnippet(std::string_view ansiUrl,
                                                std::string_view ansiName);

// `text` occurs in `bytes`: every start position is tried in order, a zero
// byte ends the search, and the whole text must lie inside the bytes. An
// empty text is never found.
bool ContainsText(std::span<const uint8_t> bytes, std::string_view text);

// The digest as upper-case hexadecimal digits, two per byte.
std::string DigestText(std::span<const uint8_t> digest);

// The player's strings blob holds the snippet for this URL and name.
bool StringsHoldSnippet(std::span<const uint8_t> strings, std::string_view ansiUrl,
                        std::string_view ansiName);

// The verified signed content holds DigestText(digest) of the strings blob.
// Empty content refuses; a lower-case digest is not found.
bool ContentHoldsDigest(std::span<const uint8_t> content, std::span<const uint8_t> digest);

// ---------------------------------------------------------------- rate limit

// A desktop shortcut needs more than this many milliseconds since the
// previous call, refused or not.
inline constexpr int32_t kDesktopShortcutInterval = 3000;

struct RateLimitDecision {
  bool allowed = false;
  uint32_t stamp = 0;  // the process-wide stamp to store, on every call
};

// `now` and `stamp` are tick counts (the stamp starts at 0). The elapsed time
// is their difference as a signed 32-bit number, so the count's wrap is
// harmless and a stamp in the future refuses; the new stamp is always `now`.
RateLimitDecision CheckRateLimit(uint32_t now, uint32_t stamp);

// ----------------------------------------------------------------- locations

enum class Location : uint32_t { Desktop = 1, Programs = 2, QuickLaunch = 4 };
// Pins the Quick Launch file to the taskbar, then deletes it; alone, nothing.
inline constexpr uint32_t kPinFlag = 8;

enum class ShortcutKind { Internet, Desktop };

struct LocationStep {
  Location location;
  const char16_t* extension;  // ".lnk", or ".url" for a desktop shortcut's desktop file
  bool pin;                   // pin and delete after a successful save
};

// The files to write for `flags`, in the order desktop, programs, Quick
// Launch. Other bits are ignored.
std::vector<LocationStep> PlanLocations(uint32_t flags, ShortcutKind kind);

// ------------------------------------------------------ whole-request checks

// What BrokerCreateInternetShortcut's checks before the blobs need, with the
// shell's answers already in place.
struct InternetShortcutText {
  Text name;
  Text canonicalName;  // PathCanonicalizeW's answer; empty when it failed
  Text url;            // as sent
  Text canonicalUrl;   // UrlCanonicalizeW's answer; empty when it failed
  Text iconPath;
  Text iconCache;  // IconCacheFolder's answer
  uint32_t flags = 0;
};

// Present, non-empty strings and non-zero flags, the name rule, no control
// unit in the URL, an http or https canonical URL that fits a path buffer,
// and an icon from the cache for this name.
bool AdmitsInternetShortcut(const InternetShortcutText& request);

struct DesktopShortcutText {
  Text name;
  Text url;
  Text iconPath;  // may be empty: no icon
  Text iconCache;
  uint32_t flags = 0;
};

// Non-empty name and URL and non-zero flags, the name rule, the redirect
// prefix, no control unit in the URL, and no icon or one from the cache for
// this name. The rate limit is decided apart, before this.
bool AdmitsDesktopShortcut(const DesktopShortcutText& request);

}  // namespace ShortcutRules
