// The IT8 reference chart drawn from a CGATS file, and the capture-time lines
// of RAW files.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "../pixelops/sampling_fixture.h"
#include "../pixelops/slot_images.h"
#include "pixelops/colour/it8_chart.h"
#include "pixelops/pixels/raw_time_stamps.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class ColourChart : public StoreTest {};

// A data line in the file's fixed columns.
std::string DataLine(const std::string& name, double x, double y, double z) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-11s%6.2f  %6.2f  %6.2f", name.c_str(), x, y, z);
  return buf;
}

std::string ChartFile(const TempDir& dir, const std::string& body) {
  const std::string path = dir.file("chart.txt");
  WriteText(path, body);
  return path;
}

float At(int p, int x, int y) { return Store.Image[1].Planes[size_t(p)][size_t(y * It8ChartWidth + x)]; }

TEST_F(ColourChart, WhitePatchesFillTheirBlocksAndNothingElse) {
  TempDir dir;
  struct Case {
    int illuminant;
    double x, y, z;
  };
  for (const Case c : {Case{65, 95.047, 100, 108.883}, Case{50, 96.422, 100, 82.521}}) {
    SCOPED_TRACE(c.illuminant);
    Store.Reset();
    const std::string file = ChartFile(dir, "IT8.7/2\nORIGINATOR \"x\"\nBEGIN_DATA\n" + DataLine("A1", c.x, c.y, c.z) +
                                                "\n" + DataLine("GS0", c.x, c.y, c.z) + "\nEND_DATA\n" +
                                                DataLine("B1", c.x, c.y, c.z) + "\n");
    ASSERT_EQ(ImportIt8Chart(1, file, c.illuminant), TIt8Import::Done);
    EXPECT_EQ(Store.Image[1].Width, 1040);
    EXPECT_EQ(Store.Image[1].Height, 700);
    EXPECT_EQ(Store.FileName[1], dir.file("chart.fit"));
    int filled = 0;
    for (int y = 0; y < It8ChartHeight; ++y)
      for (int x = 0; x < It8ChartWidth; ++x) {
        const bool a1 = x >= 80 && x <= 109 && y >= 40 && y <= 69;
        const bool gs0 = x >= 40 && x <= 69 && y >= 560 && y <= 629;
        for (int p = 1; p <= 3; ++p) {
          if (a1 || gs0)
            ASSERT_NEAR(At(p, x, y), 255.0f, 0.5f) << x << "," << y;
          else
            ASSERT_EQ(At(p, x, y), BlankPixel) << x << "," << y;  // B1 lies after END_DATA
        }
        filled += a1 || gs0;
      }
    EXPECT_EQ(filled, 30 * 30 + 30 * 70);
    EXPECT_EQ(Store.Display[1].Black, 0.0f);
    EXPECT_EQ(Store.Display[1].White, 255.0f);
    EXPECT_FALSE(Store.HasWindow[1]);  // the command shows it
  }
}

TEST_F(ColourChart, EveryPatchAgreesWithSkimage) {
  if (!HavePythonModule("skimage.color")) GTEST_SKIP() << "python3-skimage missing";
  TempDir dir;
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> u(0.5, 95.0);
  std::string body = "IT8.7/2\nBEGIN_DATA\n";
  for (char row = 'A'; row <= 'L'; ++row)
    for (int n = 1; n <= 22; n += 3) body += DataLine(std::string(1, row) + std::to_string(n), u(rng), u(rng), u(rng)) + "\n";
  for (int n = 0; n <= 23; ++n) body += DataLine("GS" + std::to_string(n), u(rng), u(rng), u(rng)) + "\n";
  body += "END_DATA\n";
  const std::string file = ChartFile(dir, body);
  ASSERT_EQ(ImportIt8Chart(1, file, 65), TIt8Import::Done);
  // skimage's sRGB at each patch's top-left pixel, written as x y r g b lines.
  const std::string script =
      "import sys, numpy as np\nfrom skimage.color import xyz2rgb\n"
      "out = []\n"
      "lines = open(sys.argv[1] + '/chart.txt').read().splitlines()\n"
      "for l in lines[lines.index('BEGIN_DATA') + 1:lines.index('END_DATA')]:\n"
      "  grey = l.startswith('GS')\n"
      "  n = int(l[2:4] if grey else l[1:3])\n"
      "  xyz = np.array([[[float(l[11:17]), float(l[19:25]), float(l[27:33])]]]) / 100\n"
      "  rgb = xyz2rgb(xyz)[0, 0] * 255\n"
      "  out.append('%d %d %.6f %.6f %.6f' % ((n + 1) * 40, 560 if grey else (ord(l[0]) - 64) * 40, *rgb))\n"
      "open(sys.argv[1] + '/expected', 'w').write('\\n'.join(out))\n";
  ASSERT_TRUE(RunPython(dir, script, dir.path().string()));
  std::FILE* f = std::fopen(dir.file("expected").c_str(), "r");
  ASSERT_NE(f, nullptr);
  int x = 0, y = 0, count = 0;
  float e[3];
  while (std::fscanf(f, "%d %d %f %f %f", &x, &y, &e[0], &e[1], &e[2]) == 5) {
    for (int p = 1; p <= 3; ++p)
      if (e[p - 1] < 254.5f) EXPECT_NEAR(At(p, x, y), e[p - 1], 0.5f) << x << "," << y << " plane " << p;
    ++count;
  }
  std::fclose(f);
  EXPECT_EQ(count, 12 * 8 + 24);
}

TEST_F(ColourChart, BadFilesNeverWriteOutsideThePlanes) {
  TempDir dir;
  // Not an IT8 file, or none at all: no slot is used.
  EXPECT_EQ(ImportIt8Chart(1, ChartFile(dir, "CGATS\nBEGIN_DATA\n"), 65), TIt8Import::NotIt8);
  EXPECT_EQ(ImportIt8Chart(1, ChartFile(dir, ""), 65), TIt8Import::NotIt8);
  EXPECT_EQ(ImportIt8Chart(1, dir.file("missing.txt"), 65), TIt8Import::Unreadable);
  EXPECT_FALSE(Store.InUse[1]);
  // No BEGIN_DATA: a blank chart.
  ASSERT_EQ(ImportIt8Chart(1, ChartFile(dir, "IT8\n" + DataLine("A1", 50, 50, 50) + "\n"), 65), TIt8Import::Done);
  for (float v : Store.Image[1].Planes[2]) ASSERT_EQ(v, BlankPixel);
  // Patches outside the chart, short and garbage lines are skipped.
  Store.Reset();
  const std::string body = "IT8\nBEGIN_DATA\n" + DataLine("M1", 50, 50, 50) + "\n" + DataLine("A25", 50, 50, 50) +
                           "\n" + DataLine("A24", 50, 50, 50) + "\n" + DataLine("GS26", 50, 50, 50) + "\n" +
                           DataLine("a1", 50, 50, 50) + "\nA1         12.3\nGS\n\xff\xfe garbage\n" +
                           "A2         xx.xx  50.00  50.00\nL24        50.00  50.00  50.0";
  ASSERT_EQ(ImportIt8Chart(1, ChartFile(dir, body), 50), TIt8Import::Done);
  int filled = 0;
  for (float v : Store.Image[1].Planes[1]) filled += v > -1e9f;
  EXPECT_EQ(filled, 30 * 30);  // A24 alone, at x 1000 .. 1029
  EXPECT_GT(At(1, 1029, 69), 0.0f);
  EXPECT_FALSE(It8PatchOfLine(DataLine("L25", 1, 1, 1), 65));
  EXPECT_TRUE(It8PatchOfLine(DataLine("L24", 1, 1, 1), 65));
}

TEST_F(ColourChart, TimeStampLinesCutTheirCards) {
  PutImage(1, 2, 2, {{1, 2, 3, 4}});
  EXPECT_EQ(TimeStampLine(1, "a.cr2"), "");
  AppendHeaderCard(1, "DATE-OBS= '2024-03-01T21:04:05'");
  EXPECT_EQ(TimeStampLine(1, "a.cr2"), "a.cr2 2024-03-01\r\n");
  AppendHeaderCard(1, "TIME-OBS= '21:0");  // a short value: the card is padded
  EXPECT_EQ(TimeStampLine(1, "a.cr2"), "a.cr2 2024-03-01 21:0    \r\n");
  // A file that is no RAW gives no line and leaves no slot in use.
  TempDir dir;
  WriteText(dir.file("x.cr2"), "not a raw file");
  EXPECT_EQ(ListRawTimeStamps({dir.file("x.cr2")}), "");
  EXPECT_FALSE(Store.InUse[2]);
}

}  // namespace
}  // namespace astrelon::test
