// The decisions of the broker's printing methods that need no system: handle
// numbers, the lengths of the byte blobs the player sends, the bitmap size
// rule, the count rules of the text, curve and point operations, the font
// description's face name and the print dialog's refused flags. The Win32
// layer checks each blob's shape (present, one dimension, one-byte elements,
// lower bound 0, lockable), then asks these rules about lengths and counts
// before it hands any byte to GDI.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace PrintRules {

// What the Win32 layer answers for a refused request.
enum class Verdict {
  Accept,
  BadBlob,      // a blob of the wrong length: E_FAIL
  BadArgument,  // a count or flag the broker never passes on: E_INVALIDARG
};

// ------------------------------------------------------------ handle numbers

// Handles cross the interface as 32-bit numbers. Incoming numbers are
// sign-extended: 0x80000000 and above become handles with every upper bit
// set, the widening the system allows for handles shared with 32-bit code.
inline constexpr uint64_t HandleFromNumber(uint32_t number) {
  return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(number)));
}

// Outgoing handles keep their low 32 bits.
inline constexpr uint32_t NumberFromHandle(uint64_t handle) {
  return static_cast<uint32_t>(handle);
}

// ------------------------------------------------------------- fixed blobs

// The blobs whose length is fixed, and that length in bytes.
enum class FixedBlob : uint32_t {
  Rectangle = 16,                // RECT of the rectangle fill and text output
  BitmapRectangle = 16,          // x, y, width, height of the bitmap fills
  OpaqueBitmapHeader = 44,       // header and one colour entry
  TransparentBitmapHeader = 48,  // header and two colour entries
  FontDescription = 92,          // LOGFONTW
  WorldTransform = 24,           // XFORM
};

inline constexpr Verdict CheckFixedBlob(FixedBlob blob, uint64_t length) {
  return length == static_cast<uint32_t>(blob) ? Verdict::Accept : Verdict::BadBlob;
}

// ------------------------------------------------------------------ bitmaps

inline constexpr uint32_t kInfoHeaderBytes = 40;
inline constexpr uint32_t kColourEntryBytes = 4;
inline constexpr uint32_t kUncompressed = 0;  // BI_RGB

// The 40-byte BITMAPINFOHEADER at the start of a header blob.
struct BitmapHeader {
  uint32_t size = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};

// The header read little-endian from the blob's first 40 bytes; nothing for
// a shorter blob.
std::optional<BitmapHeader> ReadBitmapHeader(std::span<const uint8_t> blob);

// Why a bitmap is refused; every refusal is E_FAIL to the player.
enum class BitmapVerdict {
  Fits,
  HeaderShort,    // the header blob holds no whole header
  NotInfoHeader,  // biSize other than 40: later header forms read more
  NotOnePlane,
  Compressed,     // anything but BI_RGB
  BadWidth,       // not above 0
  BadHeight,      // 0, or INT32_MIN, which has no absolute value
  BadBitCount,    // not 1, 4, 8, 16, 24 or 32
  TooFewColours,  // the colour table is longer than the header blob's
  PixelsShort,    // fewer pixel bytes than the rows the header describes
};

// Colour entries the header calls for: biClrUsed, or 2^bpp when that is 0
// and bpp is at most 8.
uint64_t ColourEntriesNeeded(const BitmapHeader& header);

// Pixel bytes of the image: |biHeight| rows, each padded to 32 bits. For
// any header the shape rules admit (width and |height| below 2^31, at most
// 32 bits a pixel) this stays below 2^64.
uint64_t PixelBytesNeeded(const BitmapHeader& header);

// Whether StretchDIBits, given this header in a blob of `headerBytes` bytes
// (the header and its colour entries) and a pixel blob of `pixelBytes`,
// reads only bytes the player sent.
BitmapVerdict CheckBitmap(const BitmapHeader& header, uint64_t headerBytes, uint64_t pixelBytes);

// ------------------------------------------------------- text and counts

// The text operations refuse longer strings before touching any blob.
inline constexpr uint32_t kMaxTextCount = 8192;
inline constexpr uint32_t kAdvancePairs = 0x2000;  // ETO_PDY: x and y advances

struct TextOutCall {
  uint32_t count = 0;
  uint32_t options = 0;
  bool wide = false;
  bool rectNull = false;      // dwIsRectNULL non-zero
  bool advancesNull = false;  // dwIsDxNULL non-zero
};

// The checked text output, and what GDI receives.
struct TextOutPlan {
  Verdict verdict = Verdict::BadBlob;
  bool passRectangle = false;  // else GDI gets no rectangle
  bool passAdvances = false;   // else GDI gets no advances
};

// BrokerExtTextOutA/W: the count first, then the rectangle (16 bytes even
// when it is not passed on), the string (count + 1 units and no other
// length) and the advances (at least count × 4 bytes, × 8 with ETO_PDY,
// unless not passed on). Lengths are blob lengths in bytes.
TextOutPlan CheckTextOut(const TextOutCall& call, uint64_t rectBytes, uint64_t stringBytes,
                         uint64_t advanceBytes);

// BrokerGetTextExtentPoint32A/W: the count, then the string's length.
Verdict CheckTextExtent(uint32_t count, bool wide, uint64_t stringBytes);

// BrokerPolyBezierTo: exactly count × 8 bytes of points; any blob when the
// count is 0 (GDI then draws nothing).
Verdict CheckBezier(uint32_t count, uint64_t pointBytes);

// BrokerDPtoLP carries one point: counts 0 and 1 go to GDI unchanged, a
// larger count would let GDI write past it.
inline constexpr Verdict CheckPointCount(uint32_t count) {
  return count <= 1 ? Verdict::Accept : Verdict::BadArgument;
}

// ------------------------------------------------------ font and dialog

inline constexpr size_t kFontDescriptionBytes = 92;
inline constexpr size_t kFaceNameOffset = 28;  // after five 32-bit and eight 8-bit fields
inline constexpr size_t kFaceNameUnits = 32;

// BrokerCreateFontIndirect's copy of the 92-byte blob with the face name's
// last unit (unit 31) set to 0, so GDI never reads a name past the blob.
// Nothing for a blob of another length.
std::optional<std::array<uint8_t, kFontDescriptionBytes>> FontDescriptionFrom(
    std::span<const uint8_t> blob);

// Print dialog flags that ask for a hook procedure or dialog template the
// caller would have to supply (PD_ENABLEPRINTHOOK, PD_ENABLESETUPHOOK,
// PD_ENABLEPRINTTEMPLATE, PD_ENABLESETUPTEMPLATE and their handle forms).
// The broker supplies none, and a hook flag without a hook makes the dialog
// call address 0 inside the broker.
inline constexpr uint32_t kRefusedDialogFlags =
    0x1000 | 0x2000 | 0x4000 | 0x8000 | 0x10000 | 0x20000;

inline constexpr Verdict CheckDialogFlags(uint32_t flags) {
  return (flags & kRefusedDialogFlags) == 0 ? Verdict::Accept : Verdict::BadArgument;
}

}  // namespace PrintRules
