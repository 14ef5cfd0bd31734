#include "store/image_store.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>
#include <span>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/color_models.h"
#include "store/copy_name.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"
#include "store/planes/plane_routines.h"
#include "store/slot_holds.h"

namespace astrelon {

TImageStore Store;
TWorkRect WorkRect;
TSlotPair SlotPair;
std::atomic<uint8_t> OperationRunning{0};
std::atomic<uint8_t> AbortRequested{0};
std::atomic<uint8_t> FilterAbortRequested{0};
std::atomic<uint8_t> ComputationDone{1};

TImageStore::TImageStore() { NewHistoryCard.fill(1); }

void TImageStore::Reset() {
  for (int s = 0; s < SlotArraySize; ++s) {
    InUse[s] = 0;
    HasWindow[s] = 0;
    Image[s] = TImageSlot{};
    Window[s] = nullptr;
    Display[s] = TDisplayRecord{};
    Header[s] = THeaderCardList{};
    NewHistoryCard[s] = 1;
    FileName[s].clear();
  }
}

bool FreeSlot(int slot) {
  // Planes that running workers read or write are never freed under them.
  if (slot < 0 || slot >= SlotArraySize || SlotHeldByWorkers(slot)) return false;
  Store.InUse[slot] = 0;
  Store.Image[slot].FreePlanes();
  return true;
}

int FindFreeSlot() {
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (!Store.InUse[s]) return s;
  return -1;
}

int FindActiveSlot() {
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (Store.HasWindow[s] && Store.Window[s] && Store.Window[s]->IsActiveWindow()) return s;
  return -1;
}

void CopyPlane(int src, int p, int dst, int q) {
  if (src < 0 || dst < 0 || src >= SlotArraySize || dst >= SlotArraySize) return;
  if (p < 1 || p > 3 || q < 1 || q > 3) return;
  const TImageSlot& s = Store.Image[src];
  TImageSlot& d = Store.Image[dst];
  if (src == dst && p == q) return;
  if (d.Planes[q].size() != s.Planes[p].size()) d.Planes[q].resize(s.Planes[p].size());
  Store.InUse[dst] = 1;
  std::copy(s.Planes[p].begin(), s.Planes[p].end(), d.Planes[q].begin());
  d.Width = s.Width;
  d.Height = s.Height;
  d.DataChanged = 0;
  d.PlaneMin[q] = s.PlaneMin[p];
  d.PlaneMax[q] = s.PlaneMax[p];
}

bool CopyImageSlot(int src, int dst) {
  if (dst < 1 || dst >= SlotArraySize || src < 0 || src >= SlotArraySize) return false;
  const TImageSlot& s = Store.Image[src];
  TImageSlot& d = Store.Image[dst];
  d.FftHeight = s.FftHeight;
  d.FftWidth = s.FftWidth;
  d.MaxValue = s.MaxValue;
  d.MinValue = s.MinValue;
  d.NumberedName = 1;
  d.DarkRms = s.DarkRms;
  d.JpegQuality = s.JpegQuality;
  d.JpegFileSize = s.JpegFileSize;
  d.IsColor = s.IsColor;
  d.ColorModel = s.ColorModel;
  d.PlaneCount = s.PlaneCount;
  d.RawMosaic = s.RawMosaic;
  d.RawFilterPattern = s.RawFilterPattern;
  d.RawBlackLevel = s.RawBlackLevel;
  std::copy(std::begin(s.RawMultipliers), std::end(s.RawMultipliers), std::begin(d.RawMultipliers));
  for (int i = 0; i < 3; ++i)
    std::copy(std::begin(s.RawColorMatrix[i]), std::end(s.RawColorMatrix[i]), std::begin(d.RawColorMatrix[i]));
  MakeCopyName(src, dst);
  CopyHeaderCards(src, dst);
  Store.NewHistoryCard[dst] = Store.NewHistoryCard[src];
  for (int p = 1; p <= s.PlaneCount; ++p) CopyPlane(src, p, dst, p);
  // A copy of an image without planes still occupies its slot.
  Store.InUse[dst] = 1;
  d.Width = s.Width;
  d.Height = s.Height;
  CopyDisplayRecord(src, dst);
  return true;
}

bool NewResultSlot() {
  const int a = FindActiveSlot();
  if (a < 1) return false;
  const int d = FindFreeSlot();
  if (d < 1) return false;
  SlotPair.Destination = d;
  CopyImageSlot(a, d);
  SlotPair.Source = a;
  return true;
}

bool NewResultSlotRgb() {
  const int a = FindActiveSlot();
  if (a < 1) return false;
  if (Store.Image[a].IsColor && Store.Image[a].ColorModel == CmYuv) YUVtoRGB(a);
  return NewResultSlot();
}

namespace {

// Extension with its dot, from the last path component only.
size_t ExtensionStart(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name.size();
  return dot;
}

}  // namespace

void MakeCopyName(int src, int dst) {
  bool added = false;
  Store.FileName[dst] =
      NextCopyName(Store.FileName[src], Store.Image[src].NumberedName == 1, added, [dst](const std::string& name) {
        for (int s = 1; s <= MaxImageSlots; ++s)
          if (s != dst && Store.HasWindow[s] && Store.FileName[s] == name) return true;
        return false;
      });
  if (added) Store.Image[dst].NumberedName = 1;
}

void SetWorkRectToImage(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  WorkRect.x1 = 0;
  WorkRect.y1 = 0;
  WorkRect.x2 = Store.Image[slot].Width - 1;
  WorkRect.y2 = Store.Image[slot].Height - 1;
}

void SetWorkRect(const TRectI& r) {
  WorkRect.x1 = r.Left;
  WorkRect.y1 = r.Top;
  WorkRect.x2 = r.Right;
  WorkRect.y2 = r.Bottom;
}

void ClampWorkRectToImage(int slot) {
  const int w = Store.Image[slot].Width;
  const int h = Store.Image[slot].Height;
  auto clampAxis = [](int32_t& a, int32_t& b, int size) {
    if (size <= 1) {  // one pixel wide: a one-pixel rectangle
      a = 0;
      b = 0;
      return;
    }
    a = std::clamp(a, 0, size - 2);
    b = std::clamp(b, a + 1, size - 1);
  };
  clampAxis(WorkRect.x1, WorkRect.x2, w);
  clampAxis(WorkRect.y1, WorkRect.y2, h);
}

void SetWorkRectFromWindow(int slot, int n, bool pointOnly) {
  if (!BatchRunning) SetWorkRectToImage(slot);
  if (slot < 1 || slot >= SlotArraySize || !Store.HasWindow[slot] || !Store.Window[slot]) return;
  const TImageWindowLink& win = *Store.Window[slot];
  if (n < 0) {
    const int k = -n - 1;
    if (k < win.MarkCount()) {
      TRectI r;
      if (win.MarkImageRect(k, r)) SetWorkRect(r);
    }
  } else {
    const int which = n == 1 ? 1 : 2;
    if (win.MarkerVisible(which)) {
      if (pointOnly) {
        const TPointI p = win.MarkerImagePoint(which);
        SetWorkRect({p.X, p.Y, p.X, p.Y});
      } else {
        SetWorkRectToImage(slot);
      }
    } else if (win.SelectionVisible(which)) {
      SetWorkRect(win.SelectionImageRect(which));
    }
  }
  ClampWorkRectToImage(slot);
}

void SetOperationActive(bool active) {
  OperationRunning = active ? 1 : 0;
  ComputationDone = 1;
  if (active) AbortRequested = 0;
  for (int s : {SlotPair.Source, SlotPair.Destination})
    if (ValidSlot(s) && Store.HasWindow[s] && Store.Window[s]) Store.Window[s]->SetOperationIcons(active);
  NotifySlotGuardChanged();
}

void SetMinMaxFromScans(int slot, const std::array<TMinMaxScan, 4>& scans) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[slot];
  float lo = 1e18f, hi = -1e18f;
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p) {
    // A plane without valid pixels (or without its pixels) gets min 0 / max 1
    // and leaves the overall figures alone.
    if (scans[size_t(p)].AnyValid()) {
      float mn, mx;
      scans[size_t(p)].Finish(mn, mx);
      if (mx > hi) hi = mx;
      if (mn < lo) lo = mn;
      im.PlaneMin[p] = mn;
      im.PlaneMax[p] = mx;
    } else {
      im.PlaneMin[p] = 0;
      im.PlaneMax[p] = 1.0f;
    }
  }
  if (lo < 1e18f) {
    im.MinValue = lo;
    im.MaxValue = hi;
  } else {
    im.MinValue = 0;
    im.MaxValue = 1.0f;
  }
}

void UpdateMinMax(int slot) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[slot];
  std::array<TMinMaxScan, 4> scans{};
  const size_t n = im.PixelCount();
  const int threads = BandThreads(int64_t(n), int64_t(1) << 19, Options.Multicore != 0);
  for (int p = 1; p <= std::min(im.PlaneCount, 3); ++p) {
    if (n == 0 || im.Planes[p].size() < n) continue;
    // Bands of rows on threads: the minimum and maximum do not depend on the split.
    std::mutex merging;
    std::span<float> plane(im.Planes[p].data(), n);
    ForEachBand(im.Height, threads, [&](int64_t first, int64_t last) {
      TMinMaxScan scan;
      ScanMinMax(plane.subspan(size_t(first) * size_t(im.Width)), im.Width, int32_t(last - first), im.Width, scan,
                 Sse2Enabled);
      std::lock_guard<std::mutex> lock(merging);
      scans[size_t(p)].Merge(scan);
    });
  }
  SetMinMaxFromScans(slot, scans);
}

float GetPlaneMean(int slot, int p) {
  if (!SlotInUse(slot) || p < 1 || p > 3) return 0;
  const TImageSlot& im = Store.Image[slot];
  if (im.Planes[p].size() < im.PixelCount() || im.PixelCount() == 0) return 0;
  double sum = 0;
  int64_t count = 0;
  RectSum(im.Planes[p], im.Width, im.Height, im.Width, sum, count, Sse2Enabled);
  return count > 0 ? float(sum / double(count)) : 0.0f;
}

namespace {
// True when the second character of the upper-case extension is "F" (a FITS file).
bool LooksLikeFits(const std::string& name) {
  const std::string ext = name.substr(ExtensionStart(name));
  return ext.size() >= 2 && std::toupper(static_cast<unsigned char>(ext[1])) == 'F';
}
}  // namespace

void SetAutoDisplayRange(int slot, bool keepGamma) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[slot];
  TDisplayRecord& d = Store.Display[slot];
  const int plane = (im.ColorModel == CmYuv || !im.IsColor || im.PlaneCount < 2) ? 1 : 2;
  const float oldBlack = d.Black;
  const float oldWhite = d.White;
  TPercentileLevels levels;
  GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, Settings.HistoLowPercent,
                      Settings.HistoHighPercent, levels);
  d.Black = Options.BlackToZero ? 0.0f : float(levels.LevelA);
  d.White = float(levels.LevelB);
  if (d.Black + 0.001f > d.White) d.White = d.Black + 0.001f;
  d.RangeHigh = im.MaxValue;
  d.RangeLow = im.MinValue;
  if (d.Black < d.RangeLow) d.RangeLow = d.Black;
  if (d.White > d.RangeHigh) d.RangeHigh = d.White;
  if (Options.GammaAdjust && (d.White > 265.0f || LooksLikeFits(Store.FileName[slot]))) {
    d.Gamma = EstimateAutoGamma(slot, oldWhite, oldBlack);
    d.CurveMode = 1;
  } else if (!keepGamma) {
    d.Gamma = 1.0f;
    d.CurveMode = 1;
  }
  d.Changed = 1;
  if (d.SpanBlackWhite && HistogramWindowVisible) ComputeHistogram(slot, false, false);
}

void ResetDisplayRange(int slot, float white) {
  if (!SlotInUse(slot)) return;
  UpdateMinMax(slot);
  ResetDisplayRangeMeasured(slot, white);
}

void ResetDisplayRangeMeasured(int slot, float white) {
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[slot];
  TDisplayRecord& d = Store.Display[slot];
  if (white > 0) {
    d.White = d.RangeHigh = white;
    d.Black = d.RangeLow = 0;
    if (d.RangeHigh < im.MaxValue) d.RangeHigh = im.MaxValue;
    if (d.RangeLow > im.MinValue) d.RangeLow = im.MinValue;
  } else {
    d.White = d.RangeHigh = im.MaxValue;
    d.Black = d.RangeLow = im.MinValue;
  }
  if (Options.BlackToZero) {
    if (d.RangeLow > 0) d.RangeLow = 0;
    if (d.White > 0.1f) d.Black = 0;
  }
  d.Gamma = 1.0f;
  SetDisplayColorType(slot);
  d.SqrtHistogram = 0;
  d.CurveMode = 1;
  d.LumaOnly = 1;
  d.Changed = 1;
  d.ChannelSelection = 0;
  d.SpanBlackWhite = 0;
}

void HideProgress(int slot) {
  if (ValidSlot(slot) && Store.HasWindow[slot] && Store.Window[slot]) Store.Window[slot]->HideProgressBar();
}

int GetProgressPercent(int slot, int plane, bool inRect, float pos, bool thirds, bool direct, bool asGrey) {
  if (plane < 1 || plane > 3 || slot < 1 || slot >= SlotArraySize) return 0;
  const TImageSlot& im = Store.Image[slot];
  const double y1 = WorkRect.y1, y2 = WorkRect.y2;
  const double h = im.Height > 0 ? im.Height : 1;
  if (direct) return Round32(pos);
  if (im.IsColor && !asGrey) {
    if (thirds) {
      if (inRect) return Round32((pos - y1) * 33.3 / ((y2 - y1) + 0.1) + (plane - 1) * 33.3);
      return Round32(33.3 * pos / h + (plane - 1) * 33.3);
    }
    int k = 0, m = 0;
    for (int p = FirstChannel(slot); p <= im.PlaneCount; NextChannel(slot, p)) {
      ++m;
      if (p == plane) k = m;
    }
    if (m == 0) return 0;
    if (inRect) return Round32(double(k - 1) / m * 100 + (pos - y1) * 100 / (m * ((y2 - y1) + 0.01)));
    return Round32(double(k - 1) / m * 100 + pos * 100 / (h * m));
  }
  if (inRect) return Round32((pos - y1) * 100 / ((y2 - y1) + 0.01));
  return int(Round(double(pos) * 100) / int64_t(h));
}

void ShowProgress(int ownerSlot, int windowSlot, int plane, float pos, bool inRect, bool thirds, bool direct,
                  bool asGrey, const std::string& text) {
  if (!ValidSlot(windowSlot) || !Store.HasWindow[windowSlot] || !Store.Window[windowSlot]) return;
  TImageWindowLink& win = *Store.Window[windowSlot];
  if (plane < 1 || plane > 3 || ownerSlot < 1) {
    win.HideProgressBar();
    return;
  }
  const int percent = GetProgressPercent(ownerSlot, plane, inRect, pos, thirds, direct, asGrey);
  const TImageSlot& im = Store.Image[ownerSlot];
  std::string caption = text;
  if (im.IsColor && !asGrey) {
    static const char* const yuv[] = {"Y", "U", "V"};
    static const char* const rgb[] = {"Rot", "Grün", "Blau"};
    caption = std::string(im.ColorModel == CmYuv ? yuv[plane - 1] : rgb[plane - 1]) + " " + text;
  }
  win.ShowProgressBar(percent, caption);
  EngineUi().ProcessMessages();
}

bool HasMemoryForSlot(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  const TImageSlot& im = Store.Image[slot];
  return AvailableMemory() > MemoryNeededForPixels(im.Planes[1].size(), im.IsColor != 0);
}

int CountFreeSlots() { return MaxImageSlots - CountOpenWindows(); }

int CountOpenWindows() {
  int n = 0;
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (Store.InUse[size_t(s)]) ++n;
  return n;
}

}  // namespace astrelon
