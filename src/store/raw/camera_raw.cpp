#include "store/raw/camera_raw.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <span>
#include <vector>

#include "common/date_time.h"
#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/raw_decoder.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"
#include "store/raw/mosaic_repair.h"

namespace astrelon {

TRawDecodeSize LastRawDecode;
TRawBufferView RawBuffer;

namespace {

constexpr int MinRawSide = 3;
constexpr int MaxRawSide = 40000;

bool RScaleOn() { return Options.RScaleOff == 0; }

std::string Lang(int key, const char* german) {
  std::string t = LangText(key);
  return t.empty() ? std::string(german) : t;
}

// "Fehler beim öffnen der Datei" and the file's name.
std::string FileOpenErrorText(const std::string& fileName) {
  const std::string a = LangText(LangKey(9, 65)), b = LangText(LangKey(9, 66));
  return (a.empty() && b.empty() ? std::string("Fehler beim öffnen der Datei") : a + b) + "\n" + fileName;
}

// "Fehler <n> beim öffnen der Datei" and the file's name without its folder.
std::string DecoderErrorText(int err, const std::string& fileName) {
  const std::string a = LangText(LangKey(9, 65)), b = LangText(LangKey(9, 66));
  const std::string n = std::to_string(err);
  const std::string text = a.empty() && b.empty() ? "Fehler " + n + " beim öffnen der Datei" : a + n + b;
  return text + "\n" + FileNamePart(fileName);
}

// One row of the buffer into the planes: channel c of each pixel minus bias.
// The vector path converts four pixels per step; both give the same floats.
void TransferRowScalar(const uint16_t* src, int32_t count, int planes, float bias, float* p1, float* p2, float* p3) {
  for (int32_t x = 0; x < count; ++x, src += 4) {
    p1[x] = float(src[0]) - bias;
    if (planes == 3) {
      p2[x] = float(src[1]) - bias;
      p3[x] = float(src[2]) - bias;
    }
  }
}

void TransferRowSse2(const uint16_t* src, int32_t count, int planes, float bias, float* p1, float* p2, float* p3) {
  const __m128i low16 = _mm_set1_epi32(0xFFFF);
  const __m128 b = _mm_set1_ps(bias);
  int32_t x = 0;
  for (; x + 4 <= count; x += 4, src += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));      // pixels 0, 1
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8));  // pixels 2, 3
    // Even channels (0, 2) of each pixel as 32-bit lanes, reordered to pixel order.
    const __m128i ae = _mm_shuffle_epi32(_mm_and_si128(a, low16), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i ce = _mm_shuffle_epi32(_mm_and_si128(c, low16), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_ps(p1 + x, _mm_sub_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi64(ae, ce)), b));
    if (planes == 3) {
      const __m128i ao = _mm_shuffle_epi32(_mm_srli_epi32(a, 16), _MM_SHUFFLE(3, 1, 2, 0));
      const __m128i co = _mm_shuffle_epi32(_mm_srli_epi32(c, 16), _MM_SHUFFLE(3, 1, 2, 0));
      _mm_storeu_ps(p2 + x, _mm_sub_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi64(ao, co)), b));
      _mm_storeu_ps(p3 + x, _mm_sub_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi64(ae, ce)), b));
    }
  }
  TransferRowScalar(src, count - x, planes, bias, p1 + x, p2 ? p2 + x : nullptr, p3 ? p3 + x : nullptr);
}

// The thumbnail: row r reads decoded row round(r * step) + 1 from its pixel 1,
// advancing by the rounded accumulated step; rows and columns past the buffer
// read its last row and column.
void SamplePreview(const TRawBufferView& buf, TImageSlot& im, double step) {
  const size_t stride = size_t(buf.Width) * 4;
  for (int32_t r = 0; r < im.Height; ++r) {
    const int64_t sy = std::min<int64_t>(Round(double(r) * step) + 1, buf.Height - 1);
    const uint16_t* row = buf.Pixels + size_t(sy) * stride;
    int64_t sx = 1;
    double acc = 0;
    for (int32_t x = 0; x < im.Width; ++x) {
      const uint16_t* px = row + size_t(std::min<int64_t>(sx, buf.Width - 1)) * 4;
      const size_t o = size_t(r) * size_t(im.Width) + size_t(x);
      im.Planes[1][o] = float(px[0]);
      if (im.PlaneCount == 3) {
        im.Planes[2][o] = float(px[1]);
        im.Planes[3][o] = float(px[2]);
      }
      acc += step;
      const int64_t advance = Round(acc);
      if (advance > 0) {
        sx += advance;
        acc -= double(advance);
      }
    }
  }
}

void AppendDateCards(int slot, int64_t timeStamp) {
  // The camera's clock was read as local time into the stamp, so local time gives it back.
  const TDateTime when = UnixToLocalDateTime(timeStamp);
  if (when <= 0.0) return;
  AppendHeaderCard(slot, "DATE-OBS= '" + FormatIsoDate(when) + "'");
  AppendHeaderCard(slot, "TIME-OBS= '" + FormatTimeOfDay(when) + "'");
}

}  // namespace

bool TransferRawImage(int slot, int bits, bool interpolate, bool preview, bool useBlackLevel) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  TImageSlot& im = Store.Image[slot];
  float bias = float(RawBuffer.Pedestal);
  if (useBlackLevel) {
    bias = float(im.RawBlackLevel);
    if (im.RawBlackLevel != 0) {
      std::string text = Lang(LangKey(1, 3, 1, 10), "Raw Bild geladen, nur Bias [] subtrahiert");
      const size_t open = text.find('[');
      if (open != std::string::npos) text.insert(open + 1, std::to_string(im.RawBlackLevel));
      AppendHeaderCard(slot, "HISTORY " + text);
    }
    im.RawBlackLevel = 0;
  }
  std::array<TMinMaxScan, 4> scans{};  // every pixel's minimum and maximum, when measured
  bool measured = false;
  try {
    const TRawBufferView buf = RawBuffer;
    if (!buf.Pixels || im.Width != buf.Width || im.Height != buf.Height) return false;
    if (im.Width < MinRawSide || im.Width > MaxRawSide || im.Height < MinRawSide || im.Height > MaxRawSide)
      return false;
    int32_t w = im.Width, h = im.Height, x0 = 0, y0 = 0;
    im.PlaneCount = im.IsColor ? 3 : 1;
    if (im.IsColor) {  // the outermost pixel border is dropped
      w -= 2, h -= 2, x0 = 1, y0 = 1;
    }
    double step = 1.0;
    if (preview) {
      const double oldW = w, oldH = h;
      double factor;
      if (oldW / oldH <= 1.5053763) {
        factor = RawPreviewHeight / oldH;
        h = RawPreviewHeight;
        w = int32_t(std::max<int64_t>(1, Round(oldW * factor)));
      } else {
        factor = RawPreviewWidth / oldW;
        w = RawPreviewWidth;
        h = int32_t(std::max<int64_t>(1, Round(oldH * factor)));
      }
      step = 1.0 / factor;
    }
    im.Width = w;
    im.Height = h;
    Store.InUse[slot] = 1;
    // Every pixel is written next; fresh memory is first touched by the bands.
    im.AllocatePlanesForOverwrite(im.PlaneCount);
    if (preview) {
      SamplePreview(buf, im, step);
    } else {
      const bool vector = Sse2Enabled;
      const auto transfer = vector ? TransferRowSse2 : TransferRowScalar;
      const int threads = BandThreads(int64_t(w) * h, int64_t(1) << 19, Options.Multicore);
      std::mutex merging;
      ForEachBand(h, threads, [&](int64_t first, int64_t last) {
        std::array<TMinMaxScan, 4> band{};
        for (int32_t y = int32_t(first); y < int32_t(last); ++y) {
          const uint16_t* src = buf.Pixels + (size_t(y + y0) * size_t(buf.Width) + size_t(x0)) * 4;
          const size_t o = size_t(y) * size_t(w);
          transfer(src, w, im.PlaneCount, bias, im.Planes[1].data() + o,
                   im.PlaneCount == 3 ? im.Planes[2].data() + o : nullptr,
                   im.PlaneCount == 3 ? im.Planes[3].data() + o : nullptr);
          // Minimum and maximum while the row is in the cache.
          for (int p = 1; p <= im.PlaneCount; ++p)
            ScanMinMax(std::span<float>(im.Planes[size_t(p)]).subspan(o, size_t(w)), w, 1, w, band[size_t(p)], vector);
        }
        std::lock_guard<std::mutex> lock(merging);
        for (int p = 1; p <= 3; ++p) scans[size_t(p)].Merge(band[size_t(p)]);
      });
      measured = true;
    }
  } catch (...) {
    im.FreePlanes();
    Store.InUse[slot] = 0;
    return false;
  }
  (void)bits;
  im.NumberedName = 0;
  if (ValidSlot(slot)) {
    if (measured) {
      SetMinMaxFromScans(slot, scans);
      ResetDisplayRangeMeasured(slot, 0);
    } else {
      ResetDisplayRange(slot, 0);
    }
    ComputeHistogram(slot, false, false);
    SetAutoDisplayRange(slot, false);
  } else {
    UpdateMinMax(slot);
  }
  return true;
}

bool LoadCameraRaw(int slot, const std::string& fileName, bool interpolate, bool preview, bool identifyOnly) {
  if (CountOpenWindows() >= MaxImageSlots) {
    if (!preview && !identifyOnly) EngineUi().ShowMessage(Lang(LangKey(9, 35), "Es sind zu viele Bilder geöffnet"));
    return false;
  }
  if (slot < 0 || slot >= SlotArraySize) return false;
  Store.FileName[slot] = fileName;

  TRawDecoder decoder;
  const bool rscale = RScaleOn();
  std::vector<const char*> argv{"-c", "-w"};
  if (!interpolate) argv.push_back(rscale ? "-D" : "-d");
  if (identifyOnly)
    argv.push_back("-i");
  else if (preview)
    argv.push_back("-h");
  if (!rscale && Options.Highlight) argv.push_back("-x");
  argv.push_back(fileName.c_str());
  const int argc = int(argv.size());
  argv.push_back("");
  const uint16_t* pixels = decoder.loadRaw(argc, argv.data(), 8);

  bool result = false;
  const int err = decoder.geterrorcode();
  if (err != 0) {
    if (!preview) EngineUi().ShowMessage(DecoderErrorText(err, fileName));
    RawBuffer = {};
    return false;
  }

  TImageSlot& im = Store.Image[slot];
  im.RawMosaic = !interpolate;
  int64_t timeStamp = -1;
  std::string instrument;
  const TRawMetaData* meta = decoder.qz_getMetaData();
  const bool valid = meta && meta->Valid;
  if (valid) {
    LastRawDecode = {meta->Width, meta->Height, meta->Shrink};
    im.RawFilterPattern = meta->FilterPattern;
    im.RawBlackLevel = meta->BlackLevel;
    timeStamp = meta->TimeStamp;
    instrument = std::string(meta->Maker) + " " + meta->Model;
    if (!interpolate) {
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) im.RawColorMatrix[r][c] = float(meta->Matrix[size_t(r)][size_t(c)]);
      if (rscale)
        for (int c = 0; c < 4; ++c) im.RawMultipliers[c] = float(meta->Multipliers[c]);
    }
  } else {
    im.RawBlackLevel = 0;
    LastRawDecode = {decoder.getwidth(), decoder.getheight(), decoder.getshrink()};
  }

  im.IsColor = interpolate;
  im.Width = LastRawDecode.Width;
  im.Height = LastRawDecode.Height;
  MakeDefaultHeader(slot);
  try {
    if (timeStamp == -1 && !valid) timeStamp = decoder.gettimestamp();
    if (timeStamp != -1) {
      AppendDateCards(slot, timeStamp);
      if (identifyOnly) result = true;
    }
  } catch (...) {
  }
  try {
    if (instrument.empty()) {
      instrument = decoder.getmaker();
      if (!instrument.empty()) instrument += std::string(" ") + decoder.getmodel();
    }
    AppendHeaderCard(slot, QuotedCard("INSTRUME= ", instrument));
  } catch (...) {
  }
  if (valid) {
    try {
      if (meta->ExposureTime > 0)
        AppendHeaderCard(slot, "EXPTIME =  " + FloatToStrF(meta->ExposureTime, TFloatFormat::Exponent, 14, 2));
      if (meta->Iso > 0) AppendHeaderCard(slot, "COMMENT    ISO " + FormatFixed(meta->Iso, 0));
      if (meta->Aperture > 0) AppendHeaderCard(slot, "COMMENT    Aperture " + FormatFixed(meta->Aperture, 1));
      if (meta->FocalLength > 0)
        AppendHeaderCard(slot, "COMMENT    Focal Length " + FormatFixed(meta->FocalLength, 0));
      if (*meta->Artist) AppendHeaderCard(slot, QuotedCard("AUTHOR  = ", meta->Artist));
    } catch (...) {
    }
  }

  if (!identifyOnly) {
    RawBuffer = {pixels, LastRawDecode.Width, LastRawDecode.Height, decoder.getpedestal()};
    result = TransferRawImage(slot, 16, interpolate, preview, !interpolate && rscale);
    if (!preview && !result) EngineUi().ShowMessage(FileOpenErrorText(fileName));
    // Clipped highlights of the mosaic are rebuilt from their neighbours; the
    // statistics taken while loading are then out of date.
    if (result && !preview && Options.Highlight && RepairClippedMosaic(slot, -1)) {
      if (ValidSlot(slot)) {
        UpdateMinMax(slot);
        ResetDisplayRangeMeasured(slot, 0);
        ComputeHistogram(slot, false, false);
        SetAutoDisplayRange(slot, false);
      }
    }
  }
  RawBuffer = {};
  decoder.freeimage();
  return result;
}

}  // namespace astrelon
