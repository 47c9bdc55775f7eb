// The setup engine's rules on names, without the system: product codes,
// quoted paths, extensions and keep-list suffixes.
#pragma once

#include "foundation/MString.h"
#include "foundation/MStringList.h"

// "{8-4-4-4-12}" in hexadecimal digits of either case.
bool IsProductCode(const MString& text);
// The text without one pair of surrounding double quotes.
MString StripSurroundingQuotes(const MString& text);
// The path with the extension of its last name (from its last '.') replaced;
// a last name without '.' gets the extension appended.
MString WithExtension(const MString& path, const MString& extension);
// Whether the path ends with one of the list's names.
bool EndsWithListedName(const MString& path, const MStringList& names);
// The last name of a path (after its last '\' or '/').
MString LastName(const MString& path);
