// Search for the brightest window of a rectangle, exhaustively or in rings
// outward from its centre.
#include <cmath>

#include "platform/simd_support.h"
#include "store/image_slot.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

struct TRectView {
  const float* Data;
  int32_t W, H;
  int64_t Stride;
  int32_t R;

  bool WindowInside(int32_t cx, int32_t cy) const {
    return int64_t(cx) - R >= 0 && int64_t(cy) - R >= 0 && int64_t(cx) + R < W && int64_t(cy) + R < H;
  }
  // Mean of the valid pixels of the window centred at (cx, cy), which lies inside;
  // false when it holds none.
  bool WindowMean(int32_t cx, int32_t cy, double& mean) const {
    double sum = 0;
    int64_t n = 0;
    for (int32_t y = cy - R; y <= cy + R; ++y) {
      const float* row = Data + y * Stride;
      for (int32_t x = cx - R; x <= cx + R; ++x)
        if (IsValidPixel(row[x])) {
          sum += row[x];
          ++n;
        }
    }
    if (n == 0) return false;
    mean = sum / double(n);
    return true;
  }
  // Mean absolute difference of horizontal neighbours, both valid; 0 without pairs.
  double NeighbourDifference() const {
    double sum = 0;
    int64_t n = 0;
    for (int32_t y = 0; y < H; ++y) {
      const float* row = Data + y * Stride;
      for (int32_t x = 0; x + 1 < W; ++x)
        if (IsValidPixel(row[x]) && IsValidPixel(row[x + 1])) {
          sum += std::fabs(double(row[x + 1]) - double(row[x]));
          ++n;
        }
    }
    return n > 0 ? sum / double(n) : 0.0;
  }
};

struct TBest {
  bool Found = false;
  double Mean = 0;
  int32_t X = 0, Y = 0;
  // Takes the window when it has a strictly higher mean (the first of equal ones stays).
  void Offer(const TRectView& v, int32_t cx, int32_t cy) {
    double m;
    if (!v.WindowInside(cx, cy) || !v.WindowMean(cx, cy, m)) return;
    if (!Found || m > Mean) {
      Found = true;
      Mean = m;
      X = cx;
      Y = cy;
    }
  }
};

}  // namespace

void FindBrightestPixel(std::span<const float> data, int32_t w, int32_t h, int64_t stride, int32_t r, int32_t& x,
                        int32_t& y, float& value, bool spiral) {
  x = w / 2;
  y = h / 2;
  value = BlankLimit;
  if (w <= 0 || h <= 0 || r < 0) return;
  CheckRect(data.size(), w, h, stride);
  if (w == 1 && h == 1) {
    // A single pixel: its window, cut to the rectangle, is the pixel itself.
    if (IsValidPixel(data[0])) value = data[0];
    x = y = 0;
    return;
  }
  const TRectView view{data.data(), w, h, stride, r};
  TBest best;
  if (!spiral) {
    for (int32_t cy = r; int64_t(cy) + r < h; ++cy)
      for (int32_t cx = r; int64_t(cx) + r < w; ++cx) best.Offer(view, cx, cy);
  } else {
    const double noise = view.NeighbourDifference() * 1.6 / double(2 * int64_t(r) + 1);
    const int32_t cx0 = w / 2, cy0 = h / 2;
    for (int32_t k = 0;; ++k) {
      TBest ring;
      if (k == 0) {
        ring.Offer(view, cx0, cy0);
      } else {
        // Square of side 2k+1 around the centre from its top-left corner:
        // 2k steps right, 2k down, 2k left, 2k-1 up.
        int32_t px = cx0 - k, py = cy0 - k;
        ring.Offer(view, px, py);
        const int32_t dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
        for (int side = 0; side < 4; ++side) {
          const int32_t steps = side == 3 ? 2 * k - 1 : 2 * k;
          for (int32_t s = 0; s < steps; ++s) {
            px += dx[side];
            py += dy[side];
            ring.Offer(view, px, py);
          }
        }
      }
      if (ring.Found && (!best.Found || ring.Mean > best.Mean)) best = ring;
      if (k + 1 >= w / 2) break;
      // A ring without any window counts as blank: it ends the climb once something was found.
      const double ringMean = ring.Found ? ring.Mean : double(BlankLimit);
      const double bestMean = best.Found ? best.Mean : double(BlankLimit);
      if (ringMean + noise < bestMean) break;
    }
  }
  if (best.Found) {
    x = best.X;
    y = best.Y;
    value = float(best.Mean);
  }
}

}  // namespace astrelon
