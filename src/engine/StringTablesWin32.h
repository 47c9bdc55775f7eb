// One string of the setup window's tables, in the language the calling
// thread's locale chooses (engine/StringTables.h), read from a module's
// string resources.
#pragma once

#include <windows.h>

#include "engine/StringTables.h"

// The string in the chosen table, else in English; a null string when
// neither table holds it. An empty string in the chosen table counts as
// missing, so a table that lacks a text never shows an empty label.
inline MString LoadTableString(HMODULE module, uint32_t id, uint16_t language) {
  const uint16_t chosen = StringTableLanguage(language);
  for (uint16_t table : {chosen, kEnglishTable}) {
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(StringTableBlockId(id)),
                                  table);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) continue;
    MString text = StringFromTableBlock(static_cast<const char16_t*>(bytes),
                                        SizeofResource(module, found) / sizeof(char16_t), id);
    if (!text.IsEmpty()) return text;
  }
  return MString();
}

inline MString LoadTableString(HMODULE module, uint32_t id) {
  return LoadTableString(module, id, LANGIDFROMLCID(GetThreadLocale()));
}
