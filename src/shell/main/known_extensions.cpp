#include "shell/main/known_extensions.h"

#include "common/file_extension.h"

namespace astrelon {

const char* const KnownImageExtensions =
    ".3FR.ARW.AVI.BMP.JPG.FTS.FITS.PPM.PNG.BAY.BMQ.CR2.CRW.CS1.DC2.DCR.DNG.ERF.FFF.K25.KDC.MEF.MOS.MRW.NEF.ORF.PEF."
    "RAF.RAW.RDC.SRF.TIFF.X3F";

bool AcceptedImageExtension(const std::string& fileName) {
  const std::string ext = UpperFileExt(fileName);
  if (ext.size() < 2) return false;
  return (std::string(KnownImageExtensions) + OwnRawExtensionList).find(ext) != std::string::npos;
}

}  // namespace astrelon
