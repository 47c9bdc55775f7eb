#include "engine/SetupRules.h"

namespace {

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

}  // namespace

bool IsProductCode(const MString& text) {
  if (text.Length() != 38 || text[0] != u'{' || text[37] != u'}') return false;
  for (uint32_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != u'-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

MString StripSurroundingQuotes(const MString& text) {
  const uint32_t length = text.Length();
  if (length < 2 || text[0] != u'"' || text[length - 1] != u'"') return text;
  return MString(text.CStr() + 1, static_cast<int32_t>(length - 2));
}

MString LastName(const MString& path) {
  MString name = FromLastOf(path, "\\/");
  if (name.IsNull()) return path;
  name.Consume(1);
  return name;
}

MString WithExtension(const MString& path, const MString& extension) {
  const uint32_t nameStart = path.Length() - LastName(path).Length();
  for (uint32_t i = path.Length(); i > nameStart; --i) {
    if (path[i - 1] == u'.') {
      return MString(path.CStr(), static_cast<int32_t>(i - 1)) + extension;
    }
  }
  return path + extension;
}

bool EndsWithListedName(const MString& path, const MStringList& names) {
  for (const auto& node : names) {
    if (!node.key.IsEmpty() && EndsWith(path, node.key)) return true;
  }
  return false;
}
