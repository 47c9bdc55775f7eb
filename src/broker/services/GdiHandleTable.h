// The GDI handle numbers one broker object may use. A number is usable only
// by the broker object whose calls created or returned it: the player's
// printer DCs, the fonts it created, the fonts the font link mapped for it,
// and the objects its own DCs showed it (their defaults and stock objects).
// Any other number is refused before it reaches GDI, so a player can touch
// neither the broker's own objects nor another player's. What the object
// created goes with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

enum class GdiKind : uint8_t {
  PrinterDc,   // from the print dialog; DeleteDC
  Font,        // from CreateFontIndirect; DeleteObject
  MappedFont,  // from the font link's MapFont; ReleaseFont, once per mapping
  Received,    // an object one of its DCs returned; not the player's to delete
};

class GdiHandleTable {
 public:
  // Records a number GDI gave this object; 0 (GDI's failure) is never
  // usable. A number GDI hands out again belongs to a new object: it takes
  // the new kind, except that a received object never demotes an entry.
  // A received object is usable while the DC that returned it lives.
  void Add(uint32_t number, GdiKind kind, uint32_t fromDc = 0);

  bool IsDc(uint32_t number) const;
  // Any recorded object that is not a DC.
  bool IsObject(uint32_t number) const;
  bool IsKind(uint32_t number, GdiKind kind) const;

  // After GDI deleted the object: the number is no longer usable; after a
  // DC's deletion, neither are the objects it returned.
  void Remove(uint32_t number);
  // After the font link released one mapping; the number stays usable while
  // other mappings of the same font remain.
  void ReleaseMapping(uint32_t number);

  struct Owned {
    uint32_t number;
    GdiKind kind;
  };
  // What the object still owns, in the order to let go of it: DCs first
  // (which deselects their fonts), then created fonts, then each mapping.
  // The table is left empty.
  std::vector<Owned> TakeOwned();

  // The DC numbers recorded.
  std::vector<uint32_t> Dcs() const;

  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    GdiKind kind;
    uint32_t mappings;  // MappedFont only
    uint32_t fromDc;    // Received only
  };
  std::unordered_map<uint32_t, Entry> entries_;
};
