#include "registration/stacking/combine_image_stack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/engine_ui.h"
#include "common/series_number.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/avi_reader.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/stack_alignment.h"
#include "store/header_cards.h"
#include "store/header_dates.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/planes/image_statistics.h"
#include "store/planes/interpolation_kernels.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

TStackAlignment* StackAlignment = nullptr;
TAviReader* StackVideo = nullptr;

std::string_view StackMethodName(TStackMethod method) {
  switch (method) {
    case TStackMethod::Sigma: return "Sigma";
    case TStackMethod::MeanMed: return "Mittelmed";
    case TStackMethod::Median: return "Median";
    default: return "";
  }
}

int32_t StackBandRows(uint64_t freeBytes, int32_t w, int32_t h, int32_t count, int32_t planes) {
  const int64_t W = std::max(w, 1), H = std::max(h, 1), n = std::max(count, 1), P = std::max(planes, 1);
  int64_t b = 0;
  if (freeBytes == 0) {
    b = (4 * H) / (n * P);
  } else {
    const int64_t m = int64_t(std::min<uint64_t>(freeBytes, uint64_t(INT64_MAX / 2)));
    b = (m - 4 * W * H * P) / (7 * W * n * P);
  }
  b = std::max<int64_t>(std::min(b, H), 1);
  // The largest height within the value cap, but never below one row (a single
  // row above the cap still has to be combined).
  b = std::min(b, std::max<int64_t>(MaxBandValues / (W * n * P), 1));
  return int32_t(b);
}

namespace {

constexpr int MaxPlanes = 3;

// Level of a plane at percentage q over the whole image.
float PlaneLevel(int slot, int plane, double q) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  TPercentileLevels lv;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, q, q, lv);
  return float(lv.LevelA);
}

// Loads frame `name` into the slot: the video frame with the name's number
// while the batch reads a video, else (or when that fails) the file.
bool LoadStackFrame(int slot, const std::string& name, bool colour) {
  try {
    if (BatchVideoInput && StackVideo) {
      const int32_t n = GetSeriesNumber(name);
      if (n >= 0 && ReadAviFrame(*StackVideo, n, false) && GraphicToSlot(StackVideo->Frame, slot, colour)) {
        Store.FileName[size_t(slot)] = name;
        return true;
      }
    }
    return LoadImageFile(slot, name);
  } catch (const std::bad_alloc&) {
    FreeSlot(slot);
    return false;
  }
}

void SetStatusFunction(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetFunctionLabel(text);
}
void SetStatusProgress(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetProgressLabel(text);
}

// One band of all frames: plane p's buffer holds frame i's band row j at
// (i * rows + j) * width.
struct TBand {
  int32_t Rows = 0;  // allocated band height
  int32_t Width = 0;
  std::array<TPlane, MaxPlanes + 1> Values;  // index 1..planes
  float* Row(int p, int frame, int j) {
    return Values[size_t(p)].data() + (size_t(frame) * size_t(Rows) + size_t(j)) * size_t(Width);
  }
};

// Levelling of one frame: value + Add (darks, lights) or value * Mul (flats).
struct TLevelling {
  std::array<float, MaxPlanes + 1> C{};
  bool Multiply = false;
  float Apply(int p, float v) const { return Multiply ? v * C[size_t(p)] : v + C[size_t(p)]; }
};

struct TFlatDark {
  int Slot = 0;  // 0: none
  std::array<float, MaxPlanes + 1> Level{};
  int PlaneFor(int p) const { return p <= Store.Image[size_t(Slot)].PlaneCount ? p : 1; }
};

// Frame slice without alignment, with the optional flat-dark subtracted.
void FillUnaligned(TBand& band, int frame, int slot, int planes, int r0, int r1, const TLevelling& lev,
                   const TFlatDark& dark) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const TImageSlot* dk = dark.Slot > 0 ? &Store.Image[size_t(dark.Slot)] : nullptr;
  int32_t width = std::min(im.Width, band.Width);
  if (dk) width = std::min(width, dk->Width);
  for (int p = 1; p <= std::min(planes, im.PlaneCount); ++p) {
    for (int r = r0; r <= r1; ++r) {
      float* dst = band.Row(p, frame, r - r0);
      if (r >= im.Height || (dk && r >= dk->Height)) continue;
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
}

// Frame slice sampled at a position of the target pixel given by `at(c, r, x, y)`,
// valid where lo < x < Wi - 1 and lo < y < Hi - 1 (lo inclusive when `closedLo`).
template <typename At>
void FillAligned(TBand& band, int frame, int slot, int planes, int r0, int r1, const TLevelling& lev, float lo,
                 bool closedLo, At&& at) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int np = std::min(planes, im.PlaneCount);
  const float xMax = float(im.Width - 1), yMax = float(im.Height - 1);
  for (int r = r0; r <= r1; ++r) {
    for (int32_t c = 0; c < band.Width; ++c) {
      double x = 0, y = 0;
      at(c, r, x, y);
      const bool inside = (closedLo ? (x >= lo && y >= lo) : (x > lo && y > lo)) && x < xMax && y < yMax;
      if (!inside) continue;
      for (int p = 1; p <= np; ++p)
        band.Row(p, frame, r - r0)[c] = InterpolatePixel(slot, p, float(x), float(y)) + lev.C[size_t(p)];
    }
  }
}

// Fills frame i's slice of the band from the loaded frame slot.
void FillFrameSlice(TBand& band, int i, int frameSlot, int target, int planes, int r0, int r1,
                    const TLevelling& lev, const TFlatDark& dark) {
  const int marks = BatchMarkCount.load();
  if (marks <= 0 || i == 0) {
    FillUnaligned(band, i, frameSlot, planes, r0, r1, lev, dark);
    return;
  }
  const TStarPair pair = size_t(i) < BatchStarPairs.size() ? BatchStarPairs[size_t(i)] : TStarPair{};
  const float lo = float(KernelWindow.Lo);
  if (marks == 1) {
    const double sx = double(pair[4]) - pair[0], sy = double(pair[5]) - pair[1];
    FillAligned(band, i, frameSlot, planes, r0, r1, lev, 0.0f, true, [&](int32_t c, int32_t r, double& x, double& y) {
      x = c + sx;
      y = r + sy;
    });
    return;
  }
  if (marks == 2) {
    const double a1x = pair[0], a1y = pair[1], a2x = pair[2], a2y = pair[3];
    const double b1x = pair[4], b1y = pair[5], b2x = pair[6], b2y = pair[7];
    const double s = std::max(std::hypot(b1x - b2x, b1y - b2y), 1.0) / std::max(std::hypot(a1x - a2x, a1y - a2y), 1.0);
    const double phi = std::atan2(b2y - b1y, b2x - b1x) - std::atan2(a2y - a1y, a2x - a1x);
    const double a = s * std::cos(phi), b = s * std::sin(phi);
    FillAligned(band, i, frameSlot, planes, r0, r1, lev, lo, false, [&](int32_t c, int32_t r, double& x, double& y) {
      x = b1x + a * (c - a1x) - b * (r - a1y);
      y = b1y + b * (c - a1x) + a * (r - a1y);
    });
    return;
  }
  if (!StackAlignment) {
    FillUnaligned(band, i, frameSlot, planes, r0, r1, lev, TFlatDark{});
    return;
  }
  StackAlignment->ApplyShiftListMarks(i, frameSlot, target);
  const TFittedTransform t = StackAlignment->FitMarksToReference(target, frameSlot);
  const TShiftGrid& grid = StackAlignment->BuildShiftGrid(target, frameSlot, r0, r1 + 1);
  const double ox = t.Tx - t.Ox, oy = t.Ty - t.Oy;
  FillAligned(band, i, frameSlot, planes, r0, r1, lev, lo, false, [&](int32_t c, int32_t r, double& x, double& y) {
    double dx = 0, dy = 0;
    GridShift(grid, c, r, dx, dy);
    x = ox + t.A * c - t.B * r + dx;
    y = oy + t.B * c + t.A * r + dy;
  });
}

// The statistic of one pixel's valid values (the span is reordered).
float CombineValues(TStackMethod method, std::span<float> v) {
  switch (method) {
    case TStackMethod::Sigma: return RobustMean(v);
    case TStackMethod::MeanMed: return MeanWithoutExtremes(v);
    default: return Percentile(v, 0.5);
  }
}

// Combines rows r0..r1 of plane p into the target; rows run on worker bands,
// each pixel's values taken in frame order.
void CombineBandPlane(TBand& band, int target, int p, int count, int r0, int r1, TStackMethod method, float level) {
  TImageSlot& im = Store.Image[size_t(target)];
  const int32_t w = band.Width;
  constexpr int32_t rowsPerStep = 8;
  for (int s0 = r0; s0 <= r1; s0 += rowsPerStep) {
    EngineUi().ProcessMessages();
    const int s1 = std::min(s0 + rowsPerStep - 1, r1);
    const int64_t cells = int64_t(s1 - s0 + 1) * w;
    const int threads = BandThreads(cells, 4096, Options.Multicore != 0);
    ForEachBand(cells, threads, [&](int64_t first, int64_t last) {
      std::vector<float> values(static_cast<size_t>(count));
      for (int64_t k = first; k < last; ++k) {
        const int r = s0 + int(k / w);
        const int32_t c = int32_t(k % w);
        size_t n = 0;
        for (int i = 0; i < count; ++i) {
          const float v = band.Row(p, i, r - r0)[c];
          if (IsValidPixel(v)) values[n++] = v;
        }
        im.At(p, c, r) = n == 0 ? BlankPixel : CombineValues(method, std::span(values.data(), n)) + level;
      }
    });
  }
}

}  // namespace

int32_t CombineImageStack(const TStackOptions& o) {
  const int target = o.TargetSlot;
  const int count = std::min({o.Count, MaxStackFrames, int32_t(SeriesFileList.size())});
  if (!ValidSlot(target) || count < 3) return -1;
  // Beside the target one slot for the frames: checked before anything is loaded.
  const int freeBeside = CountFreeSlots() - (Store.InUse[size_t(target)] ? 0 : 1);
  if (freeBeside < 1) {
    EngineUi().ShowMessage(TooFewSlotsText());
    return -1;
  }
  const std::string keptName = Store.FileName[size_t(target)];
  if (!LoadStackFrame(target, SeriesFileList[0], true)) return -1;
  if (BatchMarkCount > 2 && StackAlignment) StackAlignment->ApplyShiftListMarks(0, target, target);

  TImageSlot& first = Store.Image[size_t(target)];
  const int32_t W = first.Width, H = first.Height, P = std::clamp(first.PlaneCount, 1, MaxPlanes);
  const TFrameShape firstShape = TFrameShape::Of(first);
  // Frames combined as they lie must have the first frame's shape; aligned
  // frames are sampled onto the first frame's grid whatever their size.
  const bool unaligned = BatchMarkCount <= 0;
  const double q = o.IsFlat ? 70 : 30;
  std::array<float, MaxPlanes + 1> l1{};
  for (int p = 1; p <= P; ++p) l1[size_t(p)] = PlaneLevel(target, p, q);
  const double t = ReadCcdTemperature(target);
  if (t > -300) {
    CcdTemperatureSum += t;
    ++CcdTemperatureCount;
  }

  TBand band;
  band.Width = W;
  band.Rows = StackBandRows(AvailableMemory(), W, H, count, P);
  bool allocated = false;
  for (int attempt = 0; attempt < 8 && !allocated; ++attempt) {
    try {
      for (int p = 1; p <= P; ++p) band.Values[size_t(p)].resize(size_t(band.Rows) * size_t(W) * size_t(count));
      allocated = true;
    } catch (const std::bad_alloc&) {
      for (TPlane& v : band.Values) TPlane().swap(v);
      band.Rows = std::max(1, band.Rows / 2);
    }
  }
  if (!allocated) return -1;

  const std::string name(StackMethodName(o.Method));
  SetOperationActive(true);
  SetStatusFunction(name + " Funktion");
  SetStatusProgress("");
  SetKernelWindow(Settings.InterpolationKind);
  EngineUi().ShowStatus(name);

  TFlatDark dark;
  if (FlatDarkSlot > 0 && SlotInUse(FlatDarkSlot)) {
    dark.Slot = FlatDarkSlot;
    for (int p = 1; p <= std::min(Store.Image[size_t(dark.Slot)].PlaneCount, MaxPlanes); ++p)
      dark.Level[size_t(p)] = PlaneLevel(dark.Slot, p, q);
  }

  // Whole-frame levels do not change between bands: measured once per frame.
  std::vector<std::array<float, MaxPlanes + 1>> frameLevel(static_cast<size_t>(count));
  std::vector<uint8_t> levelMeasured(static_cast<size_t>(count), 0);
  std::array<std::vector<float>, MaxPlanes + 1> levelTable;
  const std::string progressText = name.empty() ? "combining " : name + " ";
  // A frame that is missing, unreadable or of another shape says so once, in
  // the band where it fails, and is left out of every later band and of the count.
  std::vector<uint8_t> leftOut(static_cast<size_t>(count), 0);
  bool toldTooMany = false;

  for (int r0 = 0; r0 < H && !BatchAbort; r0 += band.Rows) {
    const int r1 = std::min(r0 + band.Rows - 1, H - 1);
    for (int p = 1; p <= P; ++p) levelTable[size_t(p)].assign(size_t(count), 0.0f);
    for (int p = 1; p <= P; ++p)
      std::fill_n(band.Values[size_t(p)].data(), size_t(band.Rows) * size_t(W) * size_t(count), BlankPixel);

    for (int i = 0; i < count && !BatchAbort; ++i) {
      if (leftOut[size_t(i)]) continue;
      const int percent = int(std::nearbyint(100.0 * r0 / H + i * (100.0 * (r1 - r0 + 1) / H) / count));
      if (o.ShowProgress && Store.HasWindow[size_t(target)] && Store.Window[size_t(target)])
        Store.Window[size_t(target)]->ShowProgressBar(percent, progressText);
      SetStatusProgress(std::to_string(percent) + " %");
      const std::string& file = SeriesFileList[size_t(i)];
      std::error_code ec;
      if (!BatchVideoInput && !std::filesystem::exists(file, ec)) {
        EngineUi().ShowMessage(file + "\r\n" + " ist nicht vorhanden.");
        leftOut[size_t(i)] = 1;
        continue;
      }
      const int slot = FindFreeSlot();
      if (slot < 1) {
        // Images opened meanwhile took the last slot.
        if (!std::exchange(toldTooMany, true)) EngineUi().ShowMessage(TooFewSlotsText());
        leftOut[size_t(i)] = 1;
        continue;
      }
      if (!LoadStackFrame(slot, file, P > 1)) {
        leftOut[size_t(i)] = 1;
        EngineUi().ProcessMessages();
        FreeSlot(slot);
        continue;
      }
      TImageSlot& fr = Store.Image[size_t(slot)];
      if (unaligned && TFrameShape::Of(fr) != firstShape) {
        EngineUi().ShowMessage(OtherFrameShapeText(file));
        leftOut[size_t(i)] = 1;
        FreeSlot(slot);
        EngineUi().ProcessMessages();
        continue;
      }
      if (fr.PlaneCount > P) {
        fr.IsColor = 0;
        fr.PlaneCount = 1;
        fr.AllocatePlanes(1);
      }
      const int np = std::min(fr.PlaneCount, P);
      if (!levelMeasured[size_t(i)]) {
        for (int p = 1; p <= np; ++p) frameLevel[size_t(i)][size_t(p)] = PlaneLevel(slot, p, q);
        levelMeasured[size_t(i)] = 1;
      }
      TLevelling lev;
      lev.Multiply = o.IsFlat;
      for (int p = 1; p <= np; ++p) {
        const float li = frameLevel[size_t(i)][size_t(p)], l = l1[size_t(p)];
        levelTable[size_t(p)][size_t(i)] = li - l;
        float c = 0;
        if (!o.IsFlat) {
          c = l - li;
        } else {
          c = li > 0 ? l / li : 1.0f;
          if (dark.Slot > 0) {
            const float d = dark.Level[size_t(dark.PlaneFor(p))];
            if (li - d > 0) c = (l - d) / (li - d);
          }
        }
        lev.C[size_t(p)] = c;
      }
      FillFrameSlice(band, i, slot, target, P, r0, r1, lev, dark);
      EngineUi().ProcessMessages();
      FreeSlot(slot);
    }

    if (!BatchAbort) {
      for (int p = 1; p <= P; ++p) {
        const float m = Percentile(levelTable[size_t(p)], 0.5);
        CombineBandPlane(band, target, p, count, r0, r1, o.Method, m);
      }
    }
  }

  for (TPlane& v : band.Values) TPlane().swap(v);
  if (o.ShowProgress) HideProgress(target);
  SetOperationActive(false);
  Store.FileName[size_t(target)] = keptName;
  UpdateMinMax(target);
  const int used = count - int(std::count(leftOut.begin(), leftOut.end(), uint8_t(1)));
  Store.NewHistoryCard[size_t(target)] = 1;
  AddHistoryCard(target, std::to_string(used) + " Bilder " + name, 1);
  SetStatusFunction("");
  SetStatusProgress("");
  return BatchAbort ? -1 : used;
}

}  // namespace astrelon
