// The notifier task's account (domain and user within 272 units) and start boundary.
#include <gtest/gtest.h>

#include <string>

#include "TestStrings.h"
#include "update/NotifierTaskRules.h"

namespace {

MString Units(char16_t unit, size_t count) {
  return Raw(std::u16string(count, unit));
}

TEST(NotifierTaskRules, AccountWithinItsLimitAndStartBoundary) {
  const MString d200 = Units(u'd', 200), k = u"KESTREL"_ms;
  // clang-format off
  const struct { MString domain, user, account; uint32_t status; } cases[] = {
      {k, u"player"_ms, u"KESTREL\\player"_ms, 0},
      {d200, Units(u'u', 71), d200 + u"\\"_ms + Units(u'u', 71), 0},  // 271 together
      {d200, Units(u'u', 72), Units(u'u', 72), 1746},                 // 272 together
      {MString(), u"player"_ms, u"player"_ms, 1746},
      {k, Units(u'u', 271), Units(u'u', 271), 1746},
      {k, Units(u'u', 272), u""_ms, 1747},
      {k, u""_ms, u""_ms, 1747},
  };
  // clang-format on
  for (const auto& c : cases) {
    const TaskAccount a = ComposeTaskAccount(c.domain, c.user);
    EXPECT_EQ(Show(a.name), Show(c.account)) << c.domain.Length() << "+" << c.user.Length();
    EXPECT_EQ(a.status, c.status) << c.domain.Length() << "+" << c.user.Length();
  }
  EXPECT_EQ(Show(TaskStartBoundary(0, 0)), "2000-01-01T00:00:00Z");
  EXPECT_EQ(Show(TaskStartBoundary(5, 9)), "2000-01-01T00:59:00Z");
  EXPECT_EQ(Show(TaskStartBoundary(6, 10)), "2000-01-01T00:00:00Z");
  EXPECT_EQ(Show(TaskStartBoundary(0xFFFFFFFF, 0xFFFFFFFF)), "2000-01-01T00:35:00Z");
}

}  // namespace
