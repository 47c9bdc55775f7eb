#include "update/NotifierTaskRules.h"

TaskAccount ComposeTaskAccount(const MString& domain, const MString& user) {
  const uint64_t domainLength = domain.Length();
  const uint64_t userLength = user.Length();
  if (domainLength != 0 && userLength != 0 && domainLength + userLength < kMaxTaskAccountUnits) {
    return {domain + u"\\"_ms + user, 0};
  }
  if (userLength != 0 && userLength < kMaxTaskAccountUnits) return {user, kStatusAccountUserOnly};
  return {u""_ms, kStatusAccountEmpty};
}

MString TaskStartBoundary(uint32_t tensDraw, uint32_t unitsDraw) {
  const char16_t minute[] = {static_cast<char16_t>(u'0' + tensDraw % 6),
                             static_cast<char16_t>(u'0' + unitsDraw % 10), 0};
  return u"2000-01-01T00:"_ms + MString(minute) + u":00Z"_ms;
}
