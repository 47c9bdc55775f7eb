#include "update/NotifierTask.h"

// The task scheduler binding comes with the notifier task itself; until then
// no task is registered and none is there to delete.
bool RegisterNotifierTask(const MString&, const MString&, HostCallbacks*, uint32_t) {
  return false;
}

bool DeleteNotifierTask(HostCallbacks*, uint32_t) {
  return false;
}
