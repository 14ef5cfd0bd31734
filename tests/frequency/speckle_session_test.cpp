// The speckle run over lists, series and videos, and the memory figures.
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "frequency/speckle/speckle_session.h"
#include "kernels/fft/fft_sizes.h"
#include "platform/avi_reader.h"
#include "platform/memory_probe.h"
#include "speckle_fixture.h"
#include "spectrum_fixture.h"
#include "store/fits/fits_writer.h"

namespace astrelon {
namespace {

class SpeckleSession : public test::SpeckleTest {
protected:
  // Frame files name<k>.fit (k as given, 4 digits), 40 × 30, grey or colour.
  std::string WriteFrame(const std::string& name, int k, int planes = 1) {
    test::MakeImage(40, 40, 30, planes, [k](int x, int y, int p) { return test::Sky(x + k, y, p); });
    const std::string path = dir_.file(name + std::string(4 - std::to_string(k).size(), '0') + std::to_string(k) + ".fit");
    EXPECT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    return path;
  }
  TSpeckleRunSettings Settings(int colour = 1) {
    TSpeckleRunSettings s;
    s.Region = {4, 2, 35, 25};
    s.Margin = 2;
    s.ColourChoice = colour;
    return s;
  }
  int32_t Run(TSpeckleSession& session, const TSpeckleFrameInput& in, int colour = 1) {
    session.UpdateSpeckleMemory(32, 24, 8, colour);
    return session.Accumulate(in, Settings(colour));
  }
  test::TempDir dir_;
};

TEST_F(SpeckleSession, SeriesEndsAfterItsLastFileOrAtItsLastNumber) {
  for (int k = 7; k <= 11; ++k) WriteFrame("Bild", k);
  struct TCase {
    int32_t until, step, frames;
  };
  for (const TCase c : {TCase{9999, 1, 5}, {9, 1, 3}, {9999, 2, 3}, {10, 3, 2}, {6, 1, 0}}) {
    TSpeckleSession session;
    TSpeckleFrameInput in;
    in.Mode = TSpeckleInput::Series;
    in.FirstFile = dir_.file("Bild0007.fit");
    in.Until = c.until;
    in.Step = c.step;
    EXPECT_EQ(Run(session, in), c.frames) << c.until << " " << c.step;
    EXPECT_EQ(session.DataPresent, c.frames > 0);
    if (c.frames > 0) {
      EXPECT_EQ(session.ResultFolder, dir_.path().string());
      EXPECT_TRUE(SlotInUse(session.ResultSpectrum));
      EXPECT_EQ(session.Acc.Layers, 1);
    }
    // Only the result spectrum stays in the store.
    int inUse = 0;
    for (int s = 1; s <= MaxImageSlots; ++s) inUse += Store.InUse[size_t(s)];
    EXPECT_EQ(inUse, c.frames > 0 ? 1 : 0);
  }
}

TEST_F(SpeckleSession, ListSkipsUnreadableFilesAndNeedsTwoEntries) {
  TSpeckleFrameInput in;
  in.Files = {WriteFrame("a", 1)};
  TSpeckleSession session;
  EXPECT_EQ(Run(session, in), -1);
  EXPECT_FALSE(session.DataPresent);
  const std::string broken = dir_.file("broken.fit");
  std::ofstream(broken) << "SIMPLE  =                    T garbage";
  in.Files = {WriteFrame("a", 1), broken, dir_.file("missing.fit"), WriteFrame("a", 2, 3)};
  int shown = 0;
  TSpeckleRunHooks hooks;
  hooks.FrameShown = [&](int slot) {
    EXPECT_TRUE(SlotInUse(slot));
    ++shown;
  };
  session.UpdateSpeckleMemory(32, 24, 8, 0);
  EXPECT_EQ(session.Accumulate(in, Settings(0), hooks), 2);
  EXPECT_EQ(shown, 2);
  // Each frame left out is named once.
  ASSERT_EQ(ui_.Messages.size(), 2u);
  EXPECT_NE(ui_.Messages[0].find("broken.fit"), std::string::npos) << ui_.Messages[0];
  EXPECT_EQ(ui_.Messages[1], dir_.file("missing.fit") + "\r\n ist nicht vorhanden.");
  // "RGB" makes three layers of grey and colour frames alike; the others one.
  EXPECT_EQ(session.Acc.Layers, 3);
  for (int colour : {1, 2, 3, 4}) {
    TSpeckleSession other;
    EXPECT_EQ(Run(other, in, colour), 2);
    EXPECT_EQ(other.Acc.Layers, 1) << colour;
  }
}

TEST_F(SpeckleSession, VideoFramesFromTheFirstFrameByStepBelowTheEnd) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  for (const char* format : {"gray", "bgr24"}) {
    const std::string video = dir_.file(std::string("v_") + format + ".avi");
    ASSERT_EQ(std::system(("ffmpeg -y -f lavfi -i testsrc=size=40x30:rate=5 -frames:v 9 -c:v rawvideo -pix_fmt " +
                           std::string(format) + " " + video + " >/dev/null 2>&1")
                              .c_str()),
              0);
    TAviReader reader;
    ASSERT_TRUE(OpenAviStream(reader, video, false));
    ASSERT_EQ(reader.FrameCount, 9);
    std::vector<int32_t> shown;
    AviFrameShowHook = [&](const TPicture&, int32_t index) { shown.push_back(index); };
    struct TCase {
      int32_t first, until, step;
      std::vector<int32_t> frames;
    };
    for (const TCase& c : {TCase{2, 7, 2, {1, 3, 5}}, TCase{1, 9, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
                           TCase{1, 9999, 4, {0, 4, 8}}, TCase{12, 20, 1, {}}}) {
      shown.clear();
      TSpeckleSession session;
      TSpeckleFrameInput in;
      in.Mode = TSpeckleInput::Avi;
      in.Video = &reader;
      in.FirstFile = video;
      in.FirstFrame = c.first, in.Until = c.until, in.Step = c.step;
      const int colour = std::string(format) == "gray" ? 1 : 0;
      EXPECT_EQ(Run(session, in, colour), int32_t(c.frames.size())) << format << " " << c.first;
      EXPECT_EQ(shown, c.frames);
      if (!c.frames.empty()) {
        EXPECT_EQ(session.Acc.Layers, colour == 0 ? 3 : 1);
        EXPECT_EQ(session.ResultFolder, dir_.path().string());
      }
    }
    AviFrameShowHook = nullptr;
    CloseAviStream(reader);
  }
}

TEST_F(SpeckleSession, AbortAfterAFrameKeepsTheFramesSummedSoFar) {
  TSpeckleFrameInput in;
  for (int k = 1; k <= 4; ++k) in.Files.push_back(WriteFrame("f", k));
  TSpeckleSession session;
  TSpeckleRunHooks hooks;
  hooks.FrameShown = [](int) { AbortRequested = 1; };
  session.UpdateSpeckleMemory(32, 24, 8, 1);
  EXPECT_EQ(session.Accumulate(in, Settings(), hooks), 1);
  EXPECT_TRUE(session.DataPresent);
  AbortRequested = 0;
}

TEST_F(SpeckleSession, MemoryFiguresAndTheStartFollowTheFreeMemory) {
  AvailableMemoryOverride = [] { return uint64_t(1000) << 20; };
  TSpeckleSession session;
  const TSpeckleMemory m = session.UpdateSpeckleMemory(256, 200, 50, 0);
  const double nx = NextGoodFftSize(256, true) + 1, ny = NextGoodFftSize(200, true) + 1;
  const double need = 3 * nx * ny * (session.Vectors.Total + 1) / 262144.0;
  EXPECT_DOUBLE_EQ(m.RequiredMB, need);
  EXPECT_DOUBLE_EQ(m.AvailableMB, 1000.0);
  EXPECT_EQ(m.VectorCount, session.Vectors.Regular);  // fewer than 201 regular vectors
  struct TCase {
    double required;
    bool enabled, red;
  };
  for (const TCase c : {TCase{900, true, true}, {1100, false, true}, {800, true, false}}) {
    session.UsedMB = need - c.required;
    const TSpeckleMemory f = session.UpdateSpeckleMemory(256, 200, 50, 0);
    EXPECT_NEAR(f.RequiredMB, c.required, 1e-9);
    EXPECT_EQ(f.StartEnabled, c.enabled) << c.required;
    EXPECT_EQ(f.Red, c.red) << c.required;
  }
  // A large ellipse has more than 200 regular vectors: the total is shown.
  const TSpeckleMemory big = session.UpdateSpeckleMemory(400, 400, 2, 1);
  EXPECT_GE(session.Vectors.Regular, 201);
  EXPECT_EQ(big.VectorCount, session.Vectors.Total);
  EXPECT_FALSE(session.DataPresent);
}

}  // namespace
}  // namespace astrelon
