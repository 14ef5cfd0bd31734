#include "kernels/network/neuro_interpolation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "kernels/network/neural_tables.h"

namespace astrelon {

constexpr TNeuroInterpolationNet NeuroInterpolationNet{
    {{
        {235, -133, -62, 546, 498, -338, 649, 1002, -315, 1191, 15457, -337, 594, 222, -864, -6238, 625, 33},
        {773, 186, 1276, 13, 1229, 846, -3318, 2278, 2870, 18647, -3007, -341, -1919, 2301, 1666, 530, -1812, 1507},
        {28, -369, 2536, -1768, 4237, 1724, 5436, 2449, -1363, 1920, 2315, 1532, 1078, -2260, 1331, -2461, 1461,
         -1626},
        {-184, -68, 777, -548, 172, 865, 261, 626, 432, -1725, -942, 246, 1759, -15, -1149, -807, -1171, -6},
        {-757, -1804, -2819, 2893, 514, 325, -16029, -1423, -1100, 638, 812, -1187, -807, -822, -426, 324, -1934,
         -234},
        {6687, 413, -859, -156, 2318, -14132, -1827, 150, -141, -2441, 7, -1255, 255, -756, -606, 708, 901, -516},
        {-1214, 3102, 1747, 287, 3128, 27504, -3196, 707, 1265, -652, -1200, 2063, 614, 1009, 1458, 140, -678, 1247},
        {2964, 407, -3250, 1269, 1787, -1985, -530, -2183, -1626, 1045, -2070, 587, 629, 520, -2185, -1, 304, -830},
        {-1121, 2712, -2556, 2148, 2499, -813, -2168, 2405, -594, -711, -3328, 707, -332, 3433, 278, 829, 3781, -839},
        {779, -1811, 969, 42, 827, -7933, 1543, 1945, -820, -4769, -1755, 1216, 778, -3829, 296, 879, 6293, 62},
        {1272, 1051, 2181, -281, -1126, 1830, 1156, -669, 2887, 2808, 1687, 2300, -1209, 1286, 1241, -578, -112, 2410},
    }},
    {889, 902, -1317, -1132, -1048, -927, 755, 1190, -1470, 955, -1674},
};

namespace {

constexpr int32_t NeuroInputLimit = 16384;     // scaled neighbours are clamped to +-this
constexpr int32_t NeuroFractionScale = 1638;   // largest scaled fraction, round(1638.4 * 1)
constexpr int32_t NeuroSaturation = 32768000;  // beyond: the activation's end value
constexpr int32_t NeuroSaturatedValue = 13501;

// The weighted sums of every neuron stay within 32 bits for any input.
constexpr bool HiddenSumsFitIn32Bits() {
  for (const auto& row : NeuroInterpolationNet.Hidden) {
    int64_t sum = 0;
    for (int i = 0; i < NeuroInputCount; ++i) {
      const int64_t w = row[size_t(i)] < 0 ? -int64_t(row[size_t(i)]) : row[size_t(i)];
      sum += w * (i < 16 ? NeuroInputLimit : NeuroFractionScale);
    }
    if (sum > std::numeric_limits<int32_t>::max()) return false;
  }
  return true;
}
static_assert(HiddenSumsFitIn32Bits());

}  // namespace

std::array<int32_t, NeuroHiddenCount> ForwardFixedPoint(const std::array<int32_t, NeuroInputCount>& q) {
  std::array<int32_t, NeuroHiddenCount> h{};
  for (int j = 0; j < NeuroHiddenCount; ++j) {
    const auto& w = NeuroInterpolationNet.Hidden[size_t(j)];
    int32_t a = 0;
    for (int i = 0; i < NeuroInputCount; ++i) a += int32_t(w[size_t(i)]) * q[size_t(i)];
    if (a > NeuroSaturation)
      h[size_t(j)] = NeuroSaturatedValue;
    else if (a < -NeuroSaturation)
      h[size_t(j)] = -NeuroSaturatedValue;
    else {
      const int32_t t = TanhTableFixed[size_t(std::abs(a) >> 14)];
      h[size_t(j)] = a < 0 ? -t : t;
    }
  }
  return h;
}

float InterpolateNeuro(const std::array<float, NeuroInputCount>& p) {
  const float fx = p[16], fy = p[17];
  // Bilinear base over the valid corners of the centre cell.
  auto pair = [fx](float a, float b, float& w, float& v) {
    w = 0;
    v = 0;
    if (a > -1e9f) {
      w += 1 - fx;
      v += (1 - fx) * a;
    }
    if (b > -1e9f) {
      w += fx;
      v += fx * b;
    }
  };
  float wTop, vTop, wBottom, vBottom;
  pair(p[5], p[6], wTop, vTop);
  pair(p[9], p[10], wBottom, vBottom);
  const float weight = wTop + (wBottom - wTop) * fy;
  const float sum = vTop + (vBottom - vTop) * fy;
  if (!(weight > 0.1f)) return -1e11f;
  const float base = sum / weight;

  // Deviations of the valid neighbours from the base and their rms.
  std::array<float, 16> d{};
  double squares = 0;
  int valid = 0;
  for (int i = 0; i < 16; ++i)
    if (p[size_t(i)] > -1e9f) {
      d[size_t(i)] = p[size_t(i)] - base;
      squares += double(d[size_t(i)]) * d[size_t(i)];
      ++valid;
    }
  const double rms = std::sqrt(squares / valid);
  if (!(rms > 0) || !std::isfinite(rms)) return base;

  std::array<int32_t, NeuroInputCount> q{};
  const double scale = 1638.4 / rms;
  for (int i = 0; i < 16; ++i)
    q[size_t(i)] = int32_t(std::clamp(std::nearbyint(d[size_t(i)] * scale), double(-NeuroInputLimit),
                                      double(NeuroInputLimit)));
  // Fractions lie in [0, 1); the clamp keeps any other caller within 32-bit sums.
  auto fraction = [](float f) {
    return int32_t(std::clamp(std::nearbyint(1638.4 * double(f)), double(-NeuroFractionScale),
                              double(NeuroFractionScale)));
  };
  q[16] = fraction(fx);
  q[17] = fraction(fy);

  const std::array<int32_t, NeuroHiddenCount> h = ForwardFixedPoint(q);
  int32_t z = 0;
  for (int j = 0; j < NeuroHiddenCount; ++j) z += int32_t(NeuroInterpolationNet.Output[size_t(j)]) * h[size_t(j)];
  return float(double(base) + double(z) * 6.103515625e-9 * rms);
}

}  // namespace astrelon
