// The significant part of a star cutout.
#include <gtest/gtest.h>

#include "filters/sharpening/psf/find_psf_extent.h"

namespace astrelon {
namespace {

TStarCutout Cutout(int cellSize) {
  TStarCutout c;
  c.CellSize = cellSize;
  c.PlaneCount = 2;
  c.MaxValue = 1000;
  c.MinValue = -10;
  return c;
}

TEST(PsfExtent, SearchesTheMiddleForSmallCellsAndEverythingForLarge) {
  TStarCutout c = Cutout(16);
  c.At(1, 15, 15) = 1000;
  c.At(1, 5, 15) = 500;    // left of the search area of a 16-pixel cell
  c.At(1, 9, 12) = 20;     // exactly 2 % of 1000
  c.At(2, 21, 3) = -30;    // a large magnitude in the other plane, outside the rows 8..22
  c.At(2, 20, 10) = -25;
  c.At(1, 14, 22) = BlankPixel;  // blank pixels never count
  c.At(2, 16, 22) = 19.9f;       // below 2 %
  TRectI r;
  FindPsfExtent(c, r);
  EXPECT_EQ(r.Left, 9);
  EXPECT_EQ(r.Right, 20);
  EXPECT_EQ(r.Top, 10);
  EXPECT_EQ(r.Bottom, 15);

  c.CellSize = 32;
  FindPsfExtent(c, r);
  EXPECT_EQ(r.Left, 5);
  EXPECT_EQ(r.Right, 21);
  EXPECT_EQ(r.Top, 3);
  EXPECT_EQ(r.Bottom, 15);
}

TEST(PsfExtent, EmptyCutoutKeepsTheCentre) {
  const TStarCutout c = Cutout(32);
  TRectI r;
  FindPsfExtent(c, r);
  EXPECT_EQ(r.Left, 15);
  EXPECT_EQ(r.Right, 15);
  EXPECT_EQ(r.Top, 15);
  EXPECT_EQ(r.Bottom, 15);
}

}  // namespace
}  // namespace astrelon
