// The library's one export.
#include <new>

#include "engine/GlintBrokerShim.h"

extern "C" __declspec(dllexport) GlintBrokerShim* Start(HostCallbacks* host) {
  auto* shim = new (std::nothrow) GlintBrokerShim(host);
  if (shim != nullptr && !shim->IsComplete()) {
    shim->Destroy();
    return nullptr;
  }
  return shim;
}
