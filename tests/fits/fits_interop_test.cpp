// Round trips through independent FITS implementations: what we write is read by
// cfitsio and astropy with the same values, and what they write is read by us
// with the same values.
#include <cmath>
#include <cstdlib>

#include <fitsio.h>

#include "core/settings.h"
#include "fits_test_util.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::TCfitsImage;

// A test pattern with negative, fractional and large values; blanks where asked.
float Pattern(int p, int x, int y, bool blanks) {
  if (blanks && (x + 2 * y + p) % 7 == 0) return (x + y) % 2 ? BlankPixel : NAN;
  return float(p * 1000) - 700.25f + float(x) * 13.5f - float(y * y) * 0.75f;
}

class FitsInteropTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    Options.FitsFlip = 1;
  }
  test::TempDir dir_;
  test::TRecordingUi ui_;
};

// Tolerance of the integer formats: half a raw step, and the float rounding of the result.
float Tolerance(const TFitsScalePlan& plan, float v) {
  return plan.Bitpix == -32 ? 0.0f : float(plan.Bscale) * 0.5001f + std::fabs(v) * 1.2e-7f;
}

TEST_F(FitsInteropTest, CfitsioReadsOurFilesWithTheSameValues) {
  for (int bitpix : {16, 32, -32}) {
    for (int planes : {1, 3}) {
      for (bool blanks : {false, true}) {
        SCOPED_TRACE(testing::Message() << "BITPIX " << bitpix << " planes " << planes << " blanks " << blanks);
        const int w = 23, h = 17;
        test::PutImage(1, w, h, planes, [&](int p, int x, int y) { return Pattern(p, x, y, blanks); });
        const std::string file = dir_.file("ours.fit");
        ASSERT_TRUE(SaveFits(1, bitpix, file, true, false));
        const TFitsScalePlan plan =
            PlanFitsScaling(bitpix, Store.Image[1].MinValue, Store.Image[1].MaxValue, blanks);
        const TCfitsImage cf = test::ReadWithCfitsio(file);
        ASSERT_EQ(cf.Error, "");
        EXPECT_EQ(cf.Bitpix, bitpix);
        EXPECT_EQ(cf.Width, w);
        EXPECT_EQ(cf.Height, h);
        ASSERT_EQ(cf.Planes, planes);
        for (int p = 1; p <= planes; ++p) {
          for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
              const float v = Pattern(p, x, y, blanks);
              const float c = cf.Data[size_t(p - 1)][size_t(y * w + x)];
              if (IsValidPixel(v))
                ASSERT_NEAR(c, v, Tolerance(plan, v)) << x << "," << y;
              else if (bitpix == -32)
                ASSERT_EQ(c, plan.BlankFloat);  // the float blank is the program's own card
              else
                ASSERT_TRUE(std::isnan(c)) << c;  // BLANK holds the raw code
            }
          }
        }
      }
    }
  }
}

TEST_F(FitsInteropTest, FlatImageIsReadByCfitsio) {
  test::PutImage(1, 5, 4, 1, [](int, int, int) { return 1234.5f; });
  const std::string file = dir_.file("flat.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  const TCfitsImage cf = test::ReadWithCfitsio(file);
  ASSERT_EQ(cf.Error, "");
  for (float v : cf.Data[0]) EXPECT_EQ(v, 1234.5f);
  ASSERT_TRUE(LoadFits(2, file, false));
  for (float v : Store.Image[2].Plane(1)) EXPECT_EQ(v, 1234.5f);
}

TEST_F(FitsInteropTest, AstropyReadsOurFilesWithTheSameValues) {
  if (!test::HaveAstropy()) GTEST_SKIP() << "/usr/bin/python3 cannot import astropy";
  struct TCase {
    int bitpix, planes;
    bool blanks;
  };
  const std::vector<TCase> cases{{16, 1, false}, {16, 3, true}, {32, 1, true}, {32, 3, false}, {-32, 1, true},
                                 {-32, 3, false}};
  std::string script = "import numpy as np\nfrom astropy.io import fits\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = dir_.file("ours" + std::to_string(i));
    script += "d = fits.getdata('" + name + ".fit').astype(np.float32)\n";
    script += "d.astype('<f4').tofile('" + name + ".bin')\n";
  }
  std::vector<TFitsScalePlan> plans;
  const int w = 19, h = 11;
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    test::PutImage(1, w, h, c.planes, [&](int p, int x, int y) { return Pattern(p, x, y, c.blanks); });
    ASSERT_TRUE(SaveFits(1, c.bitpix, dir_.file("ours" + std::to_string(i) + ".fit"), true, false));
    plans.push_back(PlanFitsScaling(c.bitpix, Store.Image[1].MinValue, Store.Image[1].MaxValue, c.blanks));
  }
  ASSERT_TRUE(test::RunPython(script));
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    SCOPED_TRACE(testing::Message() << "BITPIX " << c.bitpix << " planes " << c.planes);
    const std::vector<float> a = test::ReadFloats(dir_.file("ours" + std::to_string(i) + ".bin"));
    ASSERT_EQ(a.size(), size_t(w * h * c.planes));
    for (int p = 1; p <= c.planes; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const float v = Pattern(p, x, y, c.blanks);
          const float got = a[size_t((p - 1) * w * h + y * w + x)];
          if (IsValidPixel(v))
            ASSERT_NEAR(got, v, Tolerance(plans[i], v) + std::fabs(v) * 1e-6f);
          else if (c.bitpix == -32)
            ASSERT_EQ(got, plans[i].BlankFloat);
          else
            ASSERT_TRUE(std::isnan(got));
        }
  }
}

// ---- files written by cfitsio -------------------------------------------------

struct TCfitsCase {
  int bitpix;
  int planes;
  double bscale, bzero;
  bool blank;  // integer formats: a BLANK card and null pixels
};

// Writes a w x h image with cfitsio from float values (NaN = null) and returns
// what cfitsio itself reads back.
TCfitsImage WriteWithCfitsio(const std::string& path, const TCfitsCase& c, int w, int h) {
  fitsfile* f = nullptr;
  int status = 0;
  const std::string name = "!" + path;
  fits_create_file(&f, name.c_str(), &status);
  long naxes[3] = {w, h, c.planes};
  fits_create_img(f, c.bitpix, c.planes > 1 ? 3 : 2, naxes, &status);
  if (c.bscale != 1.0 || c.bzero != 0.0) {
    double bs = c.bscale, bz = c.bzero;
    fits_write_key(f, TDOUBLE, "BSCALE", &bs, nullptr, &status);
    fits_write_key(f, TDOUBLE, "BZERO", &bz, nullptr, &status);
    fits_set_bscale(f, bs, bz, &status);
  }
  if (c.blank && c.bitpix > 0) {
    long blank = c.bitpix == 8 ? 255 : c.bitpix == 16 ? -32768 : -2147483647L - 1;
    fits_write_key(f, TLONG, "BLANK", &blank, nullptr, &status);
    fits_set_imgnull(f, blank, &status);
  }
  std::vector<float> values;
  const float sentinel = -424242.0f;
  for (int p = 0; p < c.planes; ++p)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        float v;
        if (c.bitpix == 8)
          v = float((x * 7 + y * 3 + p * 50) % 250);
        else if (c.bitpix == 16 || c.bitpix == 32)
          v = float((x * 97 - y * 211 + p * 1000) % 20000);
        else
          v = float(x) * 0.37f - float(y) * 1234.5f + float(p) * 1e5f;
        v = float(v * c.bscale + c.bzero);
        if (c.blank && (x + y) % 5 == 0) v = c.bitpix > 0 ? sentinel : NAN;
        values.push_back(v);
      }
  long first[3] = {1, 1, 1};
  if (c.blank && c.bitpix > 0) {
    float nul = sentinel;
    fits_write_pixnull(f, TFLOAT, first, long(values.size()), values.data(), &nul, &status);
  } else {
    fits_write_pix(f, TFLOAT, first, long(values.size()), values.data(), &status);
  }
  fits_close_file(f, &status);
  EXPECT_EQ(status, 0);
  return test::ReadWithCfitsio(path);
}

void ExpectSameAsReference(const TCfitsImage& ref, int slot) {
  const TImageSlot& im = Store.Image[slot];
  ASSERT_EQ(im.Width, ref.Width);
  ASSERT_EQ(im.Height, ref.Height);
  ASSERT_EQ(size_t(im.PlaneCount), ref.Planes > 1 ? size_t(3) : size_t(1));
  for (size_t p = 0; p < ref.Data.size(); ++p)
    for (size_t i = 0; i < ref.Data[p].size(); ++i) {
      const float want = ref.Data[p][i], got = im.Plane(int(p + 1))[i];
      if (std::isnan(want))
        ASSERT_FALSE(IsValidPixel(got)) << "plane " << p + 1 << " pixel " << i;
      else
        ASSERT_EQ(got, want) << "plane " << p + 1 << " pixel " << i;
    }
}

TEST_F(FitsInteropTest, WeReadCfitsioFilesWithTheSameValues) {
  const std::vector<TCfitsCase> cases{
      {8, 1, 1, 0, false},      {8, 1, 2.5, -10, true},   {16, 1, 1, 0, false},   {16, 1, 1, 32768, false},
      {16, 1, 0.25, 3.5, true}, {16, 3, 1, 0, true},      {32, 1, 1, 0, false},   {32, 1, 1, 2147483648.0, true},
      {32, 3, 1e-3, -7, true},  {-32, 1, 1, 0, false},    {-32, 3, 1, 0, true},   {-32, 1, 2, 100, false},
      {-64, 1, 1, 0, true},     {-64, 3, 0.5, 1, false},
  };
  for (const TCfitsCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "BITPIX " << c.bitpix << " planes " << c.planes << " BSCALE " << c.bscale
                                    << " BZERO " << c.bzero << " blank " << c.blank);
    const std::string file = dir_.file("cfitsio.fits");
    const TCfitsImage ref = WriteWithCfitsio(file, c, 31, 9);
    ASSERT_EQ(ref.Error, "");
    ASSERT_TRUE(LoadFits(1, file, false));
    ExpectSameAsReference(ref, 1);
  }
}

// ---- files written by astropy -------------------------------------------------

TEST_F(FitsInteropTest, WeReadAstropyFilesWithTheSameValues) {
  if (!test::HaveAstropy()) GTEST_SKIP() << "/usr/bin/python3 cannot import astropy";
  const std::vector<std::string> kinds{"uint8", "int16", "uint16", "int32", "float32", "float64",
                                       "scaled16", "blank16", "blank8", "cube3", "nan32"};
  std::string script = R"(import numpy as np
from astropy.io import fits
y, x = np.mgrid[0:13, 0:21]
base = (x * 37 - y * 101).astype(np.float64)
def save(name, data, **keys):
    fits.PrimaryHDU(data).writeto(name, overwrite=True)
    if keys:
        # Scale and blank cards are added without touching the raw data.
        with fits.open(name, mode='update', do_not_scale_image_data=True) as f:
            for k, v in keys.items():
                f[0].header[k] = v
)";
  const std::string d = dir_.path().string() + "/";
  script += "save('" + d + "uint8.fits', (x * 11 + y).astype(np.uint8))\n";
  script += "save('" + d + "int16.fits', (base * 30).astype(np.int16))\n";
  script += "save('" + d + "uint16.fits', (base * 20 + 40000).astype(np.uint16))\n";
  script += "save('" + d + "int32.fits', (base * 100000).astype(np.int32))\n";
  script += "save('" + d + "float32.fits', (base * 0.125 + 1e-3).astype(np.float32))\n";
  script += "save('" + d + "float64.fits', base * 1.0e3 + 0.1)\n";
  script += "save('" + d + "scaled16.fits', (base * 3).astype(np.int16), BSCALE=0.01, BZERO=-5.5)\n";
  script += "b = (base * 3).astype(np.int16); b[::3, ::4] = -32768\n";
  script += "save('" + d + "blank16.fits', b, BSCALE=0.5, BZERO=1000.0, BLANK=-32768)\n";
  script += "c = (x * 11 + y).astype(np.uint8); c[1::2, ::5] = 7\n";
  script += "save('" + d + "blank8.fits', c, BLANK=7)\n";
  script += "save('" + d + "cube3.fits', np.stack([base, base * 2, -base]).astype(np.float32))\n";
  script += "n = (base * 0.5).astype(np.float32); n[2::3, 1::2] = np.nan\n";
  script += "save('" + d + "nan32.fits', n)\n";
  script += "for k in " + std::string("['uint8','int16','uint16','int32','float32','float64','scaled16','blank16',"
                                      "'blank8','cube3','nan32']") +
            ":\n    fits.getdata('" + d + "' + k + '.fits').astype('<f4').tofile('" + d + "' + k + '.bin')\n";
  ASSERT_TRUE(test::RunPython(script));
  for (const std::string& k : kinds) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(LoadFits(1, d + k + ".fits", false));
    const std::vector<float> want = test::ReadFloats(d + k + ".bin");
    const TImageSlot& im = Store.Image[1];
    const int planes = k == "cube3" ? 3 : 1;
    ASSERT_EQ(im.PlaneCount, planes);
    ASSERT_EQ(want.size(), im.PixelCount() * size_t(planes));
    int blanks = 0;
    for (int p = 1; p <= planes; ++p)
      for (size_t i = 0; i < im.PixelCount(); ++i) {
        const float w = want[size_t(p - 1) * im.PixelCount() + i], got = im.Plane(p)[i];
        if (std::isnan(w)) {
          ++blanks;
          ASSERT_FALSE(IsValidPixel(got)) << i;
        } else {
          // astropy scales 16-bit data in single precision, we in double.
          ASSERT_NEAR(got, w, (1.0f + std::fabs(w)) * 1e-6f) << i;
        }
      }
    if (k.starts_with("blank") || k == "nan32") {
      EXPECT_GT(blanks, 0);
    }
  }
}

}  // namespace
}  // namespace astrelon
