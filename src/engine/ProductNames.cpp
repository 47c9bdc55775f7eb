#include "engine/ProductNames.h"

#include "engine/HostCallbacks.h"

const char16_t* PlayerTypeSuffix(uint32_t type) {
  switch (type) {
    case kPlayerActiveX:
      return u"ActiveX";
    case kPlayerPlugin:
      return u"Plugin";
    case kPlayerPepper:
      return u"Pepper";
    default:
      return u"";
  }
}

MString PlayerTypeKey(uint32_t type) {
  return MString(kPlayerKey) + MString(PlayerTypeSuffix(type));
}

MString ReleaseTypeKey(uint32_t mask) {
  MString key;
  if (mask & kPlayerActiveX) key = MString(u"SOFTWARE\\Kestrelink\\GlintPlayerActiveXReleaseType");
  if (mask & kPlayerPlugin) key = MString(u"SOFTWARE\\Kestrelink\\GlintPlayerPluginReleaseType");
  if (mask & kPlayerPepper) key = MString(u"SOFTWARE\\Kestrelink\\GlintPlayerPepperReleaseType");
  return key;
}
