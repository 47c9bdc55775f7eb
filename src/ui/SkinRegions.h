// Where the setup window's pictures lie in its skin sheets (x, y, width,
// height). Sheet 161 holds the window furniture and every control look,
// sheet 164 the splash picture; sheet 162 ships with them but the window
// does not use it. scripts/make-skins.sh draws the artwork inside exactly
// these regions.
#pragma once

#include <array>
#include <cstdint>

#include "ui/ElementGeometry.h"

inline constexpr int32_t kSkinSheetMain = 161;    // 569 x 175
inline constexpr int32_t kSkinSheetBadge = 162;   // 72 x 44
inline constexpr int32_t kSkinSheetSplash = 164;  // 460 x 130

// Left cap, middle and right cap.
using SkinSlices = std::array<UiSourceRect, 3>;

// A nine-slice region: its origin, column widths and row heights, as
// MakeNineSliceSpec takes them.
struct SkinNineSlice {
  int32_t x, y;
  std::array<int32_t, 3> columns, rows;
};

inline constexpr SkinSlices kFooterBarSlices = {{{1, 0, 1, 68}, {2, 0, 1, 68}, {3, 0, 1, 68}}};
// Alpha blended.
inline constexpr SkinNineSlice kFocusRing = {13, 44, {7, 1, 7}, {7, 1, 7}};

// Push buttons: 33 pixels high at y 77, caps 3 wide, middle 1.
constexpr SkinSlices ButtonSlices(int32_t left, int32_t middle, int32_t right) {
  return {{{left, 77, 3, 33}, {middle, 77, 1, 33}, {right, 77, 3, 33}}};
}
inline constexpr SkinSlices kButtonNormal = ButtonSlices(13, 16, 17);
inline constexpr SkinSlices kButtonHover = ButtonSlices(20, 23, 24);
inline constexpr SkinSlices kButtonPressed = ButtonSlices(27, 30, 31);
inline constexpr SkinSlices kButtonDisabled = ButtonSlices(6, 9, 10);

// Check boxes and radio buttons: one 15 x 15 slice per look; the pressed
// looks are the normal ones.
struct SkinToggleLooks {
  UiSourceRect uncheckedNormal, uncheckedHover, uncheckedPressed;
  UiSourceRect checkedNormal, checkedHover, checkedPressed;
};
inline constexpr SkinToggleLooks kCheckBoxLooks = {{4, 0, 15, 15},   {19, 0, 15, 15},
                                                   {4, 0, 15, 15},   {4, 15, 15, 15},
                                                   {19, 15, 15, 15}, {4, 15, 15, 15}};
inline constexpr SkinToggleLooks kRadioButtonLooks = {{2, 140, 15, 15},  {17, 140, 15, 15},
                                                      {2, 140, 15, 15},  {2, 155, 15, 15},
                                                      {17, 155, 15, 15}, {2, 155, 15, 15}};

inline constexpr UiSourceRect kMakerLogo = {34, 0, 47, 71};
inline constexpr UiSourceRect kNoteIcon = {5, 30, 13, 13};
inline constexpr UiSourceRect kConflictRowIcon = {20, 30, 13, 13};
inline constexpr UiSourceRect kFailureIcon = {0, 110, 33, 30};
inline constexpr SkinSlices kProgressTrackSlices = {
    {{4, 44, 4, 33}, {8, 44, 1, 33}, {9, 44, 4, 33}}};
inline constexpr SkinSlices kProgressFillSlices = {
    {{2, 77, 1, 29}, {3, 77, 1, 29}, {4, 77, 2, 29}}};
// Opaque copies.
inline constexpr SkinNineSlice kInstallerSplashBackground = {155, 0, {1, 412, 1}, {173, 1, 1}};
inline constexpr SkinNineSlice kUninstallerSplashBackground = {33, 123, {1, 120, 1}, {1, 50, 1}};
// In sheet 164.
inline constexpr UiSourceRect kSplashPicture = {0, 0, 400, 130};
