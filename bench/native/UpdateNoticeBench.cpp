// The update notice pipeline on a large offer document.
//
// MetaEndSearch is the anchor: one u16string_view search for "</meta" over
// the whole document, so the pipeline (the offered version, the notice
// content, its decoding and parse) reads as a multiple of reading the text
// once. The document is 1 MiB as UTF-16 with 20 000 tags before its meta.
#include "BenchMain.h"

#include <string>
#include <string_view>

#include "update/UpdateNotice.h"

namespace {

constexpr int kTagsBeforeMeta = 20000;
constexpr size_t kDocumentUnits = (1u << 20) / sizeof(char16_t);

const MString& Document() {
  static const MString document = [] {
    const std::u16string meta =
        u"<update version=\"35.0.0.1\"><meta name=\"notice\">message &quot;A new Glint Player is "
        u"ready.&quot;; size 400 300; autoUpdateMode 2;</meta></update>";
    std::u16string out = u"<?xml version=\"1.0\"?><offers>";
    const size_t filler = (kDocumentUnits - out.size() - meta.size()) / kTagsBeforeMeta;
    for (int i = 0; i < kTagsBeforeMeta; ++i) {
      std::u16string tag = u"<item vendor=\"kestrelink\">";
      tag.resize(filler, u'x');  // text between this tag and the next
      out += tag;
    }
    out += meta;
    out.resize(kDocumentUnits, u' ');
    return MString(out.data(), static_cast<int32_t>(out.size()));
  }();
  return document;
}

void MetaEndSearch(benchmark::State& state) {
  const std::u16string_view text(Document().CStr(), Document().Length());
  for (auto _ : state) benchmark::DoNotOptimize(text.find(u"</meta"));
  state.SetBytesProcessed(state.iterations() * kDocumentUnits * sizeof(char16_t));
}
BENCHMARK(MetaEndSearch);

void NoticePipeline(benchmark::State& state) {
  const MString& document = Document();
  for (auto _ : state) {
    MString version;
    benchmark::DoNotOptimize(ExtractUpdateVersion(document, &version));
    MConfigNode* texts = nullptr;
    benchmark::DoNotOptimize(ParseNoticeContent(&texts, document));
    FreeConfigNodes(texts);
  }
  state.SetBytesProcessed(state.iterations() * kDocumentUnits * sizeof(char16_t));
}
BENCHMARK(NoticePipeline);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarks(argc, argv,
                       {{"document_units", std::to_string(Document().Length())},
                        {"tags_before_meta", std::to_string(kTagsBeforeMeta)}});
}
