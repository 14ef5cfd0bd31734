#include "filters/corrections/equalize_row_brightness.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "core/settings.h"
#include "kernels/gauss/filter_rows.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/value_statistics.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

struct TLevelPass {
  std::span<const float> Plane;
  int32_t Width = 0;
  TColumnRange Columns;
  int Phase = -1;    // colour-mosaic phase; -1 measures every column
  double Fraction = 0.5;
  float Limit = 0.5f;  // T
  bool Relative = false;
};

// First measured column of row y and the step between measured columns.
int32_t FirstColumn(const TLevelPass& s, int64_t y) {
  return s.Phase >= 0 ? s.Columns.First + int32_t((s.Phase + y) & 1) : s.Columns.First;
}
int32_t ColumnStep(const TLevelPass& s) { return s.Phase >= 0 ? 2 : 1; }

// Pass A: the quantile of the row's valid measured values; blank without one.
float RowLevel(const TLevelPass& s, int64_t y, std::vector<float>& buf) {
  buf.clear();
  const float* row = s.Plane.data() + y * s.Width;
  for (int32_t x = FirstColumn(s, y); x <= s.Columns.Last; x += ColumnStep(s))
    if (IsValidPixel(row[x])) buf.push_back(row[x]);
  return buf.empty() ? BlankPixel : PercentileSelect(buf, s.Fraction);
}

// Pass B: the level from the values near the row's first level (absolute, and
// row 0), or the median of the steps to the row above (relative).
float RefinedLevel(const TLevelPass& s, int64_t y, float level, std::vector<float>& buf) {
  buf.clear();
  const float* row = s.Plane.data() + y * s.Width;
  const float t = s.Limit;
  if (!s.Relative || y == 0) {
    for (int32_t x = FirstColumn(s, y); x <= s.Columns.Last; x += ColumnStep(s)) {
      const float v = row[x];
      if (IsValidPixel(v) && std::fabs(v - level) < t) buf.push_back(v);
    }
    if (buf.empty()) return level;
    return PercentileSelect(buf, s.Relative ? 0.5 : s.Fraction);
  }
  const float* above = row - s.Width;
  for (int32_t x = FirstColumn(s, y); x <= s.Columns.Last; x += ColumnStep(s)) {
    const float v = row[x], u = above[x];
    if (IsValidPixel(v) && std::fabs(v - level) < t && IsValidPixel(u) && std::fabs(v - u) < 3 * t)
      buf.push_back(v - u);
  }
  return buf.empty() ? level : PercentileSelect(buf, 0.5);
}

double MeanOfValid(const std::vector<float>& levels, bool& any) {
  double sum = 0;
  int64_t n = 0;
  for (float l : levels)
    if (IsValidPixel(l)) {
      sum += l;
      ++n;
    }
  any = n > 0;
  return n > 0 ? sum / double(n) : 0.0;
}

// The levels of every row; false when stopped.
bool MeasureLevels(const TLevelPass& s, int64_t height, std::vector<float>& levels, TFilterPoll& poll, int plane) {
  levels.assign(size_t(height), BlankPixel);
  const int64_t measured = int64_t(s.Columns.Last) - s.Columns.First + 1;
  if (!ForEachRowChunk(0, height, measured, &poll, plane, [&](int64_t a, int64_t b) {
        std::vector<float> buf;
        buf.reserve(size_t(measured));
        for (int64_t y = a; y < b; ++y) levels[size_t(y)] = RowLevel(s, y, buf);
      }))
    return false;
  bool any = false;
  MeanOfValid(levels, any);
  if (!any) return true;
  std::vector<float> refined(levels.size(), BlankPixel);
  if (!ForEachRowChunk(0, height, measured, &poll, plane, [&](int64_t a, int64_t b) {
        std::vector<float> buf;
        buf.reserve(size_t(measured));
        for (int64_t y = a; y < b; ++y)
          if (IsValidPixel(levels[size_t(y)])) refined[size_t(y)] = RefinedLevel(s, y, levels[size_t(y)], buf);
      }))
    return false;
  levels.swap(refined);
  return true;
}

// The amount added to each row (NaN: the row has no level).
std::vector<double> RowShifts(const std::vector<float>& levels, bool relative, float limit) {
  std::vector<double> shift(levels.size(), std::nan(""));
  bool any = false;
  const double mean = MeanOfValid(levels, any);
  double c = 0;
  const double step = 0.04 * double(limit);
  for (size_t y = 0; y < levels.size(); ++y) {
    const bool has = IsValidPixel(levels[y]);
    if (!relative) {
      if (has) shift[y] = mean - double(levels[y]);
      continue;
    }
    if (has && y >= 1) c += levels[y];
    if (has) shift[y] = -c;
    c /= 1.1;
    c = c > 0 ? std::max(0.0, c - step) : std::min(0.0, c + step);
  }
  return shift;
}

}  // namespace

bool EqualizeRowBrightness(int source, int destination, bool relative, float strength, TColumnRange columns,
                           std::optional<TColumnRange> second, TFilterPoll& poll) {
  if (!SlotInUse(source) || !ValidSlot(destination)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  const size_t n = src.PixelCount();
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return true;

  double fraction = double(strength) / 100.0;
  fraction = fraction > 0 ? std::min(fraction, 1.0) : 0.0;  // NaN too gives 0
  std::vector<TColumnRange> passes{columns};
  if (second) passes.push_back(*second);
  for (TColumnRange& c : passes) {
    c.First = std::max(c.First, 0);
    c.Last = std::min(c.Last, w - 1);
  }
  std::vector<uint8_t> selected(4, 0);
  for (int p = FirstChannel(source); p >= 1 && p <= src.PlaneCount && p <= 3; NextChannel(source, p))
    selected[size_t(p)] = 1;

  // The mosaic phase of a grey image and the noise of the first plane are two
  // passes over the whole plane: they run side by side.
  int phase = -1;
  float firstNoise = 0;
  const int first = FirstChannel(source);
  ForEachBand(2, Options.Multicore ? 2 : 1, [&](int64_t a, int64_t b) {
    for (int64_t k = a; k < b; ++k) {
      if (k == 0 && first >= 1 && first <= std::min(src.PlaneCount, 3)) firstNoise = EstimatePlaneNoise(source, first);
      if (k == 1 && src.PlaneCount == 1) phase = DetectMosaicPhase(source);
    }
  });
  for (int p = 1; p <= std::min(src.PlaneCount, 3); ++p) {
    if (src.Planes[size_t(p)].size() != n) continue;
    if (!selected[size_t(p)]) {
      if (source != destination) CopyPlane(source, p, destination, p);
      continue;
    }
    if (dst.Planes[size_t(p)].size() != n) dst.Planes[size_t(p)].resize(n);
    // Levels are measured on the source as it was, also when it is the destination.
    TPlane kept;
    std::span<const float> in = src.Planes[size_t(p)];
    if (source == destination) {
      kept.assign(in.begin(), in.end());
      in = kept;
    }
    std::span<float> out = dst.Planes[size_t(p)];
    const float limit = std::max(5.0f * (p == first ? firstNoise : EstimatePlaneNoise(source, p)), 0.5f);

    for (size_t k = 0; k < passes.size(); ++k) {
      const TColumnRange c = passes[k];
      std::vector<float> levels(size_t(h), BlankPixel);
      if (c.First <= c.Last) {
        const TLevelPass s{in, w, c, phase, fraction, limit, relative};
        if (!MeasureLevels(s, h, levels, poll, p)) return false;
      }
      const std::vector<double> shift = RowShifts(levels, relative, limit);
      const bool first = k == 0;
      if (!ForEachRowChunk(0, h, w, &poll, p, [&](int64_t a, int64_t b) {
            for (int64_t y = a; y < b; ++y) {
              const double add = shift[size_t(y)];
              const float* s = in.data() + y * w;
              float* d = out.data() + y * w;
              if (std::isnan(add)) {
                // A row without a level: copied (first pass) or left (second pass).
                if (first && source != destination) std::copy(s, s + w, d);
                continue;
              }
              for (int32_t x = 0; x < w; ++x) {
                const float v = s[x];
                if (!IsValidPixel(v)) {
                  if (first) d[x] = v;
                  continue;
                }
                const float r = float(double(v) + add);
                d[x] = first ? r : (d[x] + r) * 0.5f;
              }
            }
          }))
        return false;
    }
  }
  return true;
}

}  // namespace astrelon
