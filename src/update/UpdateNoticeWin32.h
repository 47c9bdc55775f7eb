// The offer the broker stored in the user's registry: its version, its
// notice content, and the user's refusal of it.
#pragma once

#include "foundation/MConfigNode.h"
#include "foundation/MString.h"

inline constexpr char16_t kUpdateNoticeKey[] = u"Software\\Kestrelink\\GlintPlayerUpdate";

// The offer document ("description"); false when it is missing or is not a
// plain string value.
bool ReadOfferDocument(MString* document);
// Records the offered version as "Rejected". True when the offer has a
// version, whether or not the write went through.
bool RejectStoredOffer();
// The stored offer's notice content, parsed, in front of `texts`.
bool ReadStoredNotice(MConfigNode** texts);
// The stored offer's version.
bool ReadStoredOfferVersion(MString* version);
