#include "update/UpdateNotice.h"

#include <cstring>
#include <string_view>

namespace {

using Units = std::u16string_view;
constexpr size_t npos = Units::npos;

Units View(const MString& s) {
  return Units(s.CStr(), s.Length());
}

// An exact copy: embedded NULs stay (MString's counted constructor stops at one).
MString Copy(Units units) {
  char16_t* out = nullptr;
  MString copy = MString::WithLength(static_cast<uint32_t>(units.size()), &out);
  if (!units.empty()) std::memcpy(out, units.data(), units.size() * sizeof(char16_t));
  return copy;
}

// The version of one tag's text (between '<' and '>'), if the tag yields one.
bool TagVersion(Units tag, Units* version) {
  if (!tag.starts_with(u"update")) return false;
  // The first 'v' must begin "version": a tag whose first v-word is another
  // attribute yields nothing.
  const size_t v = tag.find(u'v');
  if (v == npos || !tag.substr(v).starts_with(u"version")) return false;
  const size_t open = tag.find(u'"', v);
  if (open == npos) return false;
  const size_t close = tag.find(u'"', open + 1);
  if (close == npos || close == open + 1) return false;
  *version = tag.substr(open + 1, close - open - 1);
  return true;
}

}  // namespace

bool ExtractMetaText(const MString& document, MString* content) {
  const Units text = View(document);
  // Only the first "<meta" counts: once it opens, the rest of the text is
  // content until a "</meta".
  const size_t tag = text.find(u"<meta");
  if (tag == npos) return false;
  const size_t open = text.find(u'>', tag);
  if (open == npos) return false;
  const size_t close = text.find(u"</meta", open + 1);
  if (close == npos) return false;
  if (content != nullptr) *content = Copy(text.substr(open + 1, close - open - 1));
  return true;
}

bool ExtractUpdateVersion(const MString& document, MString* version) {
  Units text = View(document);
  for (size_t start = text.find(u'<'); start != npos; start = text.find(u'<')) {
    text.remove_prefix(start + 1);
    const size_t end = text.find(u'>');
    const Units tag = text.substr(0, end);
    Units found;
    if (TagVersion(tag, &found)) {
      if (version != nullptr) *version = Copy(found);
      return true;
    }
    if (end == npos) break;
    text.remove_prefix(end + 1);
  }
  return false;
}

MString DecodeNoticeContent(const MString& content) {
  MString text = ReplaceAll(content, u"\""_ms, u"'"_ms);
  text = ReplaceAll(text, u"&quot;"_ms, u"\""_ms);
  text = ReplaceAll(text, u"&apos;"_ms, u"'"_ms);
  return ReplaceAll(text, u"&nbsp;"_ms, u" "_ms);
}

bool ParseNoticeContent(MConfigNode** texts, const MString& document) {
  MString content;
  if (texts == nullptr || document.IsEmpty() || !ExtractMetaText(document, &content)) return false;
  MConfigList list(*texts);
  AppendParsedConfigText(list, DecodeNoticeContent(content));
  *texts = list.release();
  return true;
}
