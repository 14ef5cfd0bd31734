#pragma once
// Small services of the main window that every command uses (engine half): text
// conversions, the pixel read-out, colour-model pairing of two images, the
// selection clamp and slot utilities. The topics with files of their own are
// included here so that commands need one header.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_extension.h"
#include "common/number_text.h"
#include "core/busy_cursor.h"
#include "core/packed_params.h"
#include "shell/main/recent_files.h"
#include "shell/statistics/block_statistics.h"
#include "store/header_dates.h"
#include "store/image_store.h"

namespace astrelon {

// Integer of the trimmed text; throws std::invalid_argument when it is not one.
int32_t StrToIntTrim(std::string_view s);
// The text with every "&" removed (menu captions in history texts and lists).
std::string StripAccelerators(std::string_view s);
// Fixed-point text with precision 5 and 3 decimals (history texts).
std::string FormatFixed3(double x);

// "X: 12  Y: 34  Wert: 567.5" for the pixel (x, y) of a slot: a grey value in
// general format with 6 digits or "Transparent"; three colour values separated by
// ", " (a blank one "Tr. ") and " (RGB)" or " (YUV)". Empty outside the image.
std::string PixelValueText(int slot, int x, int y);
// Width of the status panel that shows a pixel text `textWidth` pixels wide on a
// screen of `dpi` pixels per inch: max(160, textWidth x 13 x dpi div 1056 + 16).
int32_t PixelTextPanelWidth(int32_t textWidth, int32_t dpi);
// The pixel text shows in the normal text colour at zooms of 100, 200 and 400 %,
// greyed at every other zoom (the pixels are then resampled).
bool PixelTextInNormalColour(int32_t zoom);

// Each of the two slots (when >= 1) that holds a colour image in the YUV model is
// converted back to RGB. Used before two-image operations.
void EnsureRgbPair(int slot1, int slot2);
// When both hold colour images with different colour models, slot2 is switched
// to the model of slot1.
void MatchColourModel(int slot1, int slot2);

// Clamps the working rectangle into the slot's image: at least 2 x 2 pixels (one
// pixel on an axis of an image one pixel wide or high).
void ClampSelectionToImage(int slot);
// The working rectangle as (left, top, right, bottom).
TRectI GetSelectionRect();

// When exactly two image windows are open, the first other slot with a window; else -1.
int FindOtherWindow(int slot);

// Status text of the processor: the extensions found ("mmx sse sse2 "), then
// " ", the processor count and "core detected" or "cores detected".
std::string CpuFeaturesText();

// Every pixel of a plane := value.
void FillPlane(int slot, int plane, float value);
// The plane's value at (x, y); 0 outside the plane.
float GetPixelOrZero(int slot, int plane, int x, int y);

}  // namespace astrelon
