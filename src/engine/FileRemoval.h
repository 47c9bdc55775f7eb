// Removal of the player's files by name and by pattern (slots 12, 14 and 15):
// the names and patterns come from the engine's lists, the files from the
// folders the host names and the browsers' plugin folders.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class GlintBrokerShim;

// One player file by its name: the control is unregistered first; the
// utility executables' broker keys and file are unlocked first.
bool RemoveNamedFile(GlintBrokerShim* shim, const MString& name, const MString& path);
// The listed files of the types in `mask` in `dir` and the browser plugin
// folders; tells the host (slot 43) when done.
bool RemoveListedFiles(GlintBrokerShim* shim, uint32_t mask, const MString& dir);
// Fills the browser plugin folders list once: the plugin folders the
// browsers' keys name, then `dir`. True when it ran.
bool CollectBrowserPluginFolders(GlintBrokerShim* shim, const MString& dir);
// The files in the product folder `dir` that the types' patterns name; with
// every type, also the product manager folders, the other files, the folder
// itself, the "Temp" folder beside it and (at restart) its parent.
bool RemoveFilesByPattern(GlintBrokerShim* shim, uint32_t mask, const MString& dir);

// Every profile's player data (slot 20): the data folders of the Windows
// generation's layout, each removed with its company folder when that is
// left empty; the maker's folder itself stays. A folder on a path through a
// link is never entered.
void RemovePerUserData(GlintBrokerShim* shim);
