// The setup window's localized string tables: which of the sixteen tables a
// language reads, and one string out of a table's block as the resource
// compiler lays it out. Without the system; engine/StringTablesWin32.h finds
// the blocks in a module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/MString.h"

// English (United States), the table every other one falls back to.
inline constexpr uint16_t kEnglishTable = 0x0409;

// The table a language reads: its own when the library has one; else the
// table of its primary language (Canadian French reads French, Mexican
// Spanish the Spanish table, Portuguese the Brazilian one, Swedish in any
// country the neutral Swedish table; Chinese of Hong Kong and Macao reads
// Traditional, of Singapore Simplified); else English.
uint16_t StringTableLanguage(uint16_t language);

// The sixteen table languages, in the order the resource script lists them.
const uint16_t* StringTableLanguages(size_t* count);

// A block holds sixteen strings, each a 16-bit length and that many UTF-16
// units. String `id` lives in block id / 16 + 1 at index id % 16. Returns the
// string (empty when its length is 0), or a null string when the block ends
// before it: a block is read only within its `units`.
MString StringFromTableBlock(const char16_t* block, size_t units, uint32_t id);

inline uint32_t StringTableBlockId(uint32_t id) {
  return id / 16 + 1;
}
