// The update offer document from arbitrary bytes, read as little-endian
// UTF-16 (an odd last byte is dropped): both extractors, the decoding of the
// notice content and its parse, with what each answer must be whatever the
// document holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "update/UpdateNotice.h"
#include "FuzzSupport.h"

namespace {

std::u16string_view View(const MString& s) {
  return {s.CStr(), s.Length()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const MString document = Units(data, size);
  const std::u16string_view text = View(document);

  MString content = u"untouched"_ms;
  const bool hasContent = ExtractMetaText(document, &content);
  if (hasContent) {
    // The content follows the end of a start tag and ends before "</meta".
    Check(text.find(u">" + std::u16string(View(content)) + u"</meta") != std::u16string_view::npos);
    const MString decoded = DecodeNoticeContent(content);
    Check(decoded.Length() <= content.Length());
    // Every double quote left comes from an entity.
    if (View(content).find(u"&quot;") == std::u16string_view::npos) {
      Check(View(decoded).find(u'"') == std::u16string_view::npos);
    }
    MConfigList parsed = ParseConfigText(decoded);
  } else {
    Check(Equals(content, u"untouched"_ms));
  }

  MString version = u"untouched"_ms;
  if (ExtractUpdateVersion(document, &version)) {
    Check(!version.IsEmpty() && text.find(View(version)) != std::u16string_view::npos);
    Check(View(version).find_first_of(u"\">") == std::u16string_view::npos);
  } else {
    Check(Equals(version, u"untouched"_ms));
  }

  // One entry in front of the list exactly when there is content to parse.
  MConfigList texts;
  AppendParsedConfigText(texts, u"autoUpdateMode 1;"_ms);
  MConfigNode* list = texts.release();
  MConfigNode* const before = list;
  const bool parsed = ParseNoticeContent(&list, document);
  texts.reset(list);
  Check(parsed == (hasContent && !document.IsEmpty()));
  Check(parsed ? list->next == before : list == before);
  return 0;
}
