// Fixed names of the product: registry keys, folders, the maker's sites.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

inline constexpr char16_t kPlayerKey[] = u"Software\\Kestrelink\\GlintPlayer";
inline constexpr char16_t kSafeVersionsKey[] = u"Software\\Kestrelink\\GlintPlayer\\SafeVersions";
inline constexpr char16_t kUacPolicyKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// The maker's sites (reserved names: nothing here reaches a real host).
inline constexpr char16_t kMakerWebSite[] = u"https://www.glint.example";
// The per-user folder named after the maker's former web domain.
inline constexpr char16_t kMakerSiteFolderName[] = u"glintmedia.example";

// "ActiveX", "Plugin" or "Pepper" for a single player type; empty otherwise.
const char16_t* PlayerTypeSuffix(uint32_t type);
// The per-type key: kPlayerKey followed by the type's suffix.
MString PlayerTypeKey(uint32_t type);
// HKLM release-type key of the last type present in the mask (ActiveX,
// plugin, Pepper order); null when the mask holds no type.
MString ReleaseTypeKey(uint32_t mask);
