#include "pixelops/periodic_noise_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/settings.h"
#include "frequency/owned_slot.h"
#include "frequency/spectrum_image.h"
#include "pixelops/rect_runs.h"
#include "platform/parallel_bands.h"

namespace astrelon {

namespace {

// The inner margin of the forward transform.
constexpr int32_t InnerMargin = 2;
constexpr double LowestRadius = 0.2, HighestRadius = 1.35, RingScale = 0.735;

// One spectrum plane: W values a row, real parts in columns 0 .. hw − 1 and the
// imaginary parts hw columns to the right; vertical frequency 0 in row hh.
class TSpectrumPlane {
public:
  TSpectrumPlane(float* data, int32_t width, int32_t height)
      : data_(data), W_(width), H_(height), hw_(width / 2), hh_(height / 2), nr_((hw_ + hh_) / 2) {
    columnTerm_.resize(size_t(hw_));
    for (int32_t c = 0; c < hw_; ++c) {
      const double i = double(c + 1) / hw_;
      columnTerm_[size_t(c)] = i * i;
    }
  }

  void Filter(double k) {
    Measure(k);
    for (int32_t r = 0; r < H_; ++r) FilterRow(r <= hh_ ? r : H_ - r + hh_);
  }

private:
  float& Re(int32_t y, int32_t c) { return data_[size_t(y) * size_t(W_) + size_t(c)]; }
  float& Im(int32_t y, int32_t c) { return data_[size_t(y) * size_t(W_) + size_t(c + hw_)]; }
  double Amplitude(int32_t y, int32_t c) {
    const double re = Re(y, c), im = Im(y, c);
    return std::sqrt(re * re + im * im);
  }
  double RowTerm(int32_t y) const {
    const double dy = double(hh_ - y) / hh_;
    return dy * dy;
  }
  int32_t Ring(double radius) const { return int32_t(std::nearbyint(nr_ * radius * RingScale)); }
  static bool InRange(double radius) { return radius > LowestRadius && radius < HighestRadius; }

  // Mean and k standard deviations of the amplitudes of every ring.
  void Measure(double k) {
    std::vector<double> sum(size_t(nr_) + 1, 0.0), squares(size_t(nr_) + 1, 0.0);
    std::vector<int32_t> count(size_t(nr_) + 1, 0);
    for (int32_t y = 0; y < H_; ++y) {
      const double rowTerm = RowTerm(y);
      for (int32_t c = 0; c < hw_; ++c) {
        const double radius = std::sqrt(columnTerm_[size_t(c)] + rowTerm);
        if (!InRange(radius)) continue;
        const size_t b = size_t(Ring(radius));
        const double a = Amplitude(y, c);
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
    double acc = 0, sum = 0;
    reached = 0;
    int32_t yy = y, cc = c;
    if (i < ady) {
      // Steeper than 45°: rows away from the centre row.
      const int32_t n = std::min(hh_ - ady - 2, hh_ / 3);
      const int32_t step = y > hh_ ? 1 : -1;
      for (int32_t s = 0; s < n; ++s) {
        yy += step;
        acc += double(i) / ady;
        if (acc > 0.5) {
          ++cc;
          acc -= 1;
        }
        if (yy < 0 || yy >= H_ || cc >= hw_) break;
        sum += Amplitude(yy, cc);
        ++reached;
      }
    } else {
      const int32_t n = std::min(hw_ - i - 1, hw_ / 3);
      const double slope = double(hh_ - y) / i;
      for (int32_t s = 0; s < n; ++s) {
        ++cc;
        acc += slope;
        if (acc > 0.5) {
          ++yy;
          acc -= 1;
        } else if (acc < -0.5) {
          --yy;
          acc += 1;
        }
        if (yy < 0 || yy >= H_ || cc >= hw_) break;
        sum += Amplitude(yy, cc);
        ++reached;
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
    }
  }

  float* data_;
  int32_t W_, H_, hw_, hh_, nr_;
  std::vector<double> columnTerm_, mean_, spread_;
};

}  // namespace

double ClampPeriodicNoiseK(double k) {
  if (!(k >= 0.2)) return 0.2;  // NaN too
  return std::min(k, 15.9);
}

double StoredPeriodicNoiseK() { return ClampPeriodicNoiseK(Settings.FftNoiseParam1); }

int FilterPeriodicNoiseFft(int source, double k) {
  k = ClampPeriodicNoiseK(k);
  const int32_t outer = FftOuterMarginSetting();
  TOwnedSlot spectrum(ImageToFft2D(source, InnerMargin, outer));
  if (!spectrum.Made()) return -1;
  TImageSlot& s = Store.Image[size_t(spectrum.Get())];
  if (s.Width <= 7 || s.Height <= 7) return -1;
  const TPlaneList planes = SelectedChannels(spectrum.Get());
  ForEachBand(planes.Count, BandThreads(planes.Count, 1, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    for (int64_t j = first; j < last; ++j) {
      TPlane& plane = s.Planes[size_t(planes.Plane[size_t(j)])];
      if (plane.size() < s.PixelCount()) continue;
      TSpectrumPlane(plane.data(), s.Width, s.Height).Filter(k);
    }
  });
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
