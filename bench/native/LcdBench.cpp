// Local-connection lookups over a connection list filled to capacity.
//
// ListScan is the anchor: one memchr over the whole list for a byte it does
// not hold, so a lookup reads as a multiple of touching the list's bytes
// once. Each figure is the time of one lookup.
#include "BenchMain.h"

#include <cstring>
#include <string>

#include "LcdMemoryAccessor.h"

namespace {

std::string Name(int i) {
  return "_player" + std::to_string(i) + ".localConnection";
}

// The list holds as many broker-written entries as fit, realms 0 to 3 in turn.
struct FullList {
  MemoryLcdAccessor accessor;
  int count = 0;
  FullList() {
    while (accessor.TryAddConnection(Name(count), count % 4, count % 4, '2')) ++count;
  }
};

FullList& List() {
  static FullList list;
  return list;
}

void ListScan(benchmark::State& state) {
  const uint8_t* list = List().accessor.Bytes() + lcd::kListOffset;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memchr(list, 0xFF, lcd::kListSize));
  }
  state.SetBytesProcessed(state.iterations() * lcd::kListSize);
}
BENCHMARK(ListScan);

// Which entry is sought: the first, the last, or a name that is not there.
void FindConnectionFormat(benchmark::State& state) {
  FullList& list = List();
  std::string name = state.range(0) == 0   ? Name(0)
                     : state.range(0) == 1 ? Name(list.count - 1)
                                           : Name(list.count);
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.accessor.FindConnectionFormat(name, lcd::kAnyRealm));
  }
  state.SetBytesProcessed(state.iterations() * lcd::kListSize);
}
BENCHMARK(FindConnectionFormat)->ArgName("first_last_missing")->Arg(0)->Arg(1)->Arg(2);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarks(argc, argv, {{"connections_in_full_list", std::to_string(List().count)}});
}
