// Wine-side benchmarks of the library as a host uses it.
#include <cstring>
#include <string>

#include "BenchHarness.h"
#include "GlintLibrary.h"
#include "ReferenceHost.h"
#include "foundation/MConfigNode.h"
#include "foundation/MString.h"

namespace {

// About 1 MiB of configuration text: statements, quoted values, blocks.
std::u16string ConfigText(size_t bytes) {
  std::u16string text;
  for (int i = 0; text.size() * sizeof(char16_t) < bytes; ++i) {
    std::u16string n;
    for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
    text += u"Key" + n + u" \"value " + n + u"\" plain" + n + u";\n";
    if (i % 16 == 0) text += u"Block" + n + u" { Inner \"x\" y; Other 1 2 3; };\n";
  }
  return text;
}

// An in-module call of the same shape as a shim operation, as an anchor.
struct LocalTable {
  virtual bool Take(MStringArg a);
};
bool LocalTable::Take(MStringArg a) {
  MString::Adopt(a);
  return false;
}

}  // namespace

int main() {
  std::printf("GlintUtil benchmarks under Wine (median of 9 runs)\n");

  MString shared(u"C:\\Users\\Player\\AppData\\Roaming\\Kestrelink\\Glint Player\\bin");
  std::u16string plain(shared.CStr(), shared.Length());
  double copy = bench::MedianNs(
      [&] {
        MString c = shared;
        bench::Keep(c);
      },
      1000000);
  double copyAnchor = bench::MedianNs(
      [&] {
        std::u16string c = plain;
        bench::Keep(c);
      },
      1000000);
  bench::Report("MString copy (64 units, shared)", copy, "std::u16string copy", copyAnchor);

  MString tail(u"\\GlintAX.ocx");
  std::u16string plainTail(tail.CStr(), tail.Length());
  double append = bench::MedianNs(
      [&] {
        MString c = shared;
        c += tail;
        bench::Keep(c);
      },
      500000);
  double appendAnchor = bench::MedianNs(
      [&] {
        std::u16string c = plain;
        c += plainTail;
        bench::Keep(c);
      },
      500000);
  bench::Report("MString append (64 + 12 units)", append, "std::u16string append", appendAnchor);

  std::u16string text = ConfigText(1 << 20);
  MString config(text.data(), static_cast<int32_t>(text.size()));
  std::u16string target(text.size(), u' ');
  double parse = bench::MedianNs([&] { bench::Keep(ParseConfigText(config).get()); }, 5);
  double parseAnchor = bench::MedianNs(
      [&] {
        std::memcpy(target.data(), text.data(), text.size() * sizeof(char16_t));
        bench::Keep(target);
      },
      50);
  bench::Report("ParseConfigText, 1 MiB", parse, "memcpy of the same 1 MiB", parseAnchor);

  GlintLibrary library;
  ReferenceHost host;
  if (!library.Load()) {
    std::printf("cannot load GlintUtil.dll (error %lu)\n", library.Error());
    return 1;
  }
  host.SetResourceModule(library.Module());
  double start = bench::MedianNs([&] { library.Start()(&host)->Destroy(); }, 20000);
  double startAnchor = bench::MedianNs(
      [&] {
        auto* block = ::operator new(sizeof(MStringList) * 20);
        bench::Keep(block);
        ::operator delete(block);
      },
      20000);
  bench::Report("Start + slot 0", start, "one heap block, same size", startAnchor);

  ShimHandle shim(library.Start()(&host));
  LocalTable local;
  LocalTable* localPointer = &local;
  bench::Keep(localPointer);
  double call = bench::MedianNs([&] { shim->NoOperation(shared.Give()); }, 1000000);
  double callAnchor = bench::MedianNs([&] { localPointer->Take(shared.Give()); }, 1000000);
  bench::Report("shim slot 55 with a string", call, "virtual call inside the host", callAnchor);
  return 0;
}
