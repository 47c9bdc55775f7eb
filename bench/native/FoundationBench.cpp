// Micro-benchmarks of the foundation strings and the configuration parser.
//
// ConfigTextCopy is the anchor for ConfigTextParse: a plain memcpy of the
// same text, so the parser's cost reads as a multiple of touching the bytes
// once, on whatever machine the figures come from.
#include "BenchMain.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/MConfigNode.h"
#include "foundation/MString.h"

namespace {

MString Repeat(char16_t unit, uint32_t count) {
  char16_t* out = nullptr;
  MString s = MString::WithLength(count, &out);
  for (uint32_t i = 0; i < count; ++i) out[i] = unit;
  return s;
}

// About 1 MiB (as UTF-16) of configuration text shaped like the shipped
// files: named sections with quoted values, number lists and nested blocks.
const MString& ConfigText() {
  static const MString text = [] {
    std::u16string out;
    for (int i = 0; out.size() * sizeof(char16_t) < (1u << 20); ++i) {
      std::u16string n;
      for (char c : std::to_string(i)) n += static_cast<char16_t>(c);
      out += u"Section" + n + u" {\n";
      out += u"  Name \"Glint Player " + n + u"\";\n";
      out += u"  Files \"GlintAX.ocx\" \"GlintAX.dll\" \"Glint" + n + u".dll\";\n";
      out += u"  Version 34 0 0 " + n + u";\n";
      out += u"  Options { Enabled 1; Path \"C:\\Program Files\\Glint\\" + n + u"\"; };\n";
      out += u"};\n";
    }
    return MString(out.data(), static_cast<int32_t>(out.size()));
  }();
  return text;
}

int64_t ConfigBytes() {
  return static_cast<int64_t>(ConfigText().Length() * sizeof(char16_t));
}

void MStringCopy(benchmark::State& state) {
  MString s = Repeat(u'x', 64);
  for (auto _ : state) {
    MString copy = s;  // shares the buffer: a count up and down
    benchmark::DoNotOptimize(copy.Buffer());
  }
}
BENCHMARK(MStringCopy);

void MStringAppend(benchmark::State& state) {
  auto length = static_cast<uint32_t>(state.range(0));
  MString head = Repeat(u'a', length);
  MString tail = Repeat(u'b', length);
  for (auto _ : state) {
    MString s = head;
    s += tail;  // a new buffer of both lengths
    benchmark::DoNotOptimize(s.Buffer());
  }
  state.SetBytesProcessed(state.iterations() * 2 * length * sizeof(char16_t));
}
BENCHMARK(MStringAppend)->Arg(8)->Arg(64)->Arg(1024);

void ConfigTextCopy(benchmark::State& state) {
  const MString& text = ConfigText();
  std::vector<char16_t> target(text.Length());
  for (auto _ : state) {
    std::memcpy(target.data(), text.CStr(), text.Length() * sizeof(char16_t));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * ConfigBytes());
}
BENCHMARK(ConfigTextCopy)->Unit(benchmark::kMicrosecond);

void ConfigTextParse(benchmark::State& state) {
  const MString& text = ConfigText();
  for (auto _ : state) {
    MConfigList list = ParseConfigText(text);
    benchmark::DoNotOptimize(list.get());
  }
  state.SetBytesProcessed(state.iterations() * ConfigBytes());
}
BENCHMARK(ConfigTextParse)->Unit(benchmark::kMillisecond);

void ConfigLookup(benchmark::State& state) {
  MConfigList list = ParseConfigText(ConfigText());
  MString path(u"Section0.Options.Path");  // the oldest section: the end of the top list
  for (auto _ : state) benchmark::DoNotOptimize(FindConfigNode(list.get(), path));
}
BENCHMARK(ConfigLookup)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarks(argc, argv, {{"config_text_bytes", std::to_string(ConfigBytes())}});
}
