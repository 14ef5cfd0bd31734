// The stack's bands filled from frames loaded into a slot one after another:
// every file type, video frames, and frames sampled through the batch's alignment.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/processor_features.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/stack_alignment.h"
#include "registration/stacking/stack_frame_loading.h"
#include "registration/stacking/stack_run.h"
#include "registration/stacking/stack_statistic.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

// One band of all frames: plane p's buffer holds frame i's band row j at
// (i * rows + j) * width.
struct TBand {
  int32_t Rows = 0;  // allocated band height
  int32_t Width = 0;
  std::array<TPlane, MaxStackPlanes + 1> Values;  // index 1..planes
  float* Row(int p, int frame, int j) {
    return Values[size_t(p)].data() + (size_t(frame) * size_t(Rows) + size_t(j)) * size_t(Width);
  }
};

float PlaneLevel(int slot, int plane, double q) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels lv;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, q, q, lv);
  return float(lv.LevelA);
}

// Frame slice without alignment, with the optional flat-dark subtracted.
void FillUnaligned(TBand& band, int frame, int slot, int planes, int r, int j, const TLevelling& lev,
                   const TFlatDark& dark) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TImageSlot* dk = dark.Slot > 0 ? &Store.Image[size_t(dark.Slot)] : nullptr;
  if (r >= im.Height || (dk && r >= dk->Height)) return;
  int32_t width = std::min(im.Width, band.Width);
  if (dk) width = std::min(width, dk->Width);
  for (int p = 1; p <= std::min(planes, im.PlaneCount); ++p) {
    float* dst = band.Row(p, frame, j);
    const float* src = im.Row(p, r).data();
    const float* drow = dk ? dk->Row(dark.PlaneFor(p), r).data() : nullptr;
    for (int32_t c = 0; c < width; ++c) {
      float v = src[c];
      if (!IsValidPixel(v)) continue;
      if (drow) {
        if (!IsValidPixel(drow[c])) continue;
        v -= drow[c];
      }
      dst[c] = lev.Apply(p, v);
    }
  }
}

// Row r of the frame's slice sampled at the position of each target pixel
// given by `at(c, r, x, y)`, valid where lo < x < Wi - 1 and lo < y < Hi - 1 (lo
// inclusive when `closedLo`).
template <typename At>
void FillAligned(TBand& band, int frame, int slot, int planes, int r, int j, const TLevelling& lev, float lo,
                 bool closedLo, At&& at) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int np = std::min(planes, im.PlaneCount);
  const float xMax = float(im.Width - 1), yMax = float(im.Height - 1);
  for (int32_t c = 0; c < band.Width; ++c) {
    double x = 0, y = 0;
    at(c, r, x, y);
    const bool inside = (closedLo ? (x >= lo && y >= lo) : (x > lo && y > lo)) && x < xMax && y < yMax;
    if (!inside) continue;
    for (int p = 1; p <= np; ++p)
      band.Row(p, frame, j)[c] = InterpolatePixel(slot, p, float(x), float(y)) + lev.C[size_t(p)];
  }
}

// Fills frame i's slice of rows r0..r1 from the loaded frame slot, rows on the workers.
void FillFrameSlice(TStackRun& run, TBand& band, int i, int frameSlot, int r0, int r1, const TLevelling& lev) {
  const int marks = BatchMarkCount.load();
  const int planes = run.P;
  auto rows = [&](auto&& fill) {
    run.Pool->Run(int64_t(r1 - r0 + 1), [&](int64_t k, int) { fill(r0 + int(k), int(k)); });
  };
  if (marks <= 0 || i == 0) {
    rows([&](int r, int j) { FillUnaligned(band, i, frameSlot, planes, r, j, lev, run.Dark); });
    return;
  }
  const TStarPair pair = size_t(i) < BatchStarPairs.size() ? BatchStarPairs[size_t(i)] : TStarPair{};
  const float lo = float(KernelWindow.Lo);
  if (marks == 1) {
    const double sx = double(pair[4]) - pair[0], sy = double(pair[5]) - pair[1];
    rows([&](int r, int j) {
      FillAligned(band, i, frameSlot, planes, r, j, lev, 0.0f, true, [&](int32_t c, int32_t rr, double& x, double& y) {
        x = c + sx;
        y = rr + sy;
      });
    });
    return;
  }
  if (marks == 2) {
    const double a1x = pair[0], a1y = pair[1], a2x = pair[2], a2y = pair[3];
    const double b1x = pair[4], b1y = pair[5], b2x = pair[6], b2y = pair[7];
    const double s = std::max(std::hypot(b1x - b2x, b1y - b2y), 1.0) / std::max(std::hypot(a1x - a2x, a1y - a2y), 1.0);
    const double phi = std::atan2(b2y - b1y, b2x - b1x) - std::atan2(a2y - a1y, a2x - a1x);
    const double a = s * std::cos(phi), b = s * std::sin(phi);
    rows([&](int r, int j) {
      FillAligned(band, i, frameSlot, planes, r, j, lev, lo, false, [&](int32_t c, int32_t rr, double& x, double& y) {
        x = b1x + a * (c - a1x) - b * (rr - a1y);
        y = b1y + b * (c - a1x) + a * (rr - a1y);
      });
    });
    return;
  }
  if (!StackAlignment) {
    rows([&](int r, int j) { FillUnaligned(band, i, frameSlot, planes, r, j, lev, TFlatDark{}); });
    return;
  }
  StackAlignment->ApplyShiftListMarks(i, frameSlot, run.Target);
  const TFittedTransform t = StackAlignment->FitMarksToReference(run.Target, frameSlot);
  const TShiftGrid& grid = StackAlignment->BuildShiftGrid(run.Target, frameSlot, r0, r1 + 1);
  const double ox = t.Tx - t.Ox, oy = t.Ty - t.Oy;
  rows([&](int r, int j) {
    FillAligned(band, i, frameSlot, planes, r, j, lev, lo, false, [&](int32_t c, int32_t rr, double& x, double& y) {
      double dx = 0, dy = 0;
      GridShift(grid, c, rr, dx, dy);
      x = ox + t.A * c - t.B * rr + dx;
      y = oy + t.B * c + t.A * rr + dy;
    });
  });
}

// Loads frame i into a free slot and fills its slice of the band; false when it
// is left out (said once).
bool LoadFrameSlice(TStackRun& run, TBand& band, int i, int r0, int r1) {
  const std::string& file = SeriesFileList[size_t(i)];
  std::error_code ec;
  if (!BatchVideoInput && !std::filesystem::exists(file, ec)) {
    run.LeaveOut(i, file + "\r\n" + " ist nicht vorhanden.");
    return false;
  }
  const int slot = FindFreeSlot();
  if (slot < 1) {
    // Images opened meanwhile took the last slot.
    run.LeaveOut(i, std::exchange(run.ToldTooMany, true) ? std::string() : TooFewSlotsText());
    return false;
  }
  if (!LoadStackFrame(slot, file, run.P > 1)) {
    run.LeaveOut(i, "");  // the loader has said why
    EngineUi().ProcessMessages();
    FreeSlot(slot);
    return false;
  }
  TImageSlot& fr = Store.Image[size_t(slot)];
  // Frames combined as they lie must have the first frame's shape; aligned
  // frames are sampled onto the first frame's grid whatever their size.
  if (BatchMarkCount <= 0 && TFrameShape::Of(fr) != run.FirstShape) {
    run.LeaveOut(i, OtherFrameShapeText(file));
    FreeSlot(slot);
    EngineUi().ProcessMessages();
    return false;
  }
  if (fr.PlaneCount > run.P) {
    fr.IsColor = 0;
    fr.PlaneCount = 1;
    fr.AllocatePlanes(1);
  }
  const int np = std::min(fr.PlaneCount, run.P);
  if (!run.LevelPlanes[size_t(i)]) {
    for (int p = 1; p <= np; ++p) run.FrameLevel[size_t(i)][size_t(p)] = PlaneLevel(slot, p, run.Q);
    run.LevelPlanes[size_t(i)] = uint8_t(np);
  }
  FillFrameSlice(run, band, i, slot, r0, r1, run.LevellingOf(i, np));
  EngineUi().ProcessMessages();
  FreeSlot(slot);
  return true;
}

// Fills the whole band with blanks on the workers.
void ClearBand(TStackRun& run, TBand& band) {
  const size_t size = size_t(band.Rows) * size_t(band.Width) * size_t(run.Count);
  constexpr size_t piece = size_t(1) << 20;
  for (int p = 1; p <= run.P; ++p) {
    float* v = band.Values[size_t(p)].data();
    run.Pool->Run(int64_t((size + piece - 1) / piece), [&](int64_t k, int) {
      const size_t first = size_t(k) * piece;
      std::fill(v + first, v + std::min(size, first + piece), BlankPixel);
    });
  }
}

}  // namespace

TStackBands StackBandsFromSlots(TStackRun& run) {
  const int32_t W = run.W, H = run.H;
  // Beside the band: the frame being loaded and the loader's buffers (a quarter
  // megabyte per worker, its histograms and tables).
  const uint64_t frameBytes = uint64_t(W) * uint64_t(H) * uint64_t(run.P) * sizeof(float);
  const uint64_t loaderBytes = uint64_t(run.Pool->Threads()) * (uint64_t(1) << 18) + (uint64_t(16) << 20);
  TBand band;
  band.Width = W;
  band.Rows = run.BandRows(frameBytes + loaderBytes);
  bool allocated = false;
  for (int attempt = 0; attempt < 8 && !allocated; ++attempt) {
    try {
      for (int p = 1; p <= run.P; ++p)
        band.Values[size_t(p)].resize(size_t(band.Rows) * size_t(W) * size_t(run.Count));
      allocated = true;
    } catch (const std::bad_alloc&) {
      for (TPlane& v : band.Values) TPlane().swap(v);
      band.Rows = std::max(1, band.Rows / 2);
    }
  }
  if (!allocated) return TStackBands::NoMemory;

  TImageSlot& target = Store.Image[size_t(run.Target)];
  std::vector<const float*> frames;
  for (int r0 = 0; r0 < H && !BatchAbort; r0 += band.Rows) {
    const int r1 = std::min(r0 + band.Rows - 1, H - 1);
    ClearBand(run, band);
    for (int i = 0; i < run.Count && !BatchAbort; ++i) {
      if (run.LeftOut[size_t(i)]) continue;
      run.ShowProgress(int(std::nearbyint(100.0 * r0 / H + i * (100.0 * (r1 - r0 + 1) / H) / run.Count)));
      LoadFrameSlice(run, band, i, r0, r1);
    }
    if (run.Combined() < 3) return TStackBands::TooFew;
    if (BatchAbort) break;
    const TPlaneFigures m = run.MedianLevelDifference();
    const int32_t rows = r1 - r0 + 1;
    run.Pool->Run(
        int64_t(rows) * run.P,
        [&](int64_t k, int) {
          const int p = 1 + int(k / rows), j = int(k % rows);
          std::vector<const float*> rowsOf;
          for (int i = 0; i < run.Count; ++i)
            if (!run.LeftOut[size_t(i)]) rowsOf.push_back(band.Row(p, i, j));
          CombineStackPixels(run.Options.Method, rowsOf, W, m[size_t(p)], target.Row(p, r0 + j).data(), Sse2Enabled);
        },
        [] { EngineUi().ProcessMessages(); });
  }
  return TStackBands::Done;
}

}  // namespace astrelon
