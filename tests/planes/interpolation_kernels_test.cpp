#include "store/planes/interpolation_kernels.h"

#include <cmath>

#include <gtest/gtest.h>

namespace astrelon {
namespace {

TEST(InterpolationKernels, KernelFormulas) {
  EXPECT_EQ(KernelWeight(IkLinear, 0.25f), 0.75f);
  EXPECT_EQ(KernelWeight(IkLinear, -1.0f), 0.0f);
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    EXPECT_FLOAT_EQ(KernelWeight(kind, 0.0f), 1.0f) << kind;
    EXPECT_NEAR(KernelWeight(kind, 1.0f), 0.0f, 1e-7) << kind;
    EXPECT_EQ(KernelWeight(kind, 0.7f), KernelWeight(kind, -0.7f)) << kind;  // symmetric
  }
  // Keys cubic at 1.5: a(u^3 - 5u^2 + 8u - 4) = a * 0.125.
  EXPECT_FLOAT_EQ(KernelWeight(IkBicubic, 1.5f), -0.1f);
  EXPECT_FLOAT_EQ(KernelWeight(IkNeuro, 1.5f), -0.046875f);
  // Windowed sincs vanish at their width and beyond.
  EXPECT_EQ(KernelWeight(IkLanczos3, 3.0f), 0.0f);
  EXPECT_EQ(KernelWeight(IkDSinc, 8.5f), 0.0f);
  EXPECT_NE(KernelWeight(IkDSinc, 5.5f), 0.0f);
  EXPECT_FLOAT_EQ(KernelWeight(7, 0.5f), KernelWeight(IkLanczos3, 0.5f));
  // sinc(0.5) * sinc(0.5 / 3) = (2/pi) * sin(pi/6) / (pi/6)
  EXPECT_FLOAT_EQ(KernelWeight(IkLanczos3, 0.5f), float((2 / M_PI) * (0.5 / (M_PI / 6))));
}

TEST(InterpolationKernels, CubicsSumToOneAtEveryFraction) {
  for (int kind : {IkNeuro, IkBicubic})
    for (double f = 0.0; f < 1.0; f += 0.13) {
      double sum = 0;
      for (int k = -1; k <= 2; ++k) sum += KernelWeight(kind, float(k - f));
      EXPECT_NEAR(sum, 1.0, 1e-6) << kind << " " << f;
    }
}

TEST(InterpolationKernels, TablesHoldTheKernelAtHundredthsOfAPixel) {
  const TKernelTable& t = KernelTables();
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    EXPECT_EQ(t[size_t(kind)][800], KernelWeight(kind, 0.0f));
    EXPECT_EQ(t[size_t(kind)][850], KernelWeight(kind, 0.5f));
    EXPECT_EQ(t[size_t(kind)][675], KernelWeight(kind, -1.25f));
    EXPECT_EQ(t[size_t(kind)][0], 0.0f);     // -8.00
    EXPECT_EQ(t[size_t(kind)][1601], 0.0f);  // +8.01
  }
}

TEST(InterpolationKernels, TapWindows) {
  const TKernelWindow saved = KernelWindow;
  const int lo[] = {0, -1, -1, -7, -2}, hi[] = {1, 2, 2, 8, 3};
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    SetKernelWindow(kind);
    EXPECT_EQ(KernelWindow.Lo, lo[kind]);
    EXPECT_EQ(KernelWindow.Hi, hi[kind]);
    EXPECT_EQ(KernelTapBound(kind), hi[kind]);
  }
  KernelWindow = saved;
}

}  // namespace
}  // namespace astrelon
