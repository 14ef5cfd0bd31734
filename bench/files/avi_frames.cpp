// Reading a 1000-frame 1280 x 960 AVI frame by frame in order through the AVI
// reader, against FFmpeg's bare decode of the same file (demux and decode, no
// conversion) in the same iterations, both on one thread (figure "ffmpeg").
// The videos are made by the ffmpeg program. Goals: MJPEG 1.3 (the decode
// dominates; ours also converts each frame), grey raw video 1.5 (the bare
// decode only hands over the bytes). Check: every frame was read, and the last
// one equals FFmpeg's decode of it converted by libswscale to grey or RGB
// (exactly for grey raw video; for MJPEG, whose conversion to RGB may round and
// filter the colour otherwise, within 8 levels and the 99th percentile within 2).
#include <benchmark/benchmark.h>

#include "bench_folder.h"
#include "peer_measure.h"

#include <chrono>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <vector>

#include "platform/avi_reader.h"
#include "platform/processor_features.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

constexpr int Frames = 1000;

std::string Folder() {
  static const bench::TBenchFolder folder("avi");
  return folder.Path;
}

std::string MakeVideo(const std::string& name, const std::string& codec) {
  const std::string f = Folder() + "/" + name + ".avi";
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x960:rate=25 -frames:v " +
                          std::to_string(Frames) + " " + codec + " " + f;
  if (std::system(cmd.c_str()) != 0) return {};
  return f;
}

// Demux and decode every frame, one decoder thread, no conversion. With
// `last`, the last frame converted to 8-bit grey (`grey`) or RGB goes there.
int BareDecode(const std::string& file, std::vector<uint8_t>* last = nullptr, bool grey = false) {
  AVFormatContext* fmt = nullptr;
  avformat_open_input(&fmt, file.c_str(), nullptr, nullptr);
  const int s = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(fmt->streams[s]->codecpar->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(ctx, fmt->streams[s]->codecpar);
  ctx->thread_count = 1;
  avcodec_open2(ctx, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int n = 0;
  const auto keep = [&] {
    if (!last) return;
    const int w = frame->width, h = frame->height, channels = grey ? 1 : 3;
    SwsContext* sws =
        sws_getContext(w, h, AVPixelFormat(frame->format), w, h, grey ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_RGB24,
                       SWS_BILINEAR, nullptr, nullptr, nullptr);
    last->assign(size_t(w) * size_t(h) * size_t(channels), 0);
    uint8_t* out[4] = {last->data(), nullptr, nullptr, nullptr};
    const int outStride[4] = {w * channels, 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, h, out, outStride);
    sws_freeContext(sws);
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == s && avcodec_send_packet(ctx, pkt) >= 0)
      while (avcodec_receive_frame(ctx, frame) == 0) ++n, keep();
    av_packet_unref(pkt);
  }
  avcodec_send_packet(ctx, nullptr);
  while (avcodec_receive_frame(ctx, frame) == 0) ++n, keep();
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  avformat_close_input(&fmt);
  return n;
}

// Reads every frame in order; the last one's samples go to `last`.
int ReadInOrder(const std::string& file, std::vector<uint8_t>& last) {
  TAviReader reader;
  reader.Threads = 1;
  if (!OpenAviStream(reader, file, false)) return 0;
  int n = 1;
  for (int k = 1; k < reader.FrameCount; ++k) n += ReadAviFrame(reader, k, false) ? 1 : 0;
  last.swap(reader.Frame.Samples8);
  return n;
}

void Compare(benchmark::State& state, const std::string& file, double goal, bool grey) {
  if (file.empty()) {
    state.SkipWithError("ffmpeg could not make the video");
    return;
  }
  DetectCpuFeatures();  // as at start-up: the SIMD paths
  ApplySimdSetting();
  std::vector<uint8_t> ours, theirs;
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [&] {
          if (ReadInOrder(file, ours) != Frames) bench::Fail("frames missing");
        },
        {{"ffmpeg",
          [&] {
            if (BareDecode(file) != Frames) bench::Fail("FFmpeg decoded frames missing");
          },
          goal}},
        {},
        [&] {
          BareDecode(file, &theirs, grey);
          const std::vector<float> a(ours.begin(), ours.end()), b(theirs.begin(), theirs.end());
          bench::ExpectNear(a, b, grey ? 0 : 8, "last frame against FFmpeg's");
          bench::ExpectNear(a, b, grey ? 0 : 2, "last frame against FFmpeg's", true);
        });
  });
}

void BM_AviMjpeg1280x960(benchmark::State& state) {
  static const std::string f = MakeVideo("mjpeg", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p");
  Compare(state, f, 1.3, false);
}
void BM_AviGreyRaw1280x960(benchmark::State& state) {
  static const std::string f = MakeVideo("grey", "-c:v rawvideo -pix_fmt gray");
  Compare(state, f, 1.5, true);
}

ASTRELON_FIGURES(BM_AviMjpeg1280x960, "ffmpeg");
ASTRELON_FIGURES(BM_AviGreyRaw1280x960, "ffmpeg");
BENCHMARK(BM_AviMjpeg1280x960)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AviGreyRaw1280x960)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
