// The setup engine's OS-free rules: the registration key tables and the rules on names.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>
#include <string>

#include "engine/KeyTables.h"
#include "engine/SetupRules.h"

namespace {

TEST(KeyTables, EntriesAreDistinctSplitAndInRegistryForm) {
  // Every "{...}" in an entry is a registry-form GUID: 8-4-4-4-12 upper-case hex.
  const std::regex braces("\\{[^}]*\\}?"), guid("\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}");
  for (KeyTable table : {KeyTable::kBroker, KeyTable::kControl, KeyTable::kControlMachine}) {
    std::set<std::string_view> seen;
    for (const char* entry : KeyTableEntries(table)) {
      KeyRoot root;
      std::string_view path;
      EXPECT_TRUE(SplitKeyEntry(entry, &root, &path)) << entry;
      for (std::cregex_iterator i(entry, entry + std::strlen(entry), braces), end; i != end; ++i)
        EXPECT_TRUE(std::regex_match(i->str(), guid)) << entry;
      EXPECT_TRUE(seen.insert(entry).second) << "twice: " << entry;
      if (table != KeyTable::kControl) EXPECT_EQ(root, KeyRoot::kMachine) << entry;
    }
  }
  // The part the Users group may read holds only program ids and MIME types.
  auto part = ControlUsersReadEntries();
  EXPECT_EQ(part.size(), 49u);
  for (std::string_view entry : part) {
    EXPECT_TRUE(entry.starts_with("CLASSES_ROOT\\GlintPlayer.") ||
                entry.starts_with("CLASSES_ROOT\\MIME\\Database\\Content Type\\"))
        << entry;
  }
}

TEST(KeyTables, SplitRefusesOtherNotations) {
  // clang-format off
  const struct {
    std::string entry;
    bool ok;
    KeyRoot root = KeyRoot::kMachine;
    const char* path = nullptr;
  } cases[] = {
      {"MACHINE\\Software\\Kestrelink", true, KeyRoot::kMachine, "Software\\Kestrelink"},
      {"CLASSES_ROOT\\.glnt", true, KeyRoot::kClassesRoot, ".glnt"},
      {"MACHINE\\" + std::string(1016, 'k'), true},
      {"MACHINE\\" + std::string(1017, 'k'), false} /* 1025 bytes */, {"MACHINE\\", false},
      {"machine\\Software", false}, {"USERS\\.DEFAULT", false}};
  // clang-format on
  for (const auto& c : cases) {
    KeyRoot root = KeyRoot::kClassesRoot;
    std::string_view path;
    ASSERT_EQ(SplitKeyEntry(c.entry, &root, &path), c.ok) << c.entry.substr(0, 40);
    if (!c.ok) continue;
    EXPECT_EQ(root, c.root);
    if (c.path != nullptr) EXPECT_EQ(path, c.path);
  }
}

TEST(SetupRules, NamesQuotesExtensionsAndProductCodes) {
  // clang-format off
  const struct { const char16_t *text, *stripped, *asDll, *lastName; bool productCode; } cases[] = {
      {u"\"C:\\P\\a b.exe\"", u"C:\\P\\a b.exe", u"\"C:\\P\\a b.dll", u"a b.exe\"", false},
      {u"\"", u"\"", u"\".dll", u"\"", false},
      {u"\"\"", u"", u"\"\".dll", u"\"\"", false},
      {u"C:\\P.d\\glinthost", u"C:\\P.d\\glinthost", u"C:\\P.d\\glinthost.dll", u"glinthost", false},
      {u"C:/P/x.tar.gz", u"C:/P/x.tar.gz", u"C:/P/x.tar.dll", u"x.tar.gz", false},
      {u"", u"", u".dll", u"", false},
      {u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E101}", nullptr, nullptr, nullptr, true},
      {u"{6e2a1f3c-5b7d-4c29-9a1e-34a0c0d8e101}", nullptr, nullptr, nullptr, true},
      {u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E10}", nullptr, nullptr, nullptr, false},
      {u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E1011}", nullptr, nullptr, nullptr, false},
      {u"{6E2A1F3C-5B7D-4C29-9A1E+34A0C0D8E101}", nullptr, nullptr, nullptr, false},
      {u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E10G}", nullptr, nullptr, nullptr, false},
      {u"(6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E101)", nullptr, nullptr, nullptr, false},
      {u"{..\\..\\..\\Run\\x-5B7D-4C29-9A1E-34A0C0D8}", nullptr, nullptr, nullptr, false},
  };
  // clang-format on
  for (const auto& c : cases) {
    const MString text(c.text);
    EXPECT_EQ(IsProductCode(text), c.productCode) << ToUtf8(text);
    if (c.stripped == nullptr) continue;
    EXPECT_EQ(ToUtf8(StripSurroundingQuotes(text)), ToUtf8(MString(c.stripped)));
    EXPECT_EQ(ToUtf8(WithExtension(text, MString(u".dll"))), ToUtf8(MString(c.asDll)));
    EXPECT_EQ(ToUtf8(LastName(text)), ToUtf8(MString(c.lastName)));
  }
  MStringList keep;  // the end of the path, as written: case counts, an empty name keeps nothing
  keep.AddName(u""_ms);
  EXPECT_FALSE(EndsWithListedName(u"C:\\P\\glintax.exe"_ms, keep));
  keep.AddName(u"NPGlint34_0_0_384.dll"_ms);
  keep.AddName(u"glintax.exe"_ms);
  for (auto [path, kept] : {std::pair{u"C:\\P\\glintax.exe", true},
                            {u"C:\\P\\NPGlint34_0_0_384.dll", true},
                            {u"C:\\P\\GLINTAX.EXE", false},
                            {u"C:\\P\\glintax.exe.old", false}}) {
    EXPECT_EQ(EndsWithListedName(MString(path), keep), kept) << ToUtf8(MString(path));
  }
}

}  // namespace
