#pragma once
// The image extensions that files dropped on the main window (and the open
// dialog's preview) are accepted with.
#include <string>

#include "store/raw/own_raw.h"

namespace astrelon {

// ".3FR.ARW.AVI.BMP.JPG.FTS.FITS.PPM.PNG.BAY.BMQ.CR2 ... .TIFF.X3F"
extern const char* const KnownImageExtensions;

// Whether the upper-case extension of the file name occurs in the known image
// extensions followed by the own RAW list (".FIT" occurs in ".FITS"). A name
// without an extension is never accepted.
bool AcceptedImageExtension(const std::string& fileName);

}  // namespace astrelon
