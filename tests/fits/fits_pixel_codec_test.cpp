// The pixel codecs: fast paths and their per-sample or scalar twins agree to the
// bit, and the raw codes round halves to even.
#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/pascal_format.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/fits/fits_pixel_encoder.h"
#include "store/image_slot.h"

namespace astrelon {
namespace {

// The row decoder's fast paths give what the per-sample path gives.
TEST(FitsPixelDecoder, RowsEqualSamples) {
  std::mt19937 rng(7);
  std::vector<uint8_t> raw(8 * 4096);
  for (uint8_t& b : raw) b = uint8_t(rng());
  // Some float bit patterns around the limits.
  size_t at = 0;
  for (float f : {1e17f, std::nextafter(1e17f, 1e30f), -1e11f, std::nextafter(-1e11f, -1e30f), NAN, -INFINITY,
                  INFINITY, 3e38f}) {
    for (int i = 0; i < 4; ++i) raw[at + size_t(i)] = uint8_t(std::bit_cast<uint32_t>(f) >> (24 - 8 * i));
    at += 4;
  }
  const std::vector<TFitsScaling> scalings{
      {}, {10.0, 0.5, TFitsBlankRule::None, 0}, {0, 1, TFitsBlankRule::RawEquals, 17}, {3, 2, TFitsBlankRule::Physical, 37}};
  for (int bitpix : {8, 16, 32, -32, -64}) {
    for (const TFitsScaling& s : scalings) {
      const TFitsDecoder dec(bitpix, s);
      // A length that is no multiple of the vector and unrolled widths.
      const size_t step = size_t(std::abs(bitpix) / 8), n = raw.size() / step - 3;
      for (bool vector : {false, true}) {
        std::vector<float> row(n);
        dec.DecodeRow(raw.data(), n, row.data(), vector);
        for (size_t i = 0; i < n; ++i) {
          const float one = dec.DecodeSample(raw.data() + i * step);
          ASSERT_EQ(std::bit_cast<uint32_t>(row[i]), std::bit_cast<uint32_t>(one)) << bitpix << " " << i;
        }
      }
    }
  }
}

TEST(FitsPixelEncoder, VectorPathEqualsScalarPath) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-70000.0f, 70000.0f);
  std::vector<float> row(1027);
  for (float& v : row) v = value(rng);
  const float specials[] = {NAN, INFINITY, -INFINITY, BlankPixel, -1e9f, std::nextafter(-1e9f, 0.0f), 1e18f, 0.5f,
                            1.5f, 2.5f, -0.5f, 3e38f};
  for (size_t i = 0; i < std::size(specials); ++i) row[i * 37] = specials[i];
  const std::vector<TFitsEncoding> encodings{{16, 0.0, 1.0, uint32_t(-32768)},
                                             {16, 1234.5, 1 / 1.7, uint32_t(-32764)},
                                             {32, -5.0, 1000.0, uint32_t(-2147483647 - 1)},
                                             {-32, 0.0, 1.0, std::bit_cast<uint32_t>(-3.0f)}};
  for (const TFitsEncoding& e : encodings) {
    const size_t bytes = row.size() * (e.Bitpix == 16 ? 2 : 4);
    std::vector<uint8_t> scalar(bytes), vector(bytes);
    EncodeFitsRow(row, e, scalar.data(), false);
    EncodeFitsRow(row, e, vector.data(), true);
    EXPECT_EQ(scalar, vector) << e.Bitpix;
  }
}

TEST(FitsPixelEncoder, RawCodesRoundHalvesToEvenWithinRange) {
  const TFitsEncoding e{16, 0.0, 1.0, 0};
  for (double v : {0.5, 1.5, 2.5, -0.5, -1.5, 1234.4999, -32767.5, 1e6, -1e6})
    EXPECT_EQ(FitsRawCode(v, e), std::clamp<int64_t>(Round(v), -32768, 32767)) << v;
  const TFitsEncoding e32{32, 10.0, 0.5, 0};
  EXPECT_EQ(FitsRawCode(15.0, e32), 2);  // 2.5 -> 2
  EXPECT_EQ(FitsRawCode(1e30, e32), 2147483647);
  // A blank pixel (and NaN) is written as the blank code.
  std::vector<uint8_t> out(4);
  const float row[2] = {NAN, 3.0f};
  EncodeFitsRow(row, TFitsEncoding{16, 0.0, 1.0, uint32_t(-32768)}, out.data(), false);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x03}));
}

TEST(FitsPixelEncoder, PlaneScanVectorEqualsScalar) {
  std::vector<float> plane(1031);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = float(i % 97) * 3.5f - 100.0f;
  const auto same = [](const TPlaneScan& a, const TPlaneScan& b) {
    return a.Min == b.Min && a.Max == b.Max && a.HasBlank == b.HasBlank;
  };
  TPlaneScan s = ScanPlaneForSave(plane, false);
  EXPECT_TRUE(same(s, ScanPlaneForSave(plane, true)));
  EXPECT_EQ(s.Min, -100.0f);
  EXPECT_EQ(s.Max, 96 * 3.5f - 100.0f);
  EXPECT_FALSE(s.HasBlank);
  plane[5] = NAN;       // blank in the vector part
  plane[1030] = 3e20f;  // above 1e18 in the scalar tail
  s = ScanPlaneForSave(plane, false);
  EXPECT_TRUE(same(s, ScanPlaneForSave(plane, true)));
  EXPECT_TRUE(s.HasBlank);
  EXPECT_EQ(s.Max, 1e18f);
  std::vector<float> blanks(9, BlankPixel);
  s = ScanPlaneForSave(blanks, true);
  EXPECT_TRUE(same(s, ScanPlaneForSave(blanks, false)));
  EXPECT_GE(s.Min, 1e18f);
}

}  // namespace
}  // namespace astrelon
