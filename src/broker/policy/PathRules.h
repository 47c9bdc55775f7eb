// The string decisions of the storage path policy: canonical text, the
// prefix test, the settings area, the extension list, the link chain and the
// walk over folder prefixes that looks for links. No system calls: the
// Windows layer (PlayerPaths) supplies full paths, upper-casing, attributes
// and reparse data, so that these rules can be tested and fuzzed anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace PathRules {

using Text = std::u16string;

// Steps after the full-path expansion: `full` is the expanded path and
// `upperFull` its upper-cased copy. Removes a "\\?\" prefix (a "\\?\UNC\"
// prefix becomes "\\"), then rejects wildcards, quotes, pipes, angle
// brackets and forward slashes, any colon but a drive letter's and, in the
// upper-case form, every name that begins or ends with a dot or an encoded
// dot ("%2E") next to a separator. Answers the upper-cased text when `upper`
// is set, else the text in its given case; nothing when rejected.
std::optional<Text> CanonicalText(const Text& full, const Text& upperFull, bool upper);

// P lies under R: P begins with R and the next character ends the text or is
// a separator. R lies under itself.
bool LiesUnder(const Text& path, const Text& root);

// The settings area of the shared-objects store: under `sharedPrefix`
// (root + "\#SHAREDOBJECTS"), or below `settingsPrefix` in a folder whose
// part after the prefix is longer than 2 characters and starts with "\#".
bool IsSettingsArea(const Text& path, const Text& sharedPrefix, const Text& settingsPrefix);

// The name ends with one of the extensions the player may write (upper case).
bool HasWritableExtension(const Text& upperPath);

// One link resolution: failed, or succeeded with or without a target.
struct LinkStep {
  bool ok = false;
  std::optional<Text> target;
  bool missing = false;  // failed because a folder on the path does not exist
};
using LinkResolver = std::function<LinkStep(const Text&)>;

// Follows links from `path` until no target comes back. Nothing when a
// resolution fails (the decision is a refusal). A target equal to the text
// it came from, a target seen before or more than 16 targets ends the chain
// without a result: the path is judged as given. Else the last target.
std::optional<Text> FollowLinkChain(const Text& path, const LinkResolver& resolve);

// "\??\" at the start of a link target goes.
Text StripObjectPrefix(const Text& target);

// Two leading separators, one name, at most one trailing separator.
bool IsUncServerRoot(const Text& prefix);

// What the walk over folder prefixes needs to know about one prefix.
struct PrefixInfo {
  bool exists = false;             // its attributes could be read
  bool reparsePoint = false;       // it carries the reparse-point attribute
  bool readable = true;            // its reparse data could be read
  std::optional<Text> substitute;  // the link's substitute name, if a link
};
using PrefixQuery = std::function<PrefixInfo(const Text& prefix)>;

// Looks for a link on the path: the path itself when it exists, then its
// folder prefixes from the deepest to the shortest. A missing folder ends the
// walk: true without a target for a UNC server root, else false. The first
// link gives its substitute followed by the rest of the path; a reparse point
// whose data cannot be read gives false; other reparse points are walked
// past. No link at all gives true without a target.
LinkStep ResolveThroughPrefixes(const Text& path, const PrefixQuery& query);

// A directory search split into the folder it looks into and the name
// pattern it matches there. `raw` is the pattern as given, `full` its full
// path (with "." and ".." collapsed as the system does). Wildcards ('*', '?'
// and the system's '<', '>' and '"') may stand in the last name only: a
// wildcard before a separator, and so any "." or ".." after one, refuses the
// search, as does an empty pattern.
struct SearchPattern {
  Text folder;
  Text mask;
};
std::optional<SearchPattern> SplitSearchPattern(const Text& raw, const Text& full);

// A name on the path may be a short (8.3) alias: the system makes those with
// a '~'. Paths without one are their own long form.
bool MayHoldShortNames(const Text& path);

// "<LOCAL_APPDATA>" at the very start is replaced by the local application
// data folder; the result must fit 260 units, else the path is unchanged.
Text ExpandPlayerPath(const Text& path, const Text& localAppData);

}  // namespace PathRules
