// The decisions of the file dialogs and of the audited open that need no
// system: the filter array's shape and its text, the dialog options, the
// open dialog's answer, the proposed save name, and the audited request's
// preconditions and path split. The Win32 layer locks arrays, shows dialogs,
// reads items and activates runtime classes; it shows nothing before these
// rules have admitted the request. Verdicts map to S_OK, E_INVALIDARG and
// E_FAIL in the Win32 layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace DialogRules {

using Text = std::u16string;

enum class Verdict { Ok, InvalidArgument, Failed };

// ------------------------------------------------------------------ filters

// More pairs than this refuse before the array is looked at.
inline constexpr uint32_t kMostFilterPairs = 0x0FFFFFFF;

// The filter array as the marshaller delivered it.
struct FilterArrayShape {
  bool present = false;
  uint32_t dimensions = 0;
  uint32_t elementSize = 0;  // bytes per element
  int32_t lowerBound = 0;
  uint32_t elementCount = 0;
};

// Both dialogs' argument checks on the filter: at most kMostFilterPairs
// pairs; with pairs, a non-zero length and a present array of one dimension,
// single-byte elements, lower bound 0 and exactly `length` elements; without
// pairs, length 0 and no array. The marshaller delivers other element sizes
// and bounds as the player sent them, so they are refused here rather than
// read as bytes.
bool FilterArgumentsValid(uint32_t pairs, uint32_t length, const FilterArrayShape& array);

struct FilterSpec {
  Text name;     // never empty
  Text pattern;  // passed to the dialog unchanged ("*.txt;*.log")
};

struct FilterParse {
  Verdict verdict = Verdict::InvalidArgument;
  std::vector<FilterSpec> specs;  // exactly `pairs` entries when Ok
};

// The filter text: UTF-16LE, one NUL unit at the very end and none before
// it. "\0" written as two characters ends a description or a pattern, "\\"
// stands for one backslash, a backslash before anything else refuses, and so
// does text that ends inside a description or a pattern. Empty text is valid
// only for 0 pairs. The number of pairs must equal `pairs`; an empty
// description refuses (the dialog's list would end there and leave entries
// without strings). Nothing is allocated for `pairs` itself: the list grows
// with the text.
FilterParse ParseFilterSpecs(uint32_t pairs, std::span<const uint8_t> bytes);

// ------------------------------------------------------------------ options

// Classic option bits that never reach the dialog: read-only state, hide
// read-only, hook, template, template handle, no network button, no long
// names, explorer style, include notify, sizing. The rest have the dialog's
// own meaning and pass unchanged.
inline constexpr uint32_t kClearedOptionBits = 0x00CE00E5;
// The dialog's overwrite prompt.
inline constexpr uint32_t kOverwritePrompt = 0x2;

constexpr uint32_t OpenDialogOptions(uint32_t flags) {
  return flags & ~kClearedOptionBits;
}
// The save dialog always asks before replacing a file, whatever the player sent.
constexpr uint32_t SaveDialogOptions(uint32_t flags) {
  return OpenDialogOptions(flags) | kOverwritePrompt;
}

// -------------------------------------------------------------- open result

// One chosen item as the shell reports it.
struct ChosenItem {
  Text name;  // parent-relative parsing name
  Text path;  // file-system path
};

struct OpenResult {
  Verdict verdict = Verdict::Failed;
  std::vector<Text> strings;  // what the player receives, in order
};

// No items: no strings. One: its path. Several: the folder (the first
// item's path cut before the last occurrence of its name, keeping the
// trailing backslash), then every item's name in the dialog's order. When
// the first name is empty or does not occur in its path, the folder is that
// path through its last backslash; a path without one fails.
OpenResult SplitOpenResult(const std::vector<ChosenItem>& items);

// --------------------------------------------------------------- save name

// Names longer than this are not proposed.
inline constexpr size_t kLongestProposedName = 255;

// What the save dialog's name box starts with: nothing (the box stays empty)
// for a null or empty text. The text is a name, not a path: everything up
// to the last backslash, slash or colon goes (a drive, folders, a stream's
// file), and so do trailing dots and spaces, which the file system drops.
// Nothing is proposed for a name that is then empty, all dots, a device
// name (with or without an extension), longer than kLongestProposedName, or
// holding a control unit or one of < > " | ? * (the dialog would read a
// wildcard as a filter).
std::optional<Text> ProposedSaveName(const char16_t* text);

// ----------------------------------------------------------- audited open

// The system's evaluation results; the stored result starts as Blocked, so a
// request that never completes refuses.
inline constexpr int32_t kEvaluationAllowed = 0;
inline constexpr int32_t kEvaluationBlocked = 1;
inline constexpr int32_t kEvaluationConsentRequired = 2;

// The audited request is made only with both identities present (an empty
// one goes to the system) and a window number that is neither 0 nor all bits
// set.
bool MayRequestAudit(const char16_t* fileIdentity, const char16_t* clientIdentity, uint32_t window);

// Buffer sizes of the split, terminator included.
inline constexpr size_t kDriveUnits = 3;
inline constexpr size_t kPartUnits = 256;
// The longest recombined description, in units.
inline constexpr size_t kLongestDescription = 260;

struct AuditDescriptions {
  Text drive, folder, name, extension;
  Text source;  // drive + folder
  Text data;    // name + extension
};

// The path split into drive ("X:" when the second unit is a colon), folder
// (through the last backslash or slash), name and extension (from the last
// dot after the folder). Nothing for an empty path, a NUL inside it, a part
// that does not fit its buffer, or a description longer than
// kLongestDescription.
std::optional<AuditDescriptions> SplitAuditPath(const Text& path);

}  // namespace DialogRules
