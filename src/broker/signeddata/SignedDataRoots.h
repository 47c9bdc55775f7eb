// The built-in root certificates (DER). Root A anchors add-in packages and
// manifests, root B shortcut authorisations. The bytes are compiled in from
// the files named at configure time (see resources/roots/BuiltInRoots.cmake):
// the development roots by default, the release roots in a release build.
#pragma once

#include <cstdint>
#include <span>

std::span<const uint8_t> BuiltInRootA();
std::span<const uint8_t> BuiltInRootB();
