// A RAW file's camera names, written into "INSTRUME" by the loader, find the
// camera's row, and its colours take the profile.
#include <gtest/gtest.h>

#include "colour_images.h"
#include "dng_writer.h"
#include "pixelops/colour/camera_profile.h"
#include "store/raw/camera_raw.h"

namespace astrelon::test {
namespace {

using RawCamera = ColourTest;

TEST_F(RawCamera, LoadedCameraNameFindsItsRowAndTakesTheProfile) {
  TempDir dir;
  TDngLayout dng;
  dng.Width = 32;
  dng.Height = 24;
  dng.Cfa = MakeTestMosaic(dng.Width, dng.Height, 1100, 9000, 3);
  dng.BlackLevel = 1024;
  dng.WhiteLevel = 16383;
  dng.Make = "Canon";
  dng.Model = "EOS 5D Mark II";
  const std::string file = dir.file("canon.dng");
  ASSERT_TRUE(WriteDng(file, dng));

  ASSERT_TRUE(LoadCameraRaw(1, file, true, false, false));
  const std::string camera = GetHeaderValue(1, "INSTRUME", false);
  EXPECT_EQ(camera, "Canon EOS 5D Mark II");
  ASSERT_TRUE(LookupCameraMatrix(camera));
  const camvalue* row = nullptr;
  for (const camvalue& r : CameraMatrixTable())
    if (r.name == "Canon EOS 5D Mark II") row = &r;
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(CameraProfileMatrix, CameraProfileOf(*row));

  ASSERT_TRUE(ApplyCameraProfile(1, true));
  EXPECT_TRUE(EngineUi().Messages.empty());
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  EXPECT_GT(Store.Image[1].MaxValue, Store.Image[1].MinValue);
}

}  // namespace
}  // namespace astrelon::test
