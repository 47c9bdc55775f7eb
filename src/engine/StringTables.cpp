#include "engine/StringTables.h"

namespace {

constexpr uint16_t kTables[] = {0x0404, 0x0405, 0x0407, 0x0409, 0x040C, 0x0410,
                                0x0411, 0x0412, 0x0413, 0x0415, 0x0416, 0x0419,
                                0x041F, 0x0804, 0x0C0A, 0x001D};
constexpr uint16_t kChinese = 0x04;

constexpr uint16_t Primary(uint16_t language) {
  return language & 0x3FF;
}
constexpr uint16_t Sub(uint16_t language) {
  return language >> 10;
}

}  // namespace

const uint16_t* StringTableLanguages(size_t* count) {
  *count = sizeof kTables / sizeof kTables[0];
  return kTables;
}

uint16_t StringTableLanguage(uint16_t language) {
  for (uint16_t table : kTables) {
    if (table == language) return table;
  }
  if (Primary(language) == kChinese) {
    // Sub-languages 1 Taiwan, 3 Hong Kong, 5 Macao write Traditional; 2 China
    // and 4 Singapore Simplified; the neutral forms 0x7C04 and 0x0004 too.
    const uint16_t sub = Sub(language);
    return sub == 2 || sub == 4 || sub == 0 ? 0x0804 : 0x0404;
  }
  for (uint16_t table : kTables) {
    if (Primary(table) == Primary(language)) return table;
  }
  return kEnglishTable;
}

MString StringFromTableBlock(const char16_t* block, size_t units, uint32_t id) {
  if (block == nullptr) return MString();
  size_t at = 0;
  for (uint32_t index = 0; index < id % 16; ++index) {
    if (at >= units) return MString();
    at += 1 + static_cast<size_t>(block[at]);
  }
  if (at >= units || block[at] > units - at - 1) return MString();
  const uint16_t length = block[at];
  return length == 0 ? MString(u"") : MString(block + at + 1, length);
}
