// Combining a second image through the point-pair transform, and the
// resamplers that use the same transform.
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "../pixelops/slot_images.h"
#include "kernels/network/neural_tables.h"
#include "kernels/network/neuro_interpolation.h"
#include "kernels/sampling/align_to_reference.h"
#include "kernels/sampling/shift_image.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "mid_run_commands.h"
#include "platform/processor_features.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/combination/combine_shifted_image.h"
#include "store/display/display_record.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr TFloatPoint P0{0, 0};

class TwoImageCombinationTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    kind_ = Settings.InterpolationKind;
    BuildTanhTable();  // the "Neuro" kind's network needs its activation table, built at start-up
  }
  void TearDown() override {
    Settings.InterpolationKind = kind_;
    BatchWeightedAdd = 0;
    BatchCoverageWeights.clear();
    BatchAddedCount = 0;
    BatchFrameWeight = 1;
    StoreTest::TearDown();
  }
  // A w x h plane of pseudo-random values in 0..100.
  static std::vector<float> Noise(int w, int h, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(0, 100);
    std::vector<float> v(size_t(w) * size_t(h));
    for (float& x : v) x = d(gen);
    return v;
  }
  // The h x w plane `b` turned into `out` by numpy statements.
  static std::vector<float> Numpy(const std::vector<float>& b, int w, int h, const std::string& statements) {
    TempDir dir;
    WriteFloats(dir.file("b.f32"), b);
    EXPECT_TRUE(RunPython("import numpy as np\nb = np.fromfile('" + dir.file("b.f32") + "', dtype='<f4').reshape(" +
                          std::to_string(h) + ", " + std::to_string(w) + ")\n" + statements +
                          "\nout.astype('<f4').tofile('" + dir.file("out.f32") + "')\n"));
    return ReadFloats(dir.file("out.f32"));
  }
  static std::vector<float> Filled(int w, int h, float value) { return std::vector<float>(size_t(w * h), value); }
  // One-pair combination of slot 2 into slot 1 (its own target).
  static void Combine(int count, TFloatPoint a1, TFloatPoint b1, TCombineOp op) {
    CombineShiftedImage(1, 2, 1, count, a1, P0, b1, P0, op);
  }

private:
  int32_t kind_ = 2;
};

TEST_F(TwoImageCombinationTest, TransformFromPointPairs) {
  const TPointPairTransform rot = PointPairTransform(2, {0, 0}, {100, 0}, {10, 5}, {10, 105});
  EXPECT_NEAR(rot.A, 0, 1e-12);
  EXPECT_NEAR(rot.B, 1, 1e-12);
  EXPECT_NEAR(rot.Tx, 10, 1e-9);
  EXPECT_NEAR(rot.Ty, 5, 1e-9);
  EXPECT_FALSE(rot.WholePixel);
  double x, y;
  rot.Map(100, 0, x, y);  // A2 lands on B2
  EXPECT_NEAR(x, 10, 1e-9);
  EXPECT_NEAR(y, 105, 1e-9);

  struct Case {
    int count;
    TFloatPoint a1, a2, b1, b2;
    double tx, ty;
    bool whole;
  };
  const Case cases[] = {
      {0, {5, 5}, {9, 9}, {8, 7}, {1, 1}, 0, 0, true},          // no pair: identity
      {1, {5, 5}, {}, {8, 7}, {}, 3, 2, true},                  // whole pixels
      {1, {5, 5}, {}, {8.4f, 7}, {}, 3.4, 2, false},            // fraction
      {1, {5, 5}, {}, {2, 5}, {}, -3, 0, false},                // a negative whole shift
                                                                // interpolates
      {2, {5, 5}, {5.5f, 5}, {8, 7}, {20, 20}, 3, 2, true},     // A pair closer than a pixel: the shift
      {2, {5, 5}, {50, 50}, {8, 7}, {8.2f, 7.3f}, 3, 2, true},  // B pair collapsed: the shift
  };
  for (const Case& c : cases) {
    const TPointPairTransform t = PointPairTransform(c.count, c.a1, c.a2, c.b1, c.b2);
    EXPECT_EQ(t.A, 1);
    EXPECT_EQ(t.B, 0);
    EXPECT_NEAR(t.Tx, c.tx, 1e-5) << c.count;
    EXPECT_NEAR(t.Ty, c.ty, 1e-5) << c.count;
    EXPECT_EQ(t.WholePixel, c.whole) << c.tx;
  }

  // More pairs take the batch's fitted transform less its reference offset.
  BatchFittedTransform = {.Tx = 7, .Ty = 9, .A = 0.5, .B = 0.25, .Ox = 2, .Oy = 3};
  const TPointPairTransform fit = PointPairTransform(3, {}, {}, {}, {});
  EXPECT_EQ(fit.Tx, 5);
  EXPECT_EQ(fit.Ty, 6);
  EXPECT_EQ(fit.A, 0.5);
  EXPECT_EQ(fit.B, 0.25);
  BatchFittedTransform = {};
}

TEST_F(TwoImageCombinationTest, AddingAnImageToItselfDoublesValidPixels) {
  std::vector<float> g = Noise(7, 6, 1);
  g[10] = BlankPixel;
  PutImage(1, 7, 6, {g});
  PutImage(2, 7, 6, {g});
  Combine(0, P0, P0, TCombineOp::Add);
  const std::vector<float> r = Plane(1, 1);
  for (size_t i = 0; i < g.size(); ++i) EXPECT_EQ(r[i], i == 10 ? BlankPixel : 2 * g[i]) << i;
}

TEST_F(TwoImageCombinationTest, BlankPixelsTakeTheOtherImagesLevel) {
  // A is 7 almost everywhere (its 30 % level), B is 2 (its level).
  std::vector<float> a = Filled(4, 3, 7), b = Filled(4, 3, 2);
  a[1] = a[3] = BlankPixel;  // pixel 1: only A blank; 3: both
  b[2] = b[3] = BlankPixel;  // pixel 2: only B blank
  a[2] = 9;
  b[1] = 1;
  struct Case {
    TCombineOp op;
    float onlyA, onlyB, both;
  };
  const Case cases[] = {
      {TCombineOp::Subtract, 7 - 1, 9 - 2, BlankPixel},
      {TCombineOp::Add, 7 + 1, 9 + 2, BlankPixel},
      {TCombineOp::Minimum, 1, 9, BlankPixel},
      {TCombineOp::Maximum, 1, 9, BlankPixel},
  };
  for (const Case& c : cases) {
    PutImage(1, 4, 3, {a});
    PutImage(2, 4, 3, {b});
    Combine(0, P0, P0, c.op);
    const std::vector<float> r = Plane(1, 1);
    EXPECT_NEAR(r[1], c.onlyA, 1e-3) << int(c.op);
    EXPECT_NEAR(r[2], c.onlyB, 1e-3) << int(c.op);
    EXPECT_EQ(r[3], c.both) << int(c.op);
  }
  // The levels of a colour A are taken plane by plane, also with a grey B:
  // green's blank pixel gets green's level.
  PutImage(1, 4, 3, {Filled(4, 3, 7), a, Filled(4, 3, 50)});
  PutImage(2, 4, 3, {b});
  Combine(0, P0, P0, TCombineOp::Subtract);
  EXPECT_NEAR(Plane(1, 2)[1], 7 - 1, 1e-3);
}

TEST_F(TwoImageCombinationTest, OnePairShiftCopiesOrInterpolates) {
  const int w = 12, h = 9;
  std::vector<float> ramp(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ramp[size_t(y * w + x)] = float(2 * x + 3 * y);
  const std::vector<float> noise = Noise(w, h, 2);
  // The maximum with an all-blank A leaves the samples of B.
  auto sampled = [&](const std::vector<float>& b, float dx, float dy) {
    PutImage(1, w, h, {Filled(w, h, BlankPixel)});
    PutImage(2, w, h, {b});
    Combine(1, {1, 1}, {1 + dx, 1 + dy}, TCombineOp::Maximum);
    return Plane(1, 1);
  };
  Settings.InterpolationKind = IkBicubic;
  std::vector<float> r = sampled(noise, 3, 2);
  // The same shift as a numpy slice, blank where nothing comes in.
  EXPECT_EQ(r, Numpy(noise, w, h, "out = np.full_like(b, -1e11)\nout[:-2, :-3] = b[2:, 3:]"));
  // A fraction interpolates: linear sampling of a ramp is exact.
  Settings.InterpolationKind = IkLinear;
  r = sampled(ramp, 3.4f, 2);
  for (int y = 0; y + 2 < h; ++y)
    for (int x = 0; x + 4 < w; ++x) EXPECT_NEAR(r[size_t(y * w + x)], 2 * (x + 3.4) + 3 * (y + 2), 1e-4);
  EXPECT_EQ(r[size_t(w - 3)], BlankPixel);  // x' = 11.4 > width - 0.9
}

TEST_F(TwoImageCombinationTest, ASecondImageThatIsTheTargetIsReadBeforeItChanges) {
  const int w = 9, h = 5;
  const std::vector<float> g = Noise(w, h, 19);
  PutImage(1, w, h, {g});
  Settings.InterpolationKind = IkBicubic;
  CombineShiftedImage(1, 1, 1, 1, {1, 0}, P0, {0, 0}, P0, TCombineOp::Add);  // samples x - 1
  const std::vector<float> r = Plane(1, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 1; x < w; ++x) EXPECT_FLOAT_EQ(r[size_t(y * w + x)], g[size_t(y * w + x)] + g[size_t(y * w + x - 1)]);
}

TEST_F(TwoImageCombinationTest, QuarterTurnAlignmentMatchesRot90) {
  const int w = 10, h = 7;
  const std::vector<float> a = Noise(w, h, 3);
  // rot90 turns column c, row r into column r, row w - 1 - c.
  PutImage(2, h, w, {Numpy(a, w, h, "out = np.rot90(b)")});
  PutImage(1, w, h, {Filled(w, h, 0)});
  auto turned = [&](TFloatPoint p) { return TFloatPoint{p.Y, float(w - 1) - p.X}; };
  const TFloatPoint a1{2, 1}, a2{8, 5};
  Settings.InterpolationKind = IkBicubic;
  AlignImageToReference(2, 1, 2, a1, a2, turned(a1), turned(a2));
  const std::vector<float> r = Plane(1, 1);
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) EXPECT_NEAR(r[size_t(y * w + x)], a[size_t(y * w + x)], 1e-4) << x << "," << y;
}

TEST_F(TwoImageCombinationTest, ShiftImageMatchesOnePairAlignment) {
  const int w = 16, h = 8;
  const std::vector<float> g = Noise(w, h, 4);
  Settings.InterpolationKind = IkBicubic;
  PutImage(1, w, h, {g});
  ShiftImage(1, 2.4, 0);
  PutImage(2, w, h, {g});
  PutImage(3, w, h, {Filled(w, h, 0)});
  AlignImageToReference(2, 3, 1, {0, 0}, P0, {2.4f, 0}, P0);
  const std::vector<float> shifted = Plane(1, 1), aligned = Plane(3, 1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x + 3 < w; ++x) EXPECT_NEAR(shifted[size_t(y * w + x)], aligned[size_t(y * w + x)], 1e-3);
    EXPECT_EQ(shifted[size_t(y * w + w - 1)],
              BlankPixel);  // 15 + 2.4 lies outside
  }
  // Both offsets: a whole shift moves the pixels, the uncovered ones blank.
  PutImage(1, w, h, {g});
  ShiftImage(1, -1, 2);
  const std::vector<float> moved = Plane(1, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inside = x >= 1 && y + 2 < h;
      EXPECT_NEAR(moved[size_t(y * w + x)], inside ? g[size_t((y + 2) * w + x - 1)] : BlankPixel, 1e-3);
    }
}

TEST_F(TwoImageCombinationTest, ColourAndPlaneAlignment) {
  const int w = 6, h = 5;
  const std::vector<float> g = Noise(w, h, 5);
  PutImage(2, w, h, {g});
  PutImage(1, w, h, {Filled(w, h, 0), Filled(w, h, 0), Filled(w, h, 0)});
  AlignImageToReference(2, 1, 1, {0, 0}, P0, {1, 0},
                        P0);  // grey into all three planes
  for (int p = 1; p <= 3; ++p) {
    const std::vector<float> r = Plane(1, p);
    EXPECT_EQ(r[0], g[1]);
    EXPECT_EQ(r[size_t(w - 1)], BlankPixel);
  }
  PutImage(3, w, h, {Noise(w, h, 6), Noise(w, h, 7), Noise(w, h, 8)});
  AlignImageToReference(3, 1, 1, {0, 0}, P0, {0, 1},
                        P0);  // colour plane by plane
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Plane(1, p)[0], Plane(3, p)[size_t(w)]);
  AlignColourPlane(3, 3, 1, 2, 0, P0, P0, P0, P0);  // blue into green, no shift
  EXPECT_EQ(Plane(1, 2), Plane(3, 3));
  EXPECT_EQ(Plane(1, 1)[0], Plane(3, 1)[size_t(w)]);  // the other planes stay
}

TEST_F(TwoImageCombinationTest, SamplesAreTheSamplersValues) {
  // A blank A under the maximum leaves B's samples; B has blank pixels. One
  // pair samples normalised values, two pairs weighted sums over their weight.
  const int w = 20, h = 16;
  std::vector<float> r = Noise(w, h, 15), g = Noise(w, h, 16), b = Noise(w, h, 17);
  r[5 * w + 7] = g[5 * w + 8] = b[9 * w + 9] = BlankPixel;
  PutImage(2, w, h, {r, g, b});
  struct Case {
    int count;
    TFloatPoint a1, a2, b1, b2;
  };
  const Case cases[] = {{2, {4, 3}, {15, 12}, {5.3f, 2.1f}, {15.1f, 13.9f}},
                        {1, {4, 3}, {}, {7.4f, 5}, {}},
                        {1, {4, 3}, {}, {1.4f, 4.3f}, {}}};
  const bool saved = Sse2Enabled;
  for (const Case& c : cases)
    for (int kind : {int(IkBicubic), int(IkLanczos3), int(IkLinear), int(IkDSinc), int(IkNeuro), -int(IkBicubic)}) {
      // The vector sums (a negative kind here) give the scalar values.
      Sse2Enabled = kind < 0;
      kind = std::abs(kind);
      Settings.InterpolationKind = kind;
      PutImage(1, w, h, {Filled(w, h, BlankPixel), Filled(w, h, BlankPixel), Filled(w, h, BlankPixel)});
      CombineShiftedImage(1, 2, 1, c.count, c.a1, c.a2, c.b1, c.b2, TCombineOp::Maximum);
      SetKernelWindow(kind);
      const TPointPairTransform t = PointPairTransform(c.count, c.a1, c.a2, c.b1, c.b2);
      for (int p = 1; p <= 3; ++p) {
        const std::vector<float> got = Plane(1, p);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            double xs, ys;
            t.Map(x, y, xs, ys);
            float want = BlankPixel, weight = 0;
            if (xs >= 0 && ys >= 0 && xs < w - 0.9 && ys < h - 0.9) {
              if (c.count == 1) {
                want = InterpolatePixel(2, p, float(xs), float(ys));
              } else {
                const float v = InterpolatePixelBuffered(2, p, weight, float(xs), float(ys));
                if (v > BlankLimit) want = v / weight;
              }
            }
            EXPECT_NEAR(got[size_t(y * w + x)], want, 1e-3)
                << c.count << " " << kind << " " << p << " " << x << "," << y;
          }
      }
    }
  Sse2Enabled = saved;
}

// The "Neuro" kind: a one-pair shift samples B as the fixed network does at
// the same positions (its 4 x 4 neighbourhood, blank outside B, and the
// fractions); a blank neighbour takes part as a blank.
TEST_F(TwoImageCombinationTest, NeuroKindSamplesAsTheFixedNetwork) {
  BuildTanhTable();
  const int w = 24, h = 18;
  // Two stars on a sloping background with noise.
  std::vector<float> b = Noise(w, h, 31);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float& v = b[size_t(y * w + x)];
      v = 0.2f * v + 50 + 3.0f * float(x) - 2.0f * float(y);
      for (const auto& [cx, cy] : {std::pair{7.3, 6.8}, std::pair{16.6, 11.2}})
        v += float(900 * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 3.0));
    }
  b[size_t(9 * w + 10)] = BlankPixel;
  PutImage(2, w, h, {b});
  Settings.InterpolationKind = IkNeuro;
  for (const TFloatPoint shift : {TFloatPoint{2.25f, 1.625f}, TFloatPoint{-0.75f, 0.5f}}) {
    PutImage(1, w, h, {Filled(w, h, BlankPixel)});
    Combine(1, {4, 4}, {4 + shift.X, 4 + shift.Y}, TCombineOp::Maximum);
    const std::vector<float> r = Plane(1, 1);
    int sampled = 0, corrected = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double xs = x + double(shift.X), ys = y + double(shift.Y);
        float want = BlankPixel;
        if (xs >= 0 && ys >= 0 && xs < w - 0.9 && ys < h - 0.9) {
          const int ix = int(xs), iy = int(ys);
          std::array<float, NeuroInputCount> p;
          for (int j = 0; j < 4; ++j)
            for (int t = 0; t < 4; ++t) {
              const int px = ix - 1 + t, py = iy - 1 + j;
              p[size_t(j * 4 + t)] = px >= 0 && py >= 0 && px < w && py < h ? b[size_t(py * w + px)] : BlankPixel;
            }
          p[16] = float(xs - ix);
          p[17] = float(ys - iy);
          want = InterpolateNeuro(p);
          ++sampled;
          // The network's correction is at work: not the bilinear value.
          const float fx = p[16], fy = p[17];
          const float bilinear = (1 - fy) * ((1 - fx) * p[5] + fx * p[6]) + fy * ((1 - fx) * p[9] + fx * p[10]);
          corrected += std::fabs(want - bilinear) > 0.01f;
        }
        ASSERT_EQ(r[size_t(y * w + x)], want) << shift.X << " " << x << "," << y;
      }
    EXPECT_GT(sampled, w * h / 2);
    EXPECT_GT(corrected, sampled / 2);
  }
}

TEST_F(TwoImageCombinationTest, MoreThanTwoPairsAddTheShiftField) {
  const int w = 12, h = 8;
  const std::vector<float> g = Noise(w, h, 18);
  PutImage(2, w, h, {g});
  PutImage(1, w, h, {Filled(w, h, BlankPixel)});
  // The fit shifts by (1, 0); the field adds 1 row everywhere.
  BatchFittedTransform = {.Tx = 3, .Ty = 0, .A = 1, .B = 0, .Ox = 2, .Oy = 0};
  BatchShiftGrid.NodesPerRow = w / 4 + 1;
  BatchShiftGrid.Nodes.clear();
  for (int n = 0; n < BatchShiftGrid.NodesPerRow * (h / 4 + 1); ++n)
    BatchShiftGrid.Nodes.insert(BatchShiftGrid.Nodes.end(), {0, 1});
  Settings.InterpolationKind = IkBicubic;
  CombineShiftedImage(1, 2, 1, 3, P0, P0, P0, P0, TCombineOp::Maximum);
  const std::vector<float> r = Plane(1, 1);
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) EXPECT_NEAR(r[size_t(y * w + x)], g[size_t((y + 1) * w + x + 1)], 1e-4);
  EXPECT_EQ(r[size_t(w - 1)], BlankPixel);
  BatchFittedTransform = {};
  BatchShiftGrid = {};
}

TEST_F(TwoImageCombinationTest, WholePixelVectorPathMatchesTheScalarBitForBit) {
  const int w = 23, h = 6;
  std::vector<float> a = Noise(w, h, 20), b = Noise(w, h, 21);
  for (size_t i = 0; i < a.size(); i += 5) a[i] = BlankPixel;
  for (size_t i = 1; i < b.size(); i += 7) b[i] = BlankPixel;
  a[3] = b[30] = std::nanf("");
  const bool saved = Sse2Enabled;
  for (TCombineOp op : {TCombineOp::Add, TCombineOp::Subtract, TCombineOp::Minimum, TCombineOp::Maximum}) {
    std::vector<std::vector<float>> results;
    for (bool vector : {false, true}) {
      Sse2Enabled = vector;
      PutImage(1, w, h, {a});
      PutImage(2, w, h, {b});
      Combine(1, {0, 0}, {2, 1}, op);
      results.push_back(Plane(1, 1));
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(float)), 0) << int(op);
  }
  Sse2Enabled = saved;
}

TEST_F(TwoImageCombinationTest, WorkerCountDoesNotChangeTheResult) {
  const int w = 64, h = 80;
  PutImage(2, w, h, {Noise(w, h, 9), Noise(w, h, 10), Noise(w, h, 11)});
  Settings.InterpolationKind = IkBicubic;
  std::vector<std::vector<float>> results;
  for (int n : {1, 4, 8}) {
    PutImage(1, w, h, {Noise(w, h, 12), Noise(w, h, 13), Noise(w, h, 14)});
    const TCombineParams p =
        PrepareCombineParams(1, 2, 1, 2, {10, 10}, {50, 60}, {12, 9}, {51.3f, 60.8f}, TCombineOp::Add);
    RunCombineWorkers(p, n);
    std::vector<float> all;
    for (int q = 1; q <= 3; ++q) {
      const std::vector<float> v = Plane(1, q);
      all.insert(all.end(), v.begin(), v.end());
    }
    results.push_back(all);
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);

  const MulticoreGuard on(true);
  EXPECT_EQ(CombineWorkerCount(50), 1);
  EXPECT_EQ(CombineWorkerCount(51), int(std::max(1u, std::thread::hardware_concurrency())));
  const MulticoreGuard off(false);
  EXPECT_EQ(CombineWorkerCount(4000), 1);
}

// Commands issued while the workers combine (the window events of a guarded
// run) leave both images alone.
TEST_F(TwoImageCombinationTest, CommandsIssuedWhileTheWorkersRunLeaveBothImagesAlone) {
  const int w = 64, h = 80;
  // The parameters are measured before the workers start (on bands of their own).
  const auto prepare = [&] {
    PutImage(1, w, h, {Noise(w, h, 12), Noise(w, h, 13), Noise(w, h, 14)});
    PutImage(2, w, h, {Noise(w, h, 9), Noise(w, h, 10), Noise(w, h, 11)});
    return PrepareCombineParams(1, 2, 1, 2, {10, 10}, {50, 60}, {12, 9}, {51.3f, 60.8f}, TCombineOp::Add);
  };
  RunCombineWorkers(prepare(), 4);
  const SlotState target(1), second(2);
  {
    const TCombineParams params = prepare();
    GatedWorkers gate;
    MidRunCommand ui([] { TryToChangeSlots({1, 2}); });
    SetEngineUi(&ui);
    RunCombineWorkers(params, 4);
    SetEngineUi(nullptr);
    EXPECT_TRUE(ui.Issued());
  }
  EXPECT_TRUE(SlotState(1) == target);
  EXPECT_TRUE(SlotState(2) == second);
  EXPECT_FALSE(OperationRunning);
}

TEST_F(TwoImageCombinationTest, WeightedAddKeepsTheCoverageWeightedMean) {
  const int w = 5, h = 4;
  // The first frame is the target; its coverage is 1 everywhere.
  PutImage(1, w, h, {Filled(w, h, 10)});
  BatchWeightedAdd = 1;
  BatchCoverageWeights.assign(size_t(w * h), 1.0f);
  BatchAddedCount = 1;
  for (float frame : {20.0f, 30.0f}) {
    PutImage(2, w, h, {Filled(w, h, frame)});
    Combine(1, {0, 0}, {1, 0},
            TCombineOp::Add);  // the last column falls outside
    ++BatchAddedCount;
  }
  const std::vector<float> r = Plane(1, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y * w + x);
      if (x + 1 < w) {
        EXPECT_FLOAT_EQ(r[i], 60) << x;
        EXPECT_FLOAT_EQ(BatchCoverageWeights[i], 3);
      } else {
        EXPECT_FLOAT_EQ(r[i], 30);  // three times the only frame there
        EXPECT_FLOAT_EQ(BatchCoverageWeights[i], 1);
      }
    }
  // Weights that do not cover the target turn the mode off.
  BatchCoverageWeights.resize(3);
  PutImage(2, w, h, {Filled(w, h, 1)});
  Combine(0, P0, P0, TCombineOp::Add);
  EXPECT_EQ(BatchWeightedAdd.load(), 0);
}

TEST_F(TwoImageCombinationTest, AFrameWeightScalesItsShareOfTheWeightedAdd) {
  const int w = 4, h = 3;
  PutImage(1, w, h, {Filled(w, h, 10)});
  BatchWeightedAdd = 1;
  BatchCoverageWeights.assign(size_t(w * h), 1.0f);
  BatchAddedCount = 1;
  // 20 at half weight, then 40 at full: (10 + 0.5 * 20 + 40) / 2.5 = 24, held
  // three times.
  const std::pair<float, float> frames[] = {{20.0f, 0.5f}, {40.0f, 1.0f}};
  for (const auto& [value, weight] : frames) {
    PutImage(2, w, h, {Filled(w, h, value)});
    BatchFrameWeight = weight;
    Combine(0, P0, P0, TCombineOp::Add);
    ++BatchAddedCount;
  }
  for (const float v : Plane(1, 1)) EXPECT_NEAR(v, 72.0f, 1e-4f);
  for (const float c : BatchCoverageWeights) EXPECT_FLOAT_EQ(c, 2.5f);
}

}  // namespace
}  // namespace astrelon::test
