// AVI frames read through the reader against FFmpeg's own decode of the same
// frame (videos made by the ffmpeg program), and damaged videos.
#include "platform/avi_reader.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "test_support.h"

namespace astrelon::test {
namespace {

bool RunTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

struct TVideoKind {
  const char* Name;
  const char* Codec;  // ffmpeg's encoder options
  bool Grey;
  int Tolerance;  // 0 for lossless codecs
};

class AviReaderTest : public ::testing::TestWithParam<TVideoKind> {
protected:
  static void SetUpTestSuite() {
    if (!RunTool("ffmpeg -version")) GTEST_SKIP() << "ffmpeg missing";
  }
  // 10 frames of 64 x 48 whose content changes from frame to frame.
  std::string MakeVideo(const TVideoKind& kind, int frames = 10) {
    const std::string file = dir_.file(std::string(kind.Name) + ".avi");
    const std::string cmd = "ffmpeg -y -f lavfi -i testsrc=size=64x48:rate=10 -frames:v " + std::to_string(frames) +
                            " " + kind.Codec + " " + file;
    EXPECT_TRUE(RunTool(cmd)) << cmd;
    return file;
  }
  // ffmpeg's decode of frame n as raw gray or rgb24 samples.
  std::vector<unsigned char> Reference(const std::string& file, int n, bool grey) {
    const std::string out = dir_.file("ref.raw");
    const std::string cmd = "ffmpeg -y -i " + file + " -vf 'select=eq(n\\," + std::to_string(n) +
                            ")' -frames:v 1 -f rawvideo -pix_fmt " + (grey ? "gray " : "rgb24 ") + out;
    EXPECT_TRUE(RunTool(cmd)) << cmd;
    return ReadAll(out);
  }
  TempDir dir_;
};

TEST_P(AviReaderTest, FramesEqualFfmpegsDecode) {
  const TVideoKind& kind = GetParam();
  const std::string file = MakeVideo(kind);
  TAviReader reader;
  ASSERT_TRUE(OpenAviStream(reader, file, false));
  EXPECT_EQ(reader.FrameCount, 10);
  EXPECT_EQ(reader.Frame.Format.Width, 64);
  EXPECT_EQ(reader.Frame.Format.Height, 48);
  EXPECT_EQ(reader.Frame.Format.Channels, kind.Grey ? 1 : 3);

  ASSERT_TRUE(ReadAviFrame(reader, 5, false));
  EXPECT_EQ(reader.CurrentFrame, 5);
  const std::vector<unsigned char> ref = Reference(file, 5, kind.Grey);
  ASSERT_EQ(reader.Frame.Samples8.size(), ref.size());
  int worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(reader.Frame.Samples8[i]) - int(ref[i])));
  EXPECT_LE(worst, kind.Tolerance);

  // Frames in order, then one back: the same as a fresh reader going straight there.
  for (int k = 0; k < 10; ++k) ASSERT_TRUE(ReadAviFrame(reader, k, false)) << k;
  ASSERT_TRUE(ReadAviFrame(reader, 3, false));
  TAviReader direct;
  ASSERT_TRUE(OpenAviStream(direct, file, false));
  ASSERT_TRUE(ReadAviFrame(direct, 3, false));
  EXPECT_EQ(reader.Frame.Samples8, direct.Frame.Samples8);

  // Beyond the last frame: false, the frame stays.
  const std::vector<uint8_t> before = reader.Frame.Samples8;
  EXPECT_FALSE(ReadAviFrame(reader, 10, false));
  EXPECT_FALSE(ReadAviFrame(reader, -1, false));
  EXPECT_EQ(reader.Frame.Samples8, before);
  EXPECT_EQ(reader.CurrentFrame, 3);
  CloseAviStream(reader);
  EXPECT_FALSE(ReadAviFrame(reader, 0, false));
  EXPECT_TRUE(reader.Frame.Samples8.empty());
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviReaderTest,
                         ::testing::Values(TVideoKind{"gray", "-c:v rawvideo -pix_fmt gray", true, 0},
                                           TVideoKind{"bgr", "-c:v rawvideo -pix_fmt bgr24", false, 0},
                                           TVideoKind{"ffv1", "-c:v ffv1 -g 4", false, 0},
                                           TVideoKind{"yuv", "-c:v rawvideo -pix_fmt yuv420p", false, 3},
                                           TVideoKind{"mjpeg", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p", false, 3}),
                         [](const auto& info) { return std::string(info.param.Name); });

class DamagedAviTest : public AviReaderTest {};

TEST_F(DamagedAviTest, CutClaimingAndGarbageFilesGiveFalseOrTheFramesPresent) {
  const std::string file = MakeVideo({"gray", "-c:v rawvideo -pix_fmt gray", true, 0});
  std::vector<unsigned char> bytes = ReadAll(file);
  // Frame chunks of 64 x 48 bytes plus 8 header bytes follow the headers; cut in
  // the middle of frame 5 (the index at the end is lost as well).
  const size_t firstChunk = 5754, chunk = 64 * 48 + 8;
  const std::string cut = dir_.file("cut.avi");
  WriteAll(cut, std::span(bytes).first(firstChunk + 5 * chunk + 1000));
  TAviReader reader;
  ASSERT_TRUE(OpenAviStream(reader, cut, false));
  EXPECT_EQ(reader.FrameCount, 5);
  EXPECT_TRUE(ReadAviFrame(reader, 4, false));
  EXPECT_FALSE(ReadAviFrame(reader, 5, false));

  // Headers that claim 10^9 frames: the frames present.
  std::vector<unsigned char> claim = bytes;
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) claim[at + size_t(k)] = uint8_t(v >> (8 * k));
  };
  put32(48, 1000000000u);  // total frames of the main header
  const std::string text(claim.begin(), claim.end());
  put32(text.find("strh") + 8 + 32, 1000000000u);  // length of the stream header
  const std::string huge = dir_.file("huge.avi");
  WriteAll(huge, claim);
  ASSERT_TRUE(OpenAviStream(reader, huge, false));
  EXPECT_EQ(reader.FrameCount, 10);
  EXPECT_TRUE(ReadAviFrame(reader, 9, false));
  EXPECT_FALSE(ReadAviFrame(reader, 10, false));

  // Only headers, garbage, nothing: false and a closed reader.
  const std::string headers = dir_.file("headers.avi");
  WriteAll(headers, std::span(bytes).first(firstChunk));
  const std::string garbage = dir_.file("garbage.avi");
  static const char junk[] = "RIFF\x10\0\0\0AVI LIST garbage garbage garbage garbage";
  WriteAll(garbage, std::span(reinterpret_cast<const unsigned char*>(junk), sizeof junk - 1));
  for (const std::string& f : {headers, garbage, dir_.file("missing.avi")}) {
    EXPECT_FALSE(OpenAviStream(reader, f, false)) << f;
    EXPECT_EQ(reader.FrameCount, 0);
    EXPECT_FALSE(ReadAviFrame(reader, 0, false));
  }
}

TEST_F(DamagedAviTest, ShownFramesReachTheHook) {
  const std::string file = MakeVideo({"gray", "-c:v rawvideo -pix_fmt gray", true, 0}, 3);
  std::vector<int> shown;
  AviFrameShowHook = [&](const TPicture& frame, int32_t index) {
    EXPECT_EQ(frame.Format.Width, 64);
    shown.push_back(index);
  };
  TAviReader reader;
  ASSERT_TRUE(OpenAviStream(reader, file, false));
  ASSERT_TRUE(ReadAviFrame(reader, 2, true));
  ASSERT_TRUE(ReadAviFrame(reader, 1, false));
  AviFrameShowHook = nullptr;
  EXPECT_EQ(shown, std::vector<int>{2});
}

}  // namespace
}  // namespace astrelon::test
