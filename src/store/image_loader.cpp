#include "store/image_loader.h"

#include <filesystem>
#include <new>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "common/paths.h"
#include "core/busy_cursor.h"
#include "core/settings.h"
#include "store/color_models.h"
#include "store/fits/fits_reader.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/initial_zoom.h"
#include "store/load_messages.h"
#include "store/observation_time.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/jpeg_reader.h"
#include "store/pictures/png_reader.h"
#include "store/pictures/pnm_reader.h"
#include "store/raw/camera_raw.h"
#include "store/raw/own_raw.h"
#include "store/tiff/tiff_reader.h"

namespace astrelon {

namespace {

bool LoadCameraRawFile(int slot, const std::string& fileName) {
  return LoadCameraRaw(slot, fileName, Options.RawInterpolation != 0, false, false);
}

int CountSlotsInUse() {
  int n = 0;
  for (int s = 1; s <= MaxImageSlots; ++s) n += Store.InUse[s] ? 1 : 0;
  return n;
}

// Fields every reader starts from.
void ResetSlot(int slot, const std::string& fileName) {
  TDisplayRecord& d = Store.Display[slot];
  d.ZoomPercent = 100;
  d.DisplayType = DtGrey;
  d.ChannelSelection = 0;
  TImageSlot& im = Store.Image[slot];
  im.IsColor = 0;
  im.PlaneCount = 0;
  im.JpegFileSize = 0;
  im.JpegQuality = -1;
  im.DarkRms = 0.0;
  im.ColorModel = CmRgb;
  for (float& m : im.RawMultipliers) m = 1.0f;
  im.RawBlackLevel = 0;
  im.RawFilterPattern = 0;
  // Only the first card survives from an earlier image.
  THeaderCardList& h = Store.Header[slot];
  if (h.size() > 1) h[1] = PadCard("END");
  Store.FileName[slot] = fileName;
}

// A failed read leaves no slot in use (a slot with a window keeps its planes for it).
void ReleaseSlot(int slot) {
  Store.InUse[slot] = 0;
  if (!Store.HasWindow[slot]) Store.Image[slot].FreePlanes();
}

bool RunReader(int slot, const std::string& fileName, const std::string& ext, TDateTime& obsTime) {
  // Own RAW layouts come first; a file too short for its layout goes on to the others.
  if (ContainsStr(OwnRawExtensionList, ext) && LoadOwnRawFile(slot, fileName, false)) return true;
  if (ext == ".FTS" || ext == ".FIT") return LoadFits(slot, fileName, false);
  if (ext == ".BMP") return LoadBmpFile(slot, fileName);
  if (ext == ".JPG" || ext == ".JPE") {
    switch (LoadJpegFile(slot, fileName, obsTime)) {
      case TJpegLoad::Loaded: return true;
      case TJpegLoad::Aborted: return false;
      case TJpegLoad::NotDecodable:
        Store.Image[slot].JpegFileSize = 0;
        try {
          return LoadCameraRawFile(slot, fileName);
        } catch (const std::bad_alloc&) {
          throw;
        } catch (const std::exception&) {
          return false;
        }
    }
    return false;
  }
  if (ext == ".TIF") return LoadTiffImage(slot, fileName);
  if (ext == ".PNG") return LoadPngFile(slot, fileName);
  if (ext == ".PPM" || ext == ".PGM") return LoadPnmFile(slot, fileName);
  try {
    return LoadCameraRawFile(slot, fileName);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    return false;
  }
}

// Date cards when the reader wrote none: the observation time, else the file's time.
void AddDateCards(int slot, const std::string& fileName, const std::string& ext, TDateTime obsTime) {
  if (FindHeaderKeyword(slot, "DATE") != -1 || FindHeaderKeyword(slot, "TIME") != -1) return;
  if (obsTime < 0.0 && ext == ".BMP") {
    int32_t size = 0;
    ScanFileForExifDate(fileName, obsTime, size);
  }
  if (obsTime > 0.0) AppendDateCards(slot, obsTime, true);
  else if (const std::optional<TDateTime> t = FileModificationTime(fileName)) AppendDateCards(slot, *t, false);
}

}  // namespace

bool LoadImageFile(int slot, const std::string& fileName) {
  if (CountSlotsInUse() >= MaxImageSlots || !ValidSlot(slot)) return false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return false;
  TBusyCursorScope busy;
  ResetSlot(slot, fileName);
  const std::string ext = UpperFileExt(fileName).substr(0, 4);
  TDateTime obsTime = UnknownDateTime;
  bool ok = false;
  try {
    ok = RunReader(slot, fileName, ext, obsTime);
  } catch (...) {
    ReleaseSlot(slot);
    throw;
  }
  TImageSlot& im = Store.Image[slot];
  im.PlaneCount = im.IsColor ? 3 : 1;
  im.NumberedName = 0;
  im.DataChanged = 0;
  if (!ok) {
    ReleaseSlot(slot);
    return false;
  }
  Store.InUse[slot] = 1;
  try {
    AddDateCards(slot, fileName, ext, obsTime);
  } catch (const std::exception&) {
    // The image stays loaded without date cards.
  }
  const TZoomRoom room = ZoomRoomHook ? ZoomRoomHook() : TZoomRoom{};
  Store.Display[slot].ZoomPercent = InitialZoomPercent(im.Width, im.Height, room);
  if (Options.YuvLoad) RGBtoYUV(slot);
  return true;
}

bool ReadFileHeaderOnly(int slot, const std::string& fileName) { return LoadFits(slot, fileName, true); }

bool IdentifyCameraRaw(int slot, const std::string& fileName) {
  return LoadCameraRaw(slot, fileName, false, true, true);
}

}  // namespace astrelon
