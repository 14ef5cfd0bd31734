#pragma once
// Own RAW layouts: headered raw pixel files of up to five layouts that the user
// describes (extension, header length, width, height, 8 or 16 bits, byte order,
// optional colour-mosaic conversion). Each layout is kept in "rawdef<N>.ini" in
// the settings folder.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace astrelon {

struct TRawFormatDef {
  uint8_t InUse = 0;           // "Verwenden"
  std::string Extension;       // with its dot, ".raw"; compared without regard to case
  int32_t HeaderOffset = 0;    // bytes before the first pixel
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Bits = 0;            // 8: one byte per sample; anything else: two
  uint8_t IntelOrder = 0;      // "Intel": the first byte of a sample is the high byte
  uint8_t ColorInterpolation = 0;
  uint8_t Modified = 0;        // edited and not yet saved
  std::string Pattern;         // colour-mosaic file (".qcm") of the conversion
};

constexpr int RawFormatCount = 5;
// Layouts 1..5 (entry 0 unused).
extern std::array<TRawFormatDef, RawFormatCount + 1> RawFormatDefs;
// Extensions of the active layouts in layout order, upper case, without
// separators (".RAW.DAT").
extern std::string OwnRawExtensionList;

// Largest picture a layout may describe.
constexpr int64_t MaxOwnRawPixels = 400000000;
// Whether the layout's numbers describe a readable picture: offset >= 0, width
// and height >= 1, at most MaxOwnRawPixels pixels.
bool RawLayoutValid(const TRawFormatDef& def);
// Bytes a file of the layout holds at least (64-bit).
int64_t RawLayoutFileSize(const TRawFormatDef& def);

// "rawdef<N>.ini" in the settings folder.
std::string RawDefinitionFileName(int index);
// Clears layout `index` and fills it from the file when it exists. Lines 2..5
// that are no integers, or numbers RawLayoutValid refuses, leave it cleared.
void ReadRawDefinition(int index, const std::string& fileName);
// Reads the five definition files (settings folder first, then the program's
// data folders) and builds OwnRawExtensionList.
void LoadRawDefinitions();
// Rebuilds OwnRawExtensionList from the active layouts.
void BuildOwnRawExtensionList();
// Writes layout `index` to its file (8 lines ended by CR LF, a 9th with the
// pattern after "Farbinterpolation"); false when it cannot be written.
bool RawFormatSpeichern(int index);

// Reads a file of the first layout whose extension is the file's into the slot:
// one plane of 8- or 16-bit samples, display range 0..255 or 0..65535. False,
// without a message and with the slot free, when no layout fits or the file is
// shorter than header and pixels. preview: a colour conversion runs at half size.
bool LoadOwnRawFile(int slot, const std::string& fileName, bool preview);

// The colour-mosaic conversion, installed by the subsystem that owns it; while
// ReadMosaicSettings is empty no layout is converted.
struct TMosaicConversion {
  std::function<bool(const std::string& fileName)> ReadMosaicSettings;
  // The conversion method chosen in the colour-mosaic dialog (item index).
  std::function<int()> Method;
  std::function<void(int method)> SetMethod;
  // The RGB image of the slot's mosaic in a new slot (> 0), or <= 0.
  std::function<int(int slot)> GenerateRgbFromMosaic;
};
extern TMosaicConversion MosaicConversion;
// Method "Bayer, schnelle Vorschau, halbe Größe".
constexpr int QuickPreviewMosaicMethod = 2;

}  // namespace astrelon
