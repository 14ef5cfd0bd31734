#pragma once
// Camera RAW files: decoded by the RAW decoder (platform/raw_decoder.h) into a
// buffer of 16-bit samples, whose metadata become slot fields and header cards,
// and copied into the slot's float planes, as a colour mosaic (one plane, the
// black level or the decoder's pedestal subtracted) or interpolated (three
// planes, the outermost pixel border dropped). Also the open dialog's thumbnail
// and the observation-time query (metadata only).
#include <cstdint>
#include <string>

namespace astrelon {

// The size and shrink exponent of the last decode (the open dialog shows the
// full size as width and height shifted left by the shrink exponent).
struct TRawDecodeSize {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Shrink = 0;
};
extern TRawDecodeSize LastRawDecode;

// The decoder's buffer between decode and transfer: 4 samples per pixel.
struct TRawBufferView {
  const uint16_t* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Pedestal = 0;  // what the decoder added to every sample
};
extern TRawBufferView RawBuffer;

// Thumbnail size of the open dialog.
constexpr int RawPreviewWidth = 280;
constexpr int RawPreviewHeight = 186;

// Reads a camera RAW file into the slot (slot 0 serves as scratch for identifyOnly).
// interpolate: three colour planes, else the raw mosaic in one plane (RawMosaic 1);
// preview: a thumbnail of at most 280 x 186 from a half-size decode, no messages;
// identifyOnly: metadata and header cards only, true when the file has a time stamp.
bool LoadCameraRaw(int slot, const std::string& fileName, bool interpolate, bool preview, bool identifyOnly);

// Copies RawBuffer into the slot, whose Width and Height give the decoded size.
// useBlackLevel: subtract the slot's RawBlackLevel (noted in a HISTORY card) instead
// of the decoder's pedestal. On failure the slot's planes are freed and it is free.
bool TransferRawImage(int slot, int bits, bool interpolate, bool preview, bool useBlackLevel);

}  // namespace astrelon
