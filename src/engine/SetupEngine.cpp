#include "engine/SetupEngine.h"

#include "engine/HostCallbacks.h"

namespace {
// The player's own Add/Remove Programs entries: ActiveX, plugin, Pepper and
// the shared components.
constexpr const char16_t* kProductCodes[4] = {
    u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E101}",
    u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E102}",
    u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E103}",
    u"{6E2A1F3C-5B7D-4C29-9A1E-34A0C0D8E104}",
};
}  // namespace

SetupEngine::SetupEngine(GlintBrokerShim* owner)
    : uninstallKey(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"),
      uninstallKey32(u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"),
      ownVersion(kOwnVersion),
      shim(owner) {
  for (int i = 0; i < 4; ++i) productCodes[i] = MString(kProductCodes[i]);
}

const MStringList* SetupEngine::KeepList(uint32_t type) const {
  switch (type) {
    case kPlayerActiveX:
      return &keepListActiveX;
    case kPlayerPlugin:
      return &keepListPlugin;
    case kPlayerPepper:
      return &keepListPepper;
    default:
      return nullptr;
  }
}
