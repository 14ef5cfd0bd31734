#include "shell/save/save_as.h"

#include <exception>
#include <filesystem>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "core/settings.h"
#include "shell/display/renderer.h"
#include "shell/main/recent_files.h"
#include "shell/save/save_tiff_scaled.h"
#include "store/color_models.h"
#include "store/display/display_bitmap.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/jpeg_writer.h"
#include "store/pictures/png_writer.h"
#include "store/tiff/tiff_writer.h"

namespace astrelon {

int SaveFilterForName(const std::string& fileName) {
  const std::string ext = UpperFileExt(fileName).substr(0, 4);
  if (ext == ".BMP") return SfBmp;
  if (ext == ".JPG") return SfJpeg;
  if (ext == ".TIF") return SfTiff;
  if (ext == ".PNG") return SfPng;
  return SfFits;
}

std::string SaveExtensionFor(int filter) {
  switch (filter) {
    case SfBmp: return ".bmp";
    case SfJpeg: return ".jpg";
    case SfTiff: return ".tif";
    case SfPng: return ".png";
    default: return Settings.FitsExtension;
  }
}

std::string SaveFileNameFor(const std::string& fileName, int filter) {
  return ReplaceFileExt(fileName, SaveExtensionFor(filter));
}

int FitsBitpixOfTypeIndex(int typeIndex) { return typeIndex == 2 ? 16 : typeIndex == 1 ? 32 : -32; }
int FitsTypeIndexOfBitpix(int bitpix) { return bitpix == 16 ? 2 : bitpix == 32 ? 1 : 0; }

namespace {

// FITS and TIFF hold RGB: a YUV image is turned back first.
void MakeRgb(int slot) {
  const TImageSlot& im = Store.Image[slot];
  if (im.IsColor && im.ColorModel == CmYuv && !YUVtoRGB(slot)) EngineUi().ShowMessage("Error: YUV to RGB");
}

bool WriteSlot(int slot, int filter, int fitsTypeIndex, const std::string& name) {
  switch (filter) {
    case SfFits:
      MakeRgb(slot);
      return SaveFits(slot, FitsBitpixOfTypeIndex(fitsTypeIndex), name, true, false);
    case SfTiff:
      MakeRgb(slot);
      return SaveTiffScaled(slot, Settings.TiffSaveFormat, name);
    default: {
      // The picture as displayed (black and white point, gamma, palette), at full size.
      TDisplayBitmap bitmap;
      if (!RenderSlotBitmap(slot, 100, bitmap)) return false;
      if (filter == SfBmp) return SaveBmpFile(bitmap, name);
      if (filter == SfJpeg)
        return SaveJpegFile(bitmap, Settings.JpegQuality,
                            JpegGreyOutput(bitmap, Store.Display[slot].DisplayType), name);
      return SavePngFile(bitmap, Settings.PngCompression, Options.PngInterlaced != 0, name);
    }
  }
}

}  // namespace

bool SaveSlotAs(int slot, int filter, const std::string& dialogName, int fitsTypeIndex, std::string& writtenName) {
  if (!SlotInUse(slot) || filter < SfFits || filter > SfPng) return false;
  const std::string name = SaveFileNameFor(dialogName, filter);
  std::error_code ec;
  if (std::filesystem::exists(name, ec)) {
    if (EngineUi().AskYesNoCancel(ReplaceFileQuestionText(name), false) != TDialogAnswer::Yes) return false;
    EngineUi().ProcessMessages();
  }
  bool ok = false;
  std::string error;
  try {
    ok = WriteSlot(slot, filter, fitsTypeIndex, name);
  } catch (const std::bad_alloc&) {
    error = OutOfMemoryText(name);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!ok) {
    EngineUi().ShowMessage(error.empty() ? SaveFailedText(name) : error);
    return false;
  }
  Store.FileName[slot] = name;
  Store.Image[slot].NumberedName = 0;
  AddRecentFile(name);
  writtenName = name;
  return true;
}

}  // namespace astrelon
