#pragma once
// The one entry through which a file on disk becomes the content of an image
// slot: the slot is reset, a reader is chosen by the file's extension, and the
// common work follows (plane count, in-use flag, date cards, initial zoom and
// the optional conversion to YUV).
#include <string>

namespace astrelon {

// True when a reader filled the slot. False at once (nothing done) when 49 slots
// are in use, the file does not exist or the slot is not 1..49. A failed read
// has shown its message and leaves the slot free. No image window is created.
// Throws std::bad_alloc when the image does not fit in memory (the slot is
// then left free).
bool LoadImageFile(int slot, const std::string& fileName);

// The FITS header alone into a slot (slot 0 serves as scratch space).
bool ReadFileHeaderOnly(int slot, const std::string& fileName);
// The camera RAW decoder's metadata alone (date cards) into a slot; true when the
// file carried a time stamp.
bool IdentifyCameraRaw(int slot, const std::string& fileName);

}  // namespace astrelon
