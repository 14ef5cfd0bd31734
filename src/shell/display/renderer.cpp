// The renderer. Every value goes through two steps: a linear one from
// Black..White onto a table index 0..65535, then a lookup table of the display
// mode that also holds the output scale.
#include "shell/display/renderer.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/pascal_format.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "shell/display/display_lut.h"
#include "shell/display/isophotes.h"
#include "shell/display/pixel_mapping.h"
#include "shell/display/user_palette.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

std::array<TDisplayBitmap, SlotArraySize> WindowBitmaps;
TWindowRenderedFn RenderedHandler = nullptr;

int PercentOfLevel(int level) { return level == 0 ? 100 : (level == 1 ? 50 : 25); }

int32_t ScaledSide(int32_t side, int percent) {
  const int64_t s = int64_t(side > 0 ? side : 0) * percent / 100;
  return int32_t(std::max<int64_t>(s, 1));
}

// Threads for a picture of `pixels` pixels in `rows` rows: a band of fewer than
// about 128 K pixels costs less than starting its thread.
int RenderThreads(int64_t pixels, int32_t rows) {
  return std::min(BandThreads(pixels, int64_t(1) << 17, Options.Multicore != 0), std::max(rows, 1));
}

enum class TLutChoice { Plain, FourGradients, UserPalette, Luma };

struct TPowerGammaLut {
  bool Valid = false;
  float Gamma = 0;
  bool Softened = false;
  TLutChoice Choice = TLutChoice::Plain;
  std::vector<uint8_t> Lut;
  TByteLutSteps Steps;
};

// Sample positions along one axis: o + i * step with the step taken from this axis.
std::vector<int32_t> SamplePositions(int32_t imageSide, int32_t bitmapSide, int offset) {
  std::vector<int32_t> pos(static_cast<size_t>(bitmapSide));
  const int32_t step = std::max(imageSide / bitmapSide, 1);
  const int32_t o = std::min(offset, bitmapSide - 1);
  for (int32_t i = 0; i < bitmapSide; ++i)
    pos[size_t(i)] = int32_t(std::min<int64_t>(int64_t(o) + int64_t(i) * step, imageSide - 1));
  return pos;
}

// One sampled row of a plane: the image row itself at full size, else a gathered
// copy. The row sampled next is prefetched meanwhile: reduced builds skip rows,
// which the hardware prefetcher does not foresee.
std::span<const float> SampledRow(const TImageSlot& im, int plane, int32_t y, int32_t nextY,
                                  const std::vector<int32_t>& xs, bool full, std::vector<float>& buffer) {
  const std::span<const float> row = im.Row(plane, y);
  if (full) return row;
  const float* next = im.Row(plane, nextY).data();
  const size_t n = xs.size();
  for (size_t i = 0; i < n; ++i) {
    const size_t x = size_t(xs[i]);
    if ((i & 3) == 0) __builtin_prefetch(next + x);
    buffer[i] = row[x];
  }
  return buffer;
}

}  // namespace

TRenderPlan PlanRender(int zoomPercent, bool fullSize, int32_t imageWidth, int32_t imageHeight) {
  TRenderPlan p;
  if (fullSize || zoomPercent > 50)
    p.Percent = 100;
  else if (zoomPercent > 25)
    p.Percent = 50;
  else
    p.Percent = 25;
  p.Level = p.Percent == 100 ? 0 : (p.Percent == 50 ? 1 : 3);
  p.Offset = 50 / p.Percent;
  p.Width = ScaledSide(imageWidth, p.Percent);
  p.Height = ScaledSide(imageHeight, p.Percent);
  return p;
}

bool RenderSlotBitmap(int slot, int percent, TDisplayBitmap& bitmap) {
  if (slot < 0 || slot >= SlotArraySize || !Store.InUse[slot]) return false;
  const TImageSlot& im = Store.Image[slot];
  const size_t count = im.PixelCount();
  if (count == 0 || im.Planes[1].size() < count) return false;
  const bool grey = !im.IsColor || im.PlaneCount < 3 || im.Planes[2].size() < count || im.Planes[3].size() < count;
  TDisplayRecord& d = Store.Display[slot];
  int type = d.DisplayType == DtColorRgbAlt ? DtColorRgb : d.DisplayType;
  const bool fourGradients = grey && type == DtFourGradients;
  const bool userPalette = grey && type == DtOwnPalette && UserPaletteUsable();
  const bool luma = !grey && (im.ColorModel == CmYuv || d.LumaOnly);
  const TLutChoice choice = userPalette     ? TLutChoice::UserPalette
                            : fourGradients ? TLutChoice::FourGradients
                            : luma          ? TLutChoice::Luma
                                            : TLutChoice::Plain;

  ClampDisplayRange(slot, false);
  float range = d.White - d.Black;
  if (!(range >= 0.001f)) range = 0.001f;
  if (d.Gamma > 0 && d.Gamma < 0.2f) d.Gamma = 0.2f;
  const float black = d.Black;
  const float indexScale = 65535.0f / range;

  TEqualisationInput eq;
  const bool equalise = !(d.Gamma > 0) && d.Gamma != CurveModeGamma;
  if (equalise) eq = DisplayEqualisationInput(slot, LutSteps);
  const double outputScale = choice == TLutChoice::Plain           ? 255.0
                             : choice == TLutChoice::FourGradients ? 1023.0
                             : choice == TLutChoice::UserPalette   ? 65535.0
                                                                   : double(range);

  std::vector<uint8_t> lut8;
  std::vector<uint32_t> colourLut;  // user palette: colour per index, blank black
  std::vector<float> lumaLut;
  // Grey pictures through a table that never decreases map without loads from it.
  TByteLutSteps steps;
  // The byte table of a power gamma depends on the gamma, its softening and
  // the table's kind alone: this thread's last one is kept, since its 32768
  // powers take longer than rendering a small picture.
  const bool powerGamma = (choice == TLutChoice::Plain || choice == TLutChoice::FourGradients) && d.Gamma > 0 &&
                          d.Gamma != CurveModeGamma;
  thread_local TPowerGammaLut last;
  if (powerGamma && last.Valid && last.Gamma == d.Gamma && last.Softened == (d.CurveMode != 0) &&
      last.Choice == choice) {
    lut8 = last.Lut;
    steps = last.Steps;
  } else {
    const TTransferTable transfer = BuildTransfer(slot, LutSteps, outputScale, equalise ? &eq : nullptr);
    switch (choice) {
      case TLutChoice::Plain: lut8 = MakePlainLut(transfer); break;
      case TLutChoice::FourGradients: lut8 = MakeFourGradientLut(transfer); break;
      case TLutChoice::UserPalette: {
        const std::vector<uint16_t> index = MakePaletteIndexLut(transfer);
        const std::span<const uint32_t> palette = UserPalette();
        colourLut.resize(LutSize);
        for (size_t i = 0; i + 1 < LutSize; ++i) colourLut[i] = palette[index[i]];
        colourLut[BlankIndex] = 0;
        break;
      }
      case TLutChoice::Luma: lumaLut = MakeFloatLut(transfer, range); break;
    }
    if (!lut8.empty()) lut8.resize(LutSize + ByteLutSpare, 0);
    if (!lut8.empty()) steps = ByteLutSteps(lut8);
    if (powerGamma) last = {true, d.Gamma, d.CurveMode != 0, choice, lut8, steps};
  }

  const TRenderPlan plan = PlanRender(percent > 50 ? 100 : percent, false, im.Width, im.Height);
  const bool full = plan.Percent == 100;
  const bool toBgr = !grey || userPalette;
  bitmap.Resize(plan.Width, plan.Height, toBgr ? TBitmapFormat::Bgr24 : TBitmapFormat::Indexed8);
  const std::vector<int32_t> xs = SamplePositions(im.Width, plan.Width, plan.Offset);
  const std::vector<int32_t> ys = SamplePositions(im.Height, plan.Height, plan.Offset);
  const size_t w = size_t(plan.Width);
  // The vector paths give the same bytes as the scalar ones, at every build size.
  const bool greyVector = SseEnabled;
  const bool colourVector = SseEnabled;
  const bool lumaVector = Sse2Enabled;
  TLumaMapping lm;
  if (luma) {
    lm.Black = black;
    lm.IndexScale = indexScale;
    lm.Offset = 0.01f * range;
    lm.OutScale = 255.0f / range;
    lm.Lut = lumaLut.data();
    lm.Yuv = im.ColorModel == CmYuv;
  }

  // Bands of picture rows on threads, each with sample rows of its own; every
  // picture byte comes from its own sample, so the split does not matter.
  auto renderRows = [&](int64_t first, int64_t last) {
    std::vector<float> s1(full ? 0 : w), s2(full ? 0 : w), s3(full ? 0 : w);
    std::vector<uint32_t> i1(userPalette ? w : 0);
    for (int32_t y = int32_t(first); y < int32_t(last); ++y) {
      const int32_t sy = ys[size_t(y)];
      const int32_t ny = ys[size_t(std::min(y + 1, plan.Height - 1))];
      uint8_t* out = bitmap.Row(y).data();
      if (grey) {
        if (userPalette) {
          ComputeLutIndices(SampledRow(im, 1, sy, ny, xs, full, s1), black, indexScale, i1, greyVector);
          for (size_t x = 0; x < w; ++x) {
            const uint32_t c = colourLut[i1[x]];
            out[3 * x] = uint8_t(c);
            out[3 * x + 1] = uint8_t(c >> 8);
            out[3 * x + 2] = uint8_t(c >> 16);
          }
        } else {
          MapThroughByteLut(SampledRow(im, 1, sy, ny, xs, full, s1), black, indexScale, lut8.data(),
                            std::span<uint8_t>(out, w), 1, greyVector, &steps);
        }
      } else if (luma) {
        MapLumaRow(SampledRow(im, 1, sy, ny, xs, full, s1), SampledRow(im, 2, sy, ny, xs, full, s2),
                   SampledRow(im, 3, sy, ny, xs, full, s3), std::span<uint8_t>(out, 3 * w), lm, lumaVector);
      } else {
        const std::span<uint8_t> bgr(out, 3 * w);
        MapThroughByteLut(SampledRow(im, 3, sy, ny, xs, full, s3), black, indexScale, lut8.data(), bgr, 3,
                          colourVector);
        MapThroughByteLut(SampledRow(im, 2, sy, ny, xs, full, s2), black, indexScale, lut8.data(), bgr.subspan(1),
                          3, colourVector);
        MapThroughByteLut(SampledRow(im, 1, sy, ny, xs, full, s1), black, indexScale, lut8.data(), bgr.subspan(2),
                          3, colourVector);
      }
    }
  };
  const int threads = RenderThreads(int64_t(plan.Width) * plan.Height, plan.Height);
  ForEachBand(plan.Height, threads, renderRows);

  if (!toBgr) {
    ReadBmpColourTable(bitmap, ColourTableForType(type == DtOwnPalette ? DtGrey : type));
    if (type == DtIsophotes)
      DrawIsophotes(bitmap.Pixels, bitmap.Width, bitmap.Height, bitmap.Stride,
                    RenderThreads(int64_t(bitmap.Width) * bitmap.Height, bitmap.Height));
  }
  return true;
}

void RenderImageWindow(int slot, bool fullSize) {
  if (slot < 1 || slot > MaxImageSlots || !Store.HasWindow[slot] || !Store.Window[slot]) return;
  if (!Store.InUse[slot]) return;
  const TImageSlot& im = Store.Image[slot];
  TDisplayRecord& d = Store.Display[slot];
  const TRenderPlan plan = PlanRender(d.ZoomPercent, fullSize, im.Width, im.Height);
  TDisplayBitmap& bmp = WindowBitmaps[size_t(slot)];

  const bool grey = !im.IsColor || im.PlaneCount < 3;
  const bool wantsBgr = !grey || (d.DisplayType == DtOwnPalette && UserPaletteUsable());
  const TRenderPlan built = PlanRender(PercentOfLevel(d.BuiltLevel), false, im.Width, im.Height);
  const bool reusable = d.BuiltLevel <= plan.Level && !d.Changed && !bmp.Empty() &&
                        (bmp.Format == TBitmapFormat::Bgr24) == wantsBgr && bmp.Width == built.Width &&
                        bmp.Height == built.Height;
  bool rebuilt = false;
  if (!reusable) {
    if (!RenderSlotBitmap(slot, plan.Percent, bmp)) return;
    d.BuiltLevel = plan.Level;
    d.Changed = 0;
    rebuilt = true;
  }
  if (RenderedHandler) RenderedHandler(slot, rebuilt);
}

const TDisplayBitmap& WindowBitmap(int slot) {
  static const TDisplayBitmap none;
  if (slot < 0 || slot >= SlotArraySize) return none;
  return WindowBitmaps[size_t(slot)];
}

void ReleaseWindowBitmap(int slot) {
  if (slot >= 0 && slot < SlotArraySize) WindowBitmaps[size_t(slot)].Clear();
}

float RenderScale(int slot) {
  if (slot < 1 || slot > MaxImageSlots || !Store.InUse[slot]) return 1.0f;
  const TDisplayBitmap& bmp = WindowBitmaps[size_t(slot)];
  const int32_t w = Store.Image[slot].Width;
  if (bmp.Empty() || w <= 0) return 1.0f;
  return float(bmp.Width) / float(w);
}

std::string ZoomStatusText(int slot) {
  const int zoom = (slot >= 0 && slot < SlotArraySize) ? Store.Display[slot].ZoomPercent : 100;
  return "Zoom: " + IntToStr(zoom) + "%";
}

void SetWindowRenderedHandler(TWindowRenderedFn fn) { RenderedHandler = fn; }

}  // namespace astrelon
