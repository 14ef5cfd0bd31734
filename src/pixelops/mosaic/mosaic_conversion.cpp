#include "pixelops/mosaic/mosaic_conversion.h"

#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "common/float_range.h"
#include "common/number_text.h"
#include "common/text_excerpt.h"
#include "core/busy_cursor.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/colour/camera_matrix_table.h"
#include "pixelops/colour/camera_profile.h"
#include "pixelops/mosaic/mosaic_interpolation_stage.h"
#include "pixelops/mosaic/mosaic_passes.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "shell/main/main_services.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/raw/mosaic_repair.h"
#include "store/raw/own_raw.h"

namespace astrelon {

std::optional<TMosaicNumbers> ReadMosaicNumbers(const TMosaicSettings& s) {
  TMosaicNumbers n;
  for (const auto& [text, value] : {std::pair{&s.RedRatio, &n.RedRatio}, std::pair{&s.BlueRatio, &n.BlueRatio},
                                    std::pair{&s.G1mul, &n.G1mul}, std::pair{&s.Bias, &n.Bias},
                                    std::pair{&s.Rmul, &n.Rmul}, std::pair{&s.Bmul, &n.Bmul}}) {
    // Each number is applied to float pixels: one beyond the float range is none.
    const std::optional<double> v = TryStrToFloat32Dot(*text);
    if (!v) {
      EngineUi().ShowMessage("'" + MessageExcerpt(*text) + "' ist kein gültiger Gleitkommawert");
      return std::nullopt;
    }
    *value = *v;
  }
  for (double* m : {&n.G1mul, &n.Rmul, &n.Bmul}) *m = LimitFactor(*m);
  return n;
}

namespace {

// The folder of the file name with "RGB_" before its file part.
std::string ResultFileName(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t part = slash == std::string::npos ? 0 : slash + 1;
  return name.substr(0, part) + "RGB_" + name.substr(part);
}

// Name, header and colour state of a fresh three-plane result r of w.
void SetUpResult(int32_t w, int32_t r) {
  TImageSlot& im = Store.Image[size_t(r)];
  im.IsColor = 1;
  im.PlaneCount = 3;
  im.ColorModel = CmRgb;
  Store.FileName[size_t(r)] = ResultFileName(Store.FileName[size_t(w)]);
  im.NumberedName = 0;
  MakeCopyName(r, r);
  CopyHeaderCards(w, r);
}

// The working slot exists only during the conversion.
class TWorkingSlot {
public:
  explicit TWorkingSlot(int32_t slot) : slot_(slot) {}
  ~TWorkingSlot() { FreeSlot(slot_); }
  TWorkingSlot(const TWorkingSlot&) = delete;
  TWorkingSlot& operator=(const TWorkingSlot&) = delete;

private:
  int32_t slot_;
};

// The size-ratio offsets of the interpolation.
struct TOffsets {
  std::span<const int32_t> RedColumns, BlueColumns, RedRows, BlueRows;
};

// Steps after the working mosaic: the result r from the working slot w (the half
// size, or the result's planes and the interpolation stage), the history card,
// the size ratios and the camera profile. -1 when the stage made nothing.
int32_t FinishResult(int32_t w, int32_t r, const TMosaicSettings& s, const TMosaicNumbers& numbers, bool redFlag,
                     bool blueFlag, const TOffsets& offsets);

}  // namespace

int32_t GenerateRgbFromMosaic(int32_t source) {
  AbortRequested = 0;
  TBusyCursorScope busy;
  if (!SlotInUse(source)) return -1;
  const TImageSlot& src = Store.Image[size_t(source)];
  if (src.Width <= 5 || src.Height <= 5 || src.Planes[1].size() < src.PixelCount()) return -1;
  if (CountOpenWindows() >= MaxImageSlots - 1) return -1;
  const TMosaicSettings s = MosaicSettings;
  const int32_t method = s.Method;
  if (!MosaicMethodAvailable(method)) return -1;
  const std::optional<TMosaicNumbers> numbers = ReadMosaicNumbers(s);
  if (!numbers) return -1;
  const bool redFlag = std::abs(numbers->RedRatio - 1.0) > 1e-5;
  const bool blueFlag = std::abs(numbers->BlueRatio - 1.0) > 1e-5;

  // Step 1-2: the working copy W and its mosaic.
  const int32_t w = FindFreeSlot();
  if (w < 1 || !CopyImageSlot(source, w)) return -1;
  TWorkingSlot working(w);
  StoreMosaicPattern();
  const TMosaicCells& cells = MosaicPattern;
  TImageSlot& wim = Store.Image[size_t(w)];
  const int32_t w0 = wim.Width, h0 = wim.Height;
  wim.Planes[1].resize(wim.PixelCount());
  PrepareWorkingMosaic(src.Plane(1), wim.Plane(1), w0, h0, cells,
                       {.Bias = numbers->Bias,
                        .Rmul = numbers->Rmul,
                        .Bmul = numbers->Bmul,
                        .G1mul = numbers->G1mul,
                        .Multiply = method > 0,
                        .NearGreens = method > 1});
  // Step 3: the size-ratio offsets of the interpolation.
  const std::vector<int32_t> redCols = SizeRatioOffsets(w0, numbers->RedRatio);
  const std::vector<int32_t> blueCols = SizeRatioOffsets(w0, numbers->BlueRatio);
  const std::vector<int32_t> redRows = SizeRatioOffsets(h0, numbers->RedRatio);
  const std::vector<int32_t> blueRows = SizeRatioOffsets(h0, numbers->BlueRatio);
  UpdateMinMax(w);
  if (MosaicSwitchesEnabled(s) && s.Highlights) RepairClippedMosaic(w, cells[0] == McGreen ? 0 : 1);

  const int32_t r = FindFreeSlot();
  if (r < 1) return -1;
  try {
    return FinishResult(w, r, s, *numbers, redFlag, blueFlag, {redCols, blueCols, redRows, blueRows});
  } catch (...) {
    FreeSlot(r);
    throw;
  }
}

namespace {

int32_t FinishResult(int32_t w, int32_t r, const TMosaicSettings& s, const TMosaicNumbers& numbers, bool redFlag,
                     bool blueFlag, const TOffsets& offsets) {
  const int32_t method = s.Method;
  const TMosaicCells& cells = MosaicPattern;
  TImageSlot& wim = Store.Image[size_t(w)];
  const int32_t w0 = wim.Width, h0 = wim.Height;
  if (method == DmHalfSize) {
    TImageSlot& rim = Store.Image[size_t(r)];
    rim.Width = w0 / 2;
    rim.Height = h0 / 2;
    rim.AllocatePlanesForOverwrite(3);
    Store.InUse[size_t(r)] = 1;
    CopyDisplayRecord(w, r);
    SetUpResult(w, r);
    SetHeader3Axis(r);
    SetNaxisCards(r);
    HalfSizeMosaic(wim.Plane(1), w0, h0, cells, rim.Plane(1), rim.Plane(2), rim.Plane(3));
  } else {
    CopyImageSlot(w, r);
    SetUpResult(w, r);
    CopyPlane(w, 1, r, 2);
    CopyPlane(w, 1, r, 3);
    SetHeader3Axis(r);
    TImageSlot& rim = Store.Image[size_t(r)];
    if (MosaicSwitchesEnabled(s) && s.PixFilter)
      FilterGreenLattice(wim.Plane(1), rim.Plane(1), rim.Plane(2), w0, h0, cells[0] == McGreen);
    TMosaicStage stage;
    stage.Source = w;
    stage.Destination = r;
    stage.Method = method;
    stage.RowMask = s.FourRows ? 3 : 1;
    stage.SizeRatio = redFlag || blueFlag;
    stage.Noise = std::max(double(EstimateNoise(w, 1)), 0.1);
    stage.RedMultiplier = numbers.Rmul;
    stage.BlueMultiplier = numbers.Bmul;
    stage.RedColumns = offsets.RedColumns;
    stage.BlueColumns = offsets.BlueColumns;
    stage.RedRows = offsets.RedRows;
    stage.BlueRows = offsets.BlueRows;
    stage.NetworkFile = s.NetworkFile;
    if (!RunMosaicStage(stage)) {
      FreeSlot(r);
      return -1;
    }
  }
  const size_t m = size_t(method);
  AddHistoryCard(r, StripAccelerators(MosaicCommandCaption) + " " + DemosaicMethodTexts[m], 0);

  if (redFlag) ScalePlaneAboutCentre(r, 1, numbers.RedRatio);
  if (blueFlag) ScalePlaneAboutCentre(r, 3, numbers.BlueRatio);
  for (float& mul : Store.Image[size_t(r)].RawMultipliers) mul = 1.0f;
  if (s.CameraProfile && LookupCameraMatrix(GetHeaderValue(r, "INSTRUME", false)))
    ApplyCameraProfile(r, false);
  else
    UpdateMinMax(r);
  return r;
}

}  // namespace

void InstallMosaicConversion() {
  MosaicConversion.ReadMosaicSettings = [](const std::string& fileName) { return ReadMosaicSettings(fileName); };
  MosaicConversion.Method = [] { return int(MosaicSettings.Method); };
  MosaicConversion.SetMethod = [](int method) { MosaicSettings.Method = method; };
  MosaicConversion.GenerateRgbFromMosaic = [](int slot) { return int(GenerateRgbFromMosaic(slot)); };
}

}  // namespace astrelon
