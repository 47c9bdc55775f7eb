// The notifier task's account (domain and user within 272 units) and the
// start boundary with its random minute.
#include <gtest/gtest.h>

#include <string>

#include "TestStrings.h"
#include "update/NotifierTaskRules.h"

namespace {

MString Units(char16_t unit, size_t count) {
  return Raw(std::u16string(count, unit));
}

TEST(NotifierTaskRules, AccountWithinItsLimit) {
  const struct {
    const char* name;
    MString domain, user;
    MString account;
    uint32_t status;
  } cases[] = {
      {"both", u"KESTREL"_ms, u"player"_ms, u"KESTREL\\player"_ms, 0},
      {"271 together", Units(u'd', 200), Units(u'u', 71),
       Units(u'd', 200) + u"\\"_ms + Units(u'u', 71), 0},
      {"272 together", Units(u'd', 200), Units(u'u', 72), Units(u'u', 72), 1746},
      {"no domain", u""_ms, u"player"_ms, u"player"_ms, 1746},
      {"unknown domain", MString(), u"player"_ms, u"player"_ms, 1746},
      {"user of 271", u"KESTREL"_ms, Units(u'u', 271), Units(u'u', 271), 1746},
      {"user of 272", u"KESTREL"_ms, Units(u'u', 272), u""_ms, 1747},
      {"no user", u"KESTREL"_ms, u""_ms, u""_ms, 1747},
      {"nothing known", MString(), MString(), u""_ms, 1747},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TaskAccount account = ComposeTaskAccount(c.domain, c.user);
    EXPECT_EQ(Show(account.name), Show(c.account));
    EXPECT_EQ(account.status, c.status);
  }
}

TEST(NotifierTaskRules, StartBoundaryTakesBothDigitsFromTheDraws) {
  const struct {
    uint32_t tens, units;
    const char* boundary;
  } cases[] = {
      {0, 0, "2000-01-01T00:00:00Z"},
      {5, 9, "2000-01-01T00:59:00Z"},
      {6, 10, "2000-01-01T00:00:00Z"},
      {0xFFFFFFFF, 0xFFFFFFFF, "2000-01-01T00:35:00Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(TaskStartBoundary(c.tens, c.units)), c.boundary);
}

}  // namespace
