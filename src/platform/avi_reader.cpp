#include "platform/avi_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

// libjpeg's headers need size_t and FILE declared first.
#include <cstdio>
#include <jerror.h>

#include "platform/jpeg_error.h"
#include "platform/processor_features.h"
#include "platform/yuv_to_rgb.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace astrelon {

std::function<void(const TPicture& frame, int32_t index)> AviFrameShowHook;

// The open video: demuxer, decoder, converter and the frame table built from
// the file's index. The decoder's position is the number of the last frame
// taken out of it; a frame decoded beyond the one asked for waits in Pending.
// Motion-JPEG packets are whole JPEG pictures: they are decoded straight into
// RGB by libjpeg when needed, and only a packet that libjpeg refuses goes to
// FFmpeg's decoder.
struct TAviStream {
  AVFormatContext* Format = nullptr;
  AVCodecContext* Codec = nullptr;
  SwsContext* Scaler = nullptr;
  AVPacket* Packet = nullptr;
  AVFrame* Decoded = nullptr;
  AVFrame* Held = nullptr;     // the frame at Position (when HeldValid)
  AVFrame* Pending = nullptr;  // a frame after Position (when PendingValid)
  AVPacket* HeldPacket = nullptr;  // Motion JPEG: the packet at Position (when HeldValid)
  bool JpegPackets = false;
  std::vector<uint8_t> Spare;  // the picture being decoded, swapped into Frame when done
  bool HeldValid = false;
  bool PendingValid = false;
  bool InputEnded = false;     // the demuxer has no more packets; the decoder was told
  int StreamIndex = -1;
  int32_t Position = -1;
  std::vector<int64_t> Stamps;  // presentation time of frame i (stream time base)
  std::vector<uint8_t> Key;     // frame i is a key frame
  std::vector<uint8_t> Empty;   // frame i is stored empty (a dropped frame)

  ~TAviStream() {
    sws_freeContext(Scaler);
    av_frame_free(&Decoded);
    av_frame_free(&Held);
    av_frame_free(&Pending);
    av_packet_free(&HeldPacket);
    av_packet_free(&Packet);
    avcodec_free_context(&Codec);
    avformat_close_input(&Format);
  }
};

namespace {

void QuietLibraries() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Frame number of a decoded frame's time stamp (the next one after Position when it has none).
int32_t IndexOfStamp(const TAviStream& s, int64_t stamp) {
  if (stamp == AV_NOPTS_VALUE) return s.Position + 1;
  return int32_t(std::lower_bound(s.Stamps.begin(), s.Stamps.end(), stamp) - s.Stamps.begin());
}

// Fills the frame table from the demuxer's index: entries whose chunk lies
// within the file, at most as many as the header declares.
void BuildFrameTable(TAviStream& s, int64_t fileSize) {
  AVStream* st = s.Format->streams[s.StreamIndex];
  const int entries = avformat_index_get_entries_count(st);
  int64_t limit = st->nb_frames > 0 ? st->nb_frames : INT32_MAX;
  limit = std::min<int64_t>(limit, INT32_MAX - 1);
  s.Stamps.clear();
  s.Key.clear();
  s.Empty.clear();
  for (int i = 0; i < entries && int64_t(s.Stamps.size()) < limit; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(st, i);
    // The entry points at the chunk's 8-byte header.
    if (!e || e->pos < 0 || e->pos + 8 + int64_t(e->size) > fileSize) break;
    s.Stamps.push_back(e->timestamp);
    s.Key.push_back((e->flags & AVINDEX_KEYFRAME) ? 1 : 0);
    s.Empty.push_back(e->size == 0 ? 1 : 0);
  }
}

// The next frame out of the decoder (Pending first); false at the end or on a
// read error. The frame is left in s.Decoded.
bool NextDecodedFrame(TAviStream& s) {
  if (s.PendingValid) {
    av_frame_unref(s.Decoded);
    av_frame_move_ref(s.Decoded, s.Pending);
    s.PendingValid = false;
    return true;
  }
  for (;;) {
    const int r = avcodec_receive_frame(s.Codec, s.Decoded);
    if (r == 0) return true;
    if (r != AVERROR(EAGAIN) || s.InputEnded) return false;
    if (av_read_frame(s.Format, s.Packet) < 0) {
      s.InputEnded = true;
      avcodec_send_packet(s.Codec, nullptr);  // drain what the decoder holds
      continue;
    }
    // Empty chunks are dropped frames; an empty packet would end the decoder's input.
    if (s.Packet->stream_index == s.StreamIndex && s.Packet->size > 0) avcodec_send_packet(s.Codec, s.Packet);
    av_packet_unref(s.Packet);
  }
}

// Motion JPEG: the next packet of the video into HeldPacket, passing over the
// packets before frame `index` without decoding them; false at the end.
bool NextJpegPacket(TAviStream& s, int32_t index) {
  while (av_read_frame(s.Format, s.Packet) >= 0) {
    const bool video = s.Packet->stream_index == s.StreamIndex && s.Packet->size > 0;
    const int32_t at = video ? IndexOfStamp(s, s.Packet->pts) : -1;
    if (!video || at < index) {
      av_packet_unref(s.Packet);
      continue;
    }
    av_packet_unref(s.HeldPacket);
    av_packet_move_ref(s.HeldPacket, s.Packet);
    s.HeldValid = true;
    s.Position = at;
    return true;
  }
  return false;
}

void Restart(TAviStream& s, int32_t keyIndex) {
  av_seek_frame(s.Format, s.StreamIndex, s.Stamps[size_t(keyIndex)], AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(s.Codec);
  av_frame_unref(s.Held);
  av_frame_unref(s.Pending);
  av_packet_unref(s.HeldPacket);
  s.HeldValid = s.PendingValid = false;
  s.InputEnded = false;
  s.Position = keyIndex - 1;
}

// Brings frame `index` (not an empty one) into s.Held; false when it does not decode.
bool DecodeFrame(TAviStream& s, int32_t index) {
  if (s.HeldValid && s.Position == index) return true;
  int32_t key = index;
  while (key > 0 && !s.Key[size_t(key)]) --key;
  // Decoding on from the current position is never longer than from the key frame.
  int32_t next = s.Position + 1;
  while (next < index && s.Empty[size_t(next)]) ++next;
  if (!(s.Position < index && key <= next)) Restart(s, key);
  if (s.JpegPackets) return NextJpegPacket(s, index) && s.Position == index;
  while (NextDecodedFrame(s)) {
    const int32_t at = IndexOfStamp(s, s.Decoded->best_effort_timestamp);
    if (at > index) {
      // The frame asked for did not come out of the decoder.
      av_frame_move_ref(s.Pending, s.Decoded);
      s.PendingValid = true;
      return false;
    }
    av_frame_unref(s.Held);
    av_frame_move_ref(s.Held, s.Decoded);
    s.HeldValid = true;
    s.Position = at;
    if (at == index) return true;
  }
  return false;
}

bool IsGreyFormat(const AVFrame& f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f.format));
  if (!d) return false;
  if (d->flags & AV_PIX_FMT_FLAG_PAL) {
    const uint8_t* pal = f.data[1];
    if (!pal) return false;
    for (int i = 0; i < 256; ++i) {
      uint32_t c;
      std::memcpy(&c, pal + 4 * i, 4);
      if (((c >> 16) & 0xFF) != (c & 0xFF) || ((c >> 8) & 0xFF) != (c & 0xFF)) return false;
    }
    return true;
  }
  return d->nb_components <= 2 && !(d->flags & AV_PIX_FMT_FLAG_RGB);
}

// Planar 8-bit YCbCr of the JPEG/BT.601 kind, which the own converter turns into
// RGB; false for other formats. chromaRows: 1 when two rows share a chroma row.
bool OwnYuvFormat(const AVFrame& f, int& chromaShift, int& chromaRows, bool& fullRange) {
  switch (AVPixelFormat(f.format)) {
    case AV_PIX_FMT_YUV420P: case AV_PIX_FMT_YUVJ420P: chromaShift = 1, chromaRows = 1; break;
    case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUVJ422P: chromaShift = 1, chromaRows = 0; break;
    case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUVJ444P: chromaShift = 0, chromaRows = 0; break;
    default: return false;
  }
  if (f.colorspace != AVCOL_SPC_UNSPECIFIED && f.colorspace != AVCOL_SPC_BT470BG && f.colorspace != AVCOL_SPC_SMPTE170M)
    return false;
  const AVPixelFormat p = AVPixelFormat(f.format);
  fullRange = f.color_range == AVCOL_RANGE_JPEG || p == AV_PIX_FMT_YUVJ420P || p == AV_PIX_FMT_YUVJ422P ||
              p == AV_PIX_FMT_YUVJ444P;
  return true;
}

// The decoded frame as an 8-bit grey or RGB picture.
bool ConvertFrame(TAviStream& s, const AVFrame& f, TPicture& out) {
  if (f.width < 1 || f.height < 1) return false;
  const bool grey = IsGreyFormat(f);
  const int channels = grey ? 1 : 3;
  const size_t rowBytes = size_t(f.width) * size_t(channels);
  const AVPixelFormat src = AVPixelFormat(f.format);
  int chromaShift = 1, chromaRows = 0;
  bool fullRange = true;
  const bool yuv = !grey && OwnYuvFormat(f, chromaShift, chromaRows, fullRange);
  const bool direct = src == AV_PIX_FMT_GRAY8 || (grey && src == AV_PIX_FMT_PAL8) || yuv;
  if (!direct) {
    s.Scaler = sws_getCachedContext(s.Scaler, f.width, f.height, src, f.width, f.height,
                                    grey ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!s.Scaler) return false;
  }
  TPicture pic;
  std::swap(pic.Samples8, out.Samples8);  // reuse the buffer
  pic.Samples8.resize(rowBytes * size_t(f.height));
  pic.Format = {f.width, f.height, channels, 8, false};
  if (src == AV_PIX_FMT_GRAY8) {
    for (int y = 0; y < f.height; ++y)
      std::memcpy(pic.Samples8.data() + size_t(y) * rowBytes, f.data[0] + ptrdiff_t(y) * f.linesize[0], rowBytes);
  } else if (grey && src == AV_PIX_FMT_PAL8) {
    // A grey palette: each index stands for its palette entry's level.
    uint8_t level[256];
    for (int i = 0; i < 256; ++i) level[i] = f.data[1][4 * i];
    for (int y = 0; y < f.height; ++y) {
      const uint8_t* in = f.data[0] + ptrdiff_t(y) * f.linesize[0];
      uint8_t* o = pic.Samples8.data() + size_t(y) * rowBytes;
      for (int x = 0; x < f.width; ++x) o[x] = level[in[x]];
    }
  } else if (yuv) {
    for (int y = 0; y < f.height; ++y) {
      const int cy = y >> chromaRows;
      const TYuvRow row{f.data[0] + ptrdiff_t(y) * f.linesize[0], f.data[1] + ptrdiff_t(cy) * f.linesize[1],
                        f.data[2] + ptrdiff_t(cy) * f.linesize[2], f.width, chromaShift, fullRange};
      YuvRowToRgb(row, pic.Samples8.data() + size_t(y) * rowBytes, Sse2Enabled);
    }
  } else {
    uint8_t* planes[4] = {pic.Samples8.data(), nullptr, nullptr, nullptr};
    int strides[4] = {int(rowBytes), 0, 0, 0};
    if (sws_scale(s.Scaler, f.data, f.linesize, 0, f.height, planes, strides) != f.height) {
      std::swap(pic.Samples8, out.Samples8);
      return false;
    }
  }
  out = std::move(pic);
  return true;
}

// A premature end of the data is an error, not a picture padded with grey.
void JpegEndIsError(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) JpegJumpOnError(cinfo);
}

// One JPEG picture of the video's size into s.Spare as 8-bit grey or RGB, the
// chroma replicated (not interpolated) as the converters of the other formats
// do. Only plain data lives in this frame, so leaving it by longjmp destroys nothing.
bool DecodeJpegPacket(TAviStream& s, const AVPacket& packet, TPictureFormat& format) {
  const AVCodecParameters& par = *s.Format->streams[s.StreamIndex]->codecpar;
  jpeg_decompress_struct cinfo;
  TJpegError err;
  cinfo.err = InstallJpegError(err);
  err.Manager.emit_message = JpegEndIsError;
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, packet.data, static_cast<unsigned long>(packet.size));
  jpeg_read_header(&cinfo, TRUE);
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  // Two fields in one packet, or CMYK: FFmpeg's decoder knows them.
  if (int(cinfo.image_width) != par.width || int(cinfo.image_height) != par.height ||
      (!grey && cinfo.jpeg_color_space != JCS_YCbCr)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  const int channels = grey ? 1 : 3;
  const size_t rowBytes = size_t(cinfo.output_width) * size_t(channels);
  s.Spare.resize(rowBytes * cinfo.output_height);
  JSAMPROW rows[16];
  const JDIMENSION batch = JDIMENSION(std::clamp(cinfo.rec_outbuf_height, 1, 16));
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION n = std::min(batch, cinfo.output_height - cinfo.output_scanline);
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = s.Spare.data() + size_t(cinfo.output_scanline + i) * rowBytes;
    jpeg_read_scanlines(&cinfo, rows, n);
  }
  format = {int32_t(cinfo.output_width), int32_t(cinfo.output_height), channels, 8, false};
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// The frame at the stream's position as a picture: a decoded frame converted,
// or a Motion-JPEG packet decoded (by FFmpeg when libjpeg refuses it).
bool ConvertHeld(TAviStream& s, TPicture& out) {
  if (!s.JpegPackets) return ConvertFrame(s, *s.Held, out);
  TPictureFormat format;
  if (DecodeJpegPacket(s, *s.HeldPacket, format)) {
    out.Format = format;
    std::swap(out.Samples8, s.Spare);
    out.Samples16.clear();
    return true;
  }
  avcodec_flush_buffers(s.Codec);
  return avcodec_send_packet(s.Codec, s.HeldPacket) >= 0 && avcodec_receive_frame(s.Codec, s.Decoded) == 0 &&
         ConvertFrame(s, *s.Decoded, out);
}

void Show(const TAviReader& reader, int32_t index, bool show) {
  if (show && AviFrameShowHook) AviFrameShowHook(reader.Frame, index);
}

}  // namespace

TAviReader::TAviReader() = default;
TAviReader::~TAviReader() { CloseAviStream(*this); }

bool OpenAviStream(TAviReader& reader, const std::string& fileName, bool show) {
  CloseAviStream(reader);
  QuietLibraries();
  reader.CurrentFrame = 0;
  std::error_code ec;
  const auto fileSize = std::filesystem::file_size(fileName, ec);
  if (ec) return false;
  auto s = std::make_unique<TAviStream>();
  if (avformat_open_input(&s->Format, fileName.c_str(), av_find_input_format("avi"), nullptr) < 0) return false;
  s->StreamIndex = av_find_best_stream(s->Format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (s->StreamIndex < 0) return false;
  for (unsigned i = 0; i < s->Format->nb_streams; ++i)
    if (int(i) != s->StreamIndex) s->Format->streams[i]->discard = AVDISCARD_ALL;
  AVStream* st = s->Format->streams[s->StreamIndex];
  // A file without a complete index (cut short, or a header that claims more
  // frames than it holds) is read through once so that the demuxer indexes it.
  if (avformat_index_get_entries_count(st) == 0 ||
      (st->nb_frames > 0 && avformat_index_get_entries_count(st) < st->nb_frames)) {
    AVPacket* p = av_packet_alloc();
    if (!p) return false;
    while (av_read_frame(s->Format, p) >= 0) av_packet_unref(p);
    av_packet_free(&p);
  }
  BuildFrameTable(*s, int64_t(fileSize));
  if (s->Stamps.empty()) return false;

  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  s->Codec = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!s->Codec || avcodec_parameters_to_context(s->Codec, st->codecpar) < 0) throw std::runtime_error("Error Frameopen");
  s->Codec->thread_count = std::max(reader.Threads, 1);
  s->Codec->pkt_timebase = st->time_base;
  if (avcodec_open2(s->Codec, codec, nullptr) < 0) throw std::runtime_error("Error Frameopen");
  s->Packet = av_packet_alloc();
  s->Decoded = av_frame_alloc();
  s->Held = av_frame_alloc();
  s->Pending = av_frame_alloc();
  s->HeldPacket = av_packet_alloc();
  if (!s->Packet || !s->Decoded || !s->Held || !s->Pending || !s->HeldPacket) return false;
  s->JpegPackets = st->codecpar->codec_id == AV_CODEC_ID_MJPEG;
  Restart(*s, 0);

  TAviStream& stream = *s;
  reader.Stream = std::move(s);
  reader.FrameCount = int32_t(stream.Stamps.size());
  int32_t first = 0;
  while (first < reader.FrameCount && stream.Empty[size_t(first)]) ++first;
  if (first >= reader.FrameCount || !DecodeFrame(stream, first)) {
    CloseAviStream(reader);
    return false;
  }
  if (!ConvertHeld(stream, reader.Frame)) {
    // A Motion-JPEG frame that does not decode is a damaged file; any other
    // frame decoded but could not be converted.
    const bool damaged = stream.JpegPackets;
    CloseAviStream(reader);
    if (damaged) return false;
    throw std::runtime_error("Error AVIBegin");
  }
  reader.CurrentFrame = 0;
  Show(reader, 0, show);
  return true;
}

bool ReadAviFrame(TAviReader& reader, int32_t index, bool show) {
  if (!reader.Stream || index < 0 || index >= reader.FrameCount) return false;
  TAviStream& s = *reader.Stream;
  // A dropped frame shows the last stored frame before it.
  int32_t stored = index;
  while (stored >= 0 && s.Empty[size_t(stored)]) --stored;
  if (stored < 0 || !DecodeFrame(s, stored) || !ConvertHeld(s, reader.Frame)) return false;
  reader.CurrentFrame = index;
  Show(reader, index, show);
  return true;
}

void CloseAviStream(TAviReader& reader) {
  reader.Stream.reset();
  reader.Frame = TPicture{};
  reader.FrameCount = 0;
}

}  // namespace astrelon
