#pragma once
// Saving a slot under a new name in one of the save dialog's formats: FITS and
// TIFF from the float planes, BMP, JPEG and PNG from the picture as displayed.
#include <string>

namespace astrelon {

// Filter indexes of the save dialog.
enum TSaveFilter : int { SfFits = 1, SfBmp = 2, SfJpeg = 3, SfTiff = 4, SfPng = 5 };

// The dialog's filter for a file name: its upper-case extension cut to 4
// characters (".TIFF" counts as ".TIF") picks BMP, JPEG, TIFF or PNG; anything
// else FITS.
int SaveFilterForName(const std::string& fileName);
// The name written for a filter: the extension (from the last dot of the file
// part, added when there is none) becomes "Fits Dateiendung", ".bmp", ".jpg",
// ".tif" or ".png".
std::string SaveFileNameFor(const std::string& fileName, int filter);
// The extension of a filter (FITS: the setting "Fits Dateiendung").
std::string SaveExtensionFor(int filter);

// BITPIX of the save dialog's FITS type entry: 0 -32, 1 32, 2 16; and back.
int FitsBitpixOfTypeIndex(int typeIndex);
int FitsTypeIndexOfBitpix(int bitpix);

// Writes the slot as filter's format to SaveFileNameFor(dialogName, filter),
// first asking before an existing file is replaced. On success the slot takes
// the new name (numbered-name flag cleared), the name goes on the recent-file
// list and writtenName receives it. A declined question writes nothing; a
// failed write shows a message naming the file and changes nothing.
bool SaveSlotAs(int slot, int filter, const std::string& dialogName, int fitsTypeIndex, std::string& writtenName);

}  // namespace astrelon
