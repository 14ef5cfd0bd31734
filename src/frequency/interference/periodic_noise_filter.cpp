#include "frequency/interference/periodic_noise_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/settings.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/regions/owned_slot.h"
#include "kernels/regions/rect_runs.h"
#include "platform/parallel_bands.h"

namespace astrelon {

namespace {

// The inner margin of the forward transform.
constexpr int32_t InnerMargin = 2;
constexpr double LowestRadius = 0.2, HighestRadius = 1.35, RingScale = 0.735;

// Sum of n floats in four double lanes, added in a fixed order.
double SumRun(const float* p, int32_t n) {
  double a = 0, b = 0, c = 0, d = 0;
  int32_t k = 0;
  for (; k + 4 <= n; k += 4) {
    a += p[k];
    b += p[k + 1];
    c += p[k + 2];
    d += p[k + 3];
  }
  for (; k < n; ++k) a += p[k];
  return (a + b) + (c + d);
}

// The steps of a digital line: n steps along its main direction, each also
// moving one place sideways when the running sideways share (P/Q a step,
// started at 0) exceeds 0.5, and 1 is taken off it. The sideways offset m holds
// from step First(m) = floor((2m − 1) Q / (2P)) + 1 on; the runs of equal
// offset are found with integers only, one after the other.
class TLineRuns {
public:
  TLineRuns(int32_t p, int32_t q, int32_t n) : p2_(2 * int64_t(p)), q_(q), n_(n) {
    if (p2_ > 0) {
      // First(1) from (2·1 − 1)·Q; each later offset adds 2Q to the numerator.
      quotient_ = q_ / p2_;
      rest_ = q_ % p2_;
      stepQuotient_ = (2 * q_) / p2_;
      stepRest_ = (2 * q_) % p2_;
    }
  }
  // The next run: offset m, steps first .. last (1-based); false when the line ended.
  bool Next(int32_t& m, int32_t& first, int32_t& last) {
    if (start_ > n_) return false;
    m = m_;
    first = int32_t(start_);
    int64_t next = int64_t(n_) + 1;
    if (p2_ > 0) {
      next = std::min(next, quotient_ + 1);
      quotient_ += stepQuotient_;
      rest_ += stepRest_;
      if (rest_ >= p2_) {
        rest_ -= p2_;
        ++quotient_;
      }
    }
    last = int32_t(next - 1);
    start_ = next;
    ++m_;
    return true;
  }

private:
  int64_t p2_, q_;
  int32_t n_;
  int64_t quotient_ = 0, rest_ = 0, stepQuotient_ = 0, stepRest_ = 0;
  int64_t start_ = 1;
  int32_t m_ = 0;
};

// One spectrum plane: W values a row, real parts in columns 0 .. hw − 1 and the
// imaginary parts hw columns to the right; vertical frequency 0 in row hh. The
// amplitudes are kept beside it row by row (current values) and column by column
// (rows already filtered), so that reference lines read runs of them.
class TSpectrumPlane {
public:
  TSpectrumPlane(float* data, int32_t width, int32_t height)
      : data_(data), W_(width), H_(height), hw_(width / 2), hh_(height / 2), nr_((hw_ + hh_) / 2) {
    columnTerm_.resize(size_t(hw_));
    for (int32_t c = 0; c < hw_; ++c) {
      const double i = double(c + 1) / hw_;
      columnTerm_[size_t(c)] = i * i;
    }
    rows_.resize(size_t(hw_) * size_t(H_));
    columns_.resize(size_t(hw_) * size_t(H_));
  }

  void Filter(double k) {
    Measure(k);
    for (int32_t r = 0; r < H_; ++r) {
      const int32_t y = r <= hh_ ? r : H_ - r + hh_;
      FilterRow(y);
      for (int32_t c = 0; c < hw_; ++c) columns_[size_t(c) * size_t(H_) + size_t(y)] = Row(y)[c];
    }
  }

private:
  float& Re(int32_t y, int32_t c) { return data_[size_t(y) * size_t(W_) + size_t(c)]; }
  float& Im(int32_t y, int32_t c) { return data_[size_t(y) * size_t(W_) + size_t(c + hw_)]; }
  double Amplitude(int32_t y, int32_t c) {
    const double re = Re(y, c), im = Im(y, c);
    return std::sqrt(re * re + im * im);
  }
  float* Row(int32_t y) { return rows_.data() + size_t(y) * size_t(hw_); }
  const float* Column(int32_t c) const { return columns_.data() + size_t(c) * size_t(H_); }
  double RowTerm(int32_t y) const {
    const double dy = double(hh_ - y) / hh_;
    return dy * dy;
  }
  int32_t Ring(double radius) const { return int32_t(std::nearbyint(nr_ * radius * RingScale)); }
  static bool InRange(double radius) { return radius > LowestRadius && radius < HighestRadius; }

  // Every amplitude, and the mean and k standard deviations of those of every ring.
  void Measure(double k) {
    std::vector<double> sum(size_t(nr_) + 1, 0.0), squares(size_t(nr_) + 1, 0.0);
    std::vector<int32_t> count(size_t(nr_) + 1, 0);
    for (int32_t y = 0; y < H_; ++y) {
      const double rowTerm = RowTerm(y);
      float* amplitudes = Row(y);
      for (int32_t c = 0; c < hw_; ++c) {
        const double a = Amplitude(y, c);
        amplitudes[c] = float(a);
        const double radius = std::sqrt(columnTerm_[size_t(c)] + rowTerm);
        if (!InRange(radius)) continue;
        const size_t b = size_t(Ring(radius));
        sum[b] += a;
        squares[b] += a * a;
        ++count[b];
      }
    }
    mean_.assign(size_t(nr_) + 1, 0.0);
    spread_.assign(size_t(nr_) + 1, 0.0);
    for (size_t b = 0; b < count.size(); ++b) {
      if (count[b] == 0) continue;
      mean_[b] = sum[b] / count[b];
      const double var = squares[b] / count[b] - mean_[b] * mean_[b];
      spread_[b] = var < 0 ? 0.0 : k * std::sqrt(var);
    }
  }

  // Mean amplitude along the reference line from (y, c) at frequency (i, dy);
  // the line ends at the spectrum's edges. `reached` counts its coefficients.
  double LineMean(int32_t y, int32_t c, int32_t i, int32_t dy, int32_t& reached) {
    const int32_t ady = std::abs(dy);
    double sum = 0;
    reached = 0;
    int32_t m = 0, first = 0, last = 0;
    if (i < ady) {
      // Steeper than 45°: rows away from the centre row (already filtered),
      // moving one column right when i/|dy| a step adds up past 0.5.
      TLineRuns runs(i, ady, std::min(hh_ - ady - 2, hh_ / 3));
      const bool down = y > hh_;
      while (runs.Next(m, first, last)) {
        const int32_t cc = c + m;
        int32_t y1 = down ? y + first : y - last, y2 = down ? y + last : y - first;
        if (cc >= hw_) break;
        // Past the top or bottom edge the line ends (its part inside counts).
        if (down && y2 >= H_) y2 = H_ - 1;
        if (!down && y1 < 0) y1 = 0;
        if (y2 >= y1) {
          sum += SumRun(Column(cc) + y1, y2 - y1 + 1);
          reached += y2 - y1 + 1;
        }
        if (y2 - y1 + 1 < last - first + 1) break;
      }
    } else {
      // Columns to the right, moving one row down (dy > 0) or up (dy < 0) when
      // dy/i a step adds up past ±0.5.
      TLineRuns runs(ady, i, std::min(hw_ - i - 1, hw_ / 3));
      const int32_t step = dy > 0 ? 1 : -1;
      while (runs.Next(m, first, last)) {
        const int32_t yy = y + step * m;
        if (yy < 0 || yy >= H_) break;
        const int32_t c1 = c + first, c2 = std::min(c + last, hw_ - 1);
        if (c2 >= c1) {
          sum += SumRun(Row(yy) + c1, c2 - c1 + 1);
          reached += c2 - c1 + 1;
        }
        if (c2 < c + last) break;
      }
    }
    return reached > 0 ? sum / reached : 0.0;
  }

  void FilterRow(int32_t y) {
    const double rowTerm = RowTerm(y);
    const int32_t dy = hh_ - y;
    for (int32_t i = hw_; i >= 1; --i) {
      const int32_t c = i - 1;
      const double radius = std::sqrt(columnTerm_[size_t(c)] + rowTerm);
      if (!InRange(radius)) continue;
      const size_t b = size_t(Ring(radius));
      const double f = 0.1 + 0.2 * double(hw_ + hh_) / (std::abs(dy) + i);
      const double limit = mean_[b] + f * spread_[b];
      const double a = Amplitude(y, c);
      if (a <= limit) continue;
      int32_t reached = 0;
      const double lineMean = LineMean(y, c, i, dy, reached);
      double scale = 1;
      if (reached < 1) {
        scale = mean_[b] / a;
      } else {
        const double target = f * spread_[b] + lineMean;
        if (target <= limit || target < a) scale = target / a;
      }
      Re(y, c) = float(Re(y, c) * scale);
      Im(y, c) = float(Im(y, c) * scale);
      Row(y)[c] = float(Amplitude(y, c));
    }
  }

  float* data_;
  int32_t W_, H_, hw_, hh_, nr_;
  std::vector<double> columnTerm_, mean_, spread_;
  // Amplitudes row by row (hw a row) and column by column (H a column).
  std::vector<float> rows_, columns_;
};

}  // namespace

double ClampPeriodicNoiseK(double k) {
  if (!(k >= 0.2)) return 0.2;  // NaN too
  return std::min(k, 15.9);
}

double StoredPeriodicNoiseK() { return ClampPeriodicNoiseK(Settings.FftNoiseParam1); }

bool FilterPeriodicNoiseSpectrum(int spectrum, double k) {
  if (!SlotInUse(spectrum)) return false;
  TImageSlot& s = Store.Image[size_t(spectrum)];
  if (s.Width <= 7 || s.Height <= 7) return false;
  k = ClampPeriodicNoiseK(k);
  const TPlaneList planes = SelectedChannels(spectrum);
  ForEachBand(planes.Count, BandThreads(planes.Count, 1, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    for (int64_t j = first; j < last; ++j) {
      TPlane& plane = s.Planes[size_t(planes.Plane[size_t(j)])];
      if (plane.size() < s.PixelCount()) continue;
      TSpectrumPlane(plane.data(), s.Width, s.Height).Filter(k);
    }
  });
  return true;
}

int FilterPeriodicNoiseFft(int source, double k) {
  const int32_t outer = FftOuterMarginSetting();
  TOwnedSlot spectrum(ImageToFft2D(source, InnerMargin, outer));
  if (!spectrum.Made()) return -1;
  if (!FilterPeriodicNoiseSpectrum(spectrum.Get(), k)) return -1;
  const TPlaneList planes = SelectedChannels(spectrum.Get());
  const int result = FftToImage2D(spectrum.Get(), -1, outer);
  if (result < 1) return -1;
  // Planes outside the channel selection were not filtered: they keep the source's values.
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(result)];
  if (dst.Width == src.Width && dst.Height == src.Height)
    for (int p = 1; p <= std::min(src.PlaneCount, dst.PlaneCount); ++p)
      if (std::find(planes.Planes().begin(), planes.Planes().end(), p) == planes.Planes().end())
        CopyPlane(source, p, result, p);
  return result;
}

}  // namespace astrelon
