#include "pixelops/color_to_mono.h"

#include <algorithm>
#include <stdexcept>

#include "pixelops/power_table.h"
#include "shell/image_window_state.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

namespace astrelon {

void (*CloseImageSlotHook)(int slot) = nullptr;

namespace {

constexpr double LumaWeights[3] = {0.299, 0.587, 0.114};
constexpr double LuminanceWeights[3] = {0.2126, 0.7152, 0.0722};
constexpr double Gamma = 2.2;

const TPowerTable& Linearise() {
  static const TPowerTable table(Gamma);
  return table;
}
const TPowerTable& Delinearise() {
  static const TPowerTable table(1.0 / Gamma);
  return table;
}

void CheckRuns(size_t n, size_t a, size_t b, size_t c) {
  if (a != n || b != n || c != n) throw std::invalid_argument("colour planes of different lengths");
}

bool ColourSource(int slot) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[slot];
  const size_t n = im.PixelCount();
  return im.IsColor && im.PlaneCount >= 3 && im.Planes[1].size() >= n && im.Planes[2].size() >= n &&
         im.Planes[3].size() >= n;
}

// Frees whatever image the destination holds and gives it the source's plane 1
// with a fresh record: nothing of an earlier image stays behind.
void PrepareDestination(int source, int destination) {
  if (Store.InUse[size_t(destination)]) {
    const int current = CurrentWindowSlot;
    if (CloseImageSlotHook)
      CloseImageSlotHook(destination);
    else
      FreeSlot(destination);
    if (current == destination) CurrentWindowSlot = destination;
  }
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  d = TImageSlot{};
  d.JpegQuality = s.JpegQuality;
  d.JpegFileSize = s.JpegFileSize;
  d.DarkRms = s.DarkRms;
  Store.FileName[size_t(destination)] = Store.FileName[size_t(source)];
  CopyPlane(source, 1, destination, 1);
}

}  // namespace

TMonoRange MonoRangeOf(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  float lo = im.MinValue, hi = im.MaxValue;
  if (Store.HasWindow[size_t(slot)]) {
    lo = std::min(lo, Store.Display[size_t(slot)].Black);
    hi = std::max(hi, Store.Display[size_t(slot)].White);
  }
  float range = hi - lo;
  if (!(range >= 0.01f)) range = 0.01f;
  return {lo, range};
}

void LumaRun(std::span<const float> r, std::span<const float> g, std::span<const float> b, std::span<float> out) {
  CheckRuns(out.size(), r.size(), g.size(), b.size());
  for (size_t i = 0; i < out.size(); ++i) {
    const float v[3] = {r[i], g[i], b[i]};
    double sum = 0, weight = 0;
    for (size_t c = 0; c < 3; ++c) {
      if (!IsValidPixel(v[c])) continue;
      sum += LumaWeights[c] * double(v[c]);
      weight += LumaWeights[c];
    }
    out[i] = weight > 0 ? float(sum / weight) : BlankPixel;
  }
}

void LuminanceRun(std::span<const float> p1, std::span<const float> p2, std::span<const float> p3,
                  std::span<float> out, const TMonoRange& range, bool yuv) {
  CheckRuns(out.size(), p1.size(), p2.size(), p3.size());
  const TPowerTable& linear = Linearise();
  const TPowerTable& gamma = Delinearise();
  const double lo = range.Low, width = range.Range;
  for (size_t i = 0; i < out.size(); ++i) {
    float v[3] = {p1[i], p2[i], p3[i]};
    if (yuv) {
      if (!IsValidPixel(v[0]) || !IsValidPixel(v[1]) || !IsValidPixel(v[2])) {
        out[i] = BlankPixel;
        continue;
      }
      const TRgbPixel q = YuvToRgbPixel(v[0], v[1], v[2]);
      v[0] = q.R;
      v[1] = q.G;
      v[2] = q.B;
    }
    double sum = 0, weight = 0;
    for (size_t c = 0; c < 3; ++c) {
      if (!IsValidPixel(v[c])) continue;
      sum += LuminanceWeights[c] * linear(std::max(0.0, (double(v[c]) - lo) / width));
      weight += LuminanceWeights[c];
    }
    out[i] = weight > 0 ? float(gamma(sum / weight) * width + lo) : BlankPixel;
  }
}

bool ConvertColorToMono(int source, int destination, bool luminance) {
  if (destination < 1 || destination > MaxImageSlots || !ColourSource(source)) return false;
  const bool yuv = Store.Image[size_t(source)].ColorModel == CmYuv;
  const TMonoRange range = MonoRangeOf(source);
  if (destination != source) PrepareDestination(source, destination);
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  d.IsColor = 0;
  d.PlaneCount = 1;
  if (yuv && !luminance) {
    UpdateMinMax(destination);
  } else {
    const auto scans = TransformPixelBlocks(d, 1, [&](size_t first, size_t count) {
      const auto plane = [&](int p) { return s.Plane(p).subspan(first, count); };
      const std::span<float> out = d.Plane(1).subspan(first, count);
      if (luminance)
        LuminanceRun(plane(1), plane(2), plane(3), out, range, yuv);
      else
        LumaRun(plane(1), plane(2), plane(3), out);
    });
    SetMinMaxFromScans(destination, scans);
  }
  if (destination != source) {
    CopyHeaderCards(source, destination);
    Store.NewHistoryCard[size_t(destination)] = Store.NewHistoryCard[size_t(source)];
    CopyDisplayRecord(source, destination);
  }
  // The colour planes go at once.
  for (int p = 2; p <= 3; ++p) TPlane().swap(d.Planes[size_t(p)]);
  d.ColorModel = CmRgb;
  SetHeader2Axis(destination);
  Store.Display[size_t(destination)].DisplayType = DtGrey;
  std::fill(std::begin(d.RawMultipliers), std::end(d.RawMultipliers), 1.0f);
  return true;
}

}  // namespace astrelon
