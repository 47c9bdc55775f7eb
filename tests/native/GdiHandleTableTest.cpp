// The per-object table of usable GDI handle numbers.
#include <gtest/gtest.h>

#include <tuple>

#include "broker/services/GdiHandleTable.h"

namespace {

constexpr uint32_t kDc = 0x0021'0010, kFont = 0x800A'1234, kReceived = 0x0008'0001,
                   kMapped = 0x0003'0042;

GdiHandleTable Filled() {
  GdiHandleTable table;
  table.Add(kDc, GdiKind::PrinterDc);
  table.Add(kFont, GdiKind::Font);
  table.Add(kReceived, GdiKind::Received, kDc);
  table.Add(kMapped, GdiKind::MappedFont);
  return table;
}

// Numbers never recorded, 0 among them, fill no parameter.
TEST(GdiHandleTable, EachNumberOnlyWhereItsKindBelongs) {
  const GdiHandleTable table = Filled();
  const std::tuple<uint32_t, bool, bool> cases[] = {
      {kDc, true, false},          {kFont, false, true},        {kReceived, false, true},
      {kMapped, false, true},      {0, false, false},           {1, false, false},
      {0x8000'0000, false, false}, {0xFFFF'FFFF, false, false}, {kFont ^ 0x8000'0000, false, false},
  };
  for (const auto& [number, dc, object] : cases) {
    SCOPED_TRACE(number);
    EXPECT_EQ(table.IsDc(number), dc);
    EXPECT_EQ(table.IsObject(number), object);
  }
  GdiHandleTable empty;
  empty.Add(0, GdiKind::Font);  // GDI's failure is never usable
  EXPECT_EQ(empty.Size(), 0u);
}

// A received answer never takes away what the object owns.
TEST(GdiHandleTable, ReusedNumbersTakeTheNewKind) {
  GdiHandleTable table = Filled();
  table.Add(kFont, GdiKind::Received);
  EXPECT_TRUE(table.IsKind(kFont, GdiKind::Font));
  table.Remove(kFont);
  EXPECT_FALSE(table.IsObject(kFont));
  table.Add(kReceived, GdiKind::Font);
  EXPECT_TRUE(table.IsKind(kReceived, GdiKind::Font));
  table.Add(kDc, GdiKind::Font);
  EXPECT_FALSE(table.IsDc(kDc));
  table.Add(kReceived, GdiKind::MappedFont);  // a font's number, now a mapping
  EXPECT_TRUE(table.IsKind(kReceived, GdiKind::MappedFont));
  table.Add(kMapped, GdiKind::Font);  // a mapping's number, now a font
  EXPECT_TRUE(table.IsKind(kMapped, GdiKind::Font));
}

// The object lets go of each mapping it still holds.
TEST(GdiHandleTable, MappingsCountedAndReleasedOncePerMapping) {
  GdiHandleTable table = Filled();
  table.Add(kMapped, GdiKind::MappedFont);
  table.ReleaseMapping(kMapped);
  EXPECT_TRUE(table.IsKind(kMapped, GdiKind::MappedFont));
  table.ReleaseMapping(kFont);  // not a mapping: unchanged
  EXPECT_TRUE(table.IsKind(kFont, GdiKind::Font));
  table.Add(kMapped, GdiKind::MappedFont);
  const auto owned = table.TakeOwned();
  ASSERT_EQ(owned.size(), 4u);  // the DC, the font, two mappings; nothing received
  EXPECT_EQ(owned[0].kind, GdiKind::PrinterDc);
  EXPECT_EQ(owned[1].number, kFont);
  EXPECT_EQ(owned[2].number, kMapped);
  EXPECT_EQ(owned[3].number, kMapped);
  EXPECT_EQ(table.Size(), 0u);
  table.ReleaseMapping(kMapped);  // after the end: nothing left to release
  EXPECT_EQ(table.Size(), 0u);
}

// What a DC returned (its defaults) goes with the DC; the object's own fonts stay.
TEST(GdiHandleTable, ReceivedObjectsGoWithTheirDc) {
  GdiHandleTable table = Filled();
  constexpr uint32_t kOtherDc = 0x0022'0010, kOtherDefault = 0x0009'0001;
  table.Add(kOtherDc, GdiKind::PrinterDc);
  table.Add(kOtherDefault, GdiKind::Received, kOtherDc);
  table.Add(kFont, GdiKind::Received, kDc);
  EXPECT_EQ(table.Dcs().size(), 2u);
  table.Remove(kDc);
  EXPECT_FALSE(table.IsObject(kReceived));
  EXPECT_TRUE(table.IsKind(kFont, GdiKind::Font));
  EXPECT_TRUE(table.IsObject(kOtherDefault));
  EXPECT_EQ(table.Dcs(), std::vector<uint32_t>{kOtherDc});
}

}  // namespace
