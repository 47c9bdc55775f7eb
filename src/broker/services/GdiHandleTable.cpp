#include "broker/services/GdiHandleTable.h"

#include <algorithm>

void GdiHandleTable::Add(uint32_t number, GdiKind kind, uint32_t fromDc) {
  if (number == 0) return;
  const Entry fresh{kind, kind == GdiKind::MappedFont ? 1u : 0u,
                    kind == GdiKind::Received ? fromDc : 0u};
  auto found = entries_.find(number);
  if (found == entries_.end()) {
    entries_.emplace(number, fresh);
    return;
  }
  Entry& entry = found->second;
  if (kind == GdiKind::Received) return;
  if (kind == GdiKind::MappedFont && entry.kind == GdiKind::MappedFont) {
    ++entry.mappings;
    return;
  }
  entry = fresh;
}

bool GdiHandleTable::IsDc(uint32_t number) const {
  return IsKind(number, GdiKind::PrinterDc);
}

bool GdiHandleTable::IsObject(uint32_t number) const {
  auto found = entries_.find(number);
  return found != entries_.end() && found->second.kind != GdiKind::PrinterDc;
}

bool GdiHandleTable::IsKind(uint32_t number, GdiKind kind) const {
  auto found = entries_.find(number);
  return found != entries_.end() && found->second.kind == kind;
}

void GdiHandleTable::Remove(uint32_t number) {
  if (entries_.erase(number) == 0) return;
  // What a deleted DC returned went with it (its defaults), or stays
  // reachable through another DC that returns it again.
  std::erase_if(entries_, [number](const auto& item) {
    return item.second.kind == GdiKind::Received && item.second.fromDc == number;
  });
}

std::vector<uint32_t> GdiHandleTable::Dcs() const {
  std::vector<uint32_t> dcs;
  for (const auto& [number, entry] : entries_)
    if (entry.kind == GdiKind::PrinterDc) dcs.push_back(number);
  return dcs;
}

void GdiHandleTable::ReleaseMapping(uint32_t number) {
  auto found = entries_.find(number);
  if (found == entries_.end() || found->second.kind != GdiKind::MappedFont) return;
  if (--found->second.mappings == 0) entries_.erase(found);
}

std::vector<GdiHandleTable::Owned> GdiHandleTable::TakeOwned() {
  std::vector<Owned> owned;
  for (GdiKind kind : {GdiKind::PrinterDc, GdiKind::Font, GdiKind::MappedFont}) {
    std::vector<Owned> ofKind;
    for (const auto& [number, entry] : entries_) {
      if (entry.kind != kind) continue;
      const uint32_t times = kind == GdiKind::MappedFont ? entry.mappings : 1;
      for (uint32_t i = 0; i < times; ++i) ofKind.push_back({number, kind});
    }
    // Creation order is lost in the map; a fixed order keeps runs alike.
    std::sort(ofKind.begin(), ofKind.end(),
              [](const Owned& a, const Owned& b) { return a.number < b.number; });
    owned.insert(owned.end(), ofKind.begin(), ofKind.end());
  }
  entries_.clear();
  return owned;
}
