#include "store/tiff/tiff_reader.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "common/date_time.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/header_cards.h"
#include "store/header_dates.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"
#include "store/tiff/tiff_file.h"

namespace astrelon {

namespace {

constexpr uint64_t MaxPixels = 400'000'000;
// Largest ratio of uncompressed to compressed size believed possible for the
// codecs libtiff offers (Deflate stays below 1032:1, LZW and fax codes below this).
constexpr uint64_t MaxCompressionRatio = 4096;

// Refuses sizes that no file of this length can hold before anything is allocated.
void CheckSizes(const TTiffTags& t, const std::string& fileName) {
  if (t.Width < 1 || t.Height < 1 || uint64_t(t.Width) * t.Height > MaxPixels)
    throw TTiffError("Not supported image size (" + std::to_string(t.Width) + " x " + std::to_string(t.Height) +
                     "): '" + fileName + "'");
  const int64_t fileSize = FileSizeOf(fileName);
  const uint64_t rawBytes = (uint64_t(t.Width) * t.BitsPerSample * t.SamplesPerPixel + 7) / 8 * t.Height;
  const uint64_t limit = uint64_t(std::max<int64_t>(fileSize, 0)) *
                         (t.Compression == COMPRESSION_NONE ? 1 : MaxCompressionRatio);
  if (rawBytes > limit) throw TTiffError("Failed to read '" + fileName + "'");
}

// Files whose display range after loading is fixed: 0..255 up to 8 bits (RGBA
// decoding), 0..65535 for unsigned 16-bit samples; the others get an automatic range.
bool FixedDisplayRange(const TTiffTags& t) {
  return t.BitsPerSample <= 8 || (t.BitsPerSample == 16 && t.SampleFormat != SAMPLEFORMAT_INT);
}

// What the reader measures of the planes while it writes them: each plane's
// minimum and maximum and, when the display range after loading is known in
// advance (up to 16 bits), its display histogram on that axis.
struct TPlaneFigures {
  std::array<TMinMaxScan, 4> Scans{};
  THistogramCounts Counts{};
  std::optional<THistogramAxis> Axis;
  // Scans and counts of another band; the result does not depend on the order.
  void Merge(const TPlaneFigures& o) {
    for (size_t p = 1; p <= 3; ++p) Scans[p].Merge(o.Scans[p]);
    for (size_t p = 0; p < 3; ++p)
      for (size_t b = 1; b <= size_t(HistogramBins); ++b) Counts[p][b] += o.Counts[p][b];
  }
};

// Measures rows just written (still in the cache).
void ScanRows(TImageSlot& im, int32_t y0, int32_t rows, TPlaneFigures& f) {
  const size_t w = size_t(im.Width);
  for (int p = 1; p <= im.PlaneCount; ++p) {
    const std::span<float> written =
        std::span<float>(im.Planes[size_t(p)]).subspan(size_t(y0) * w, size_t(rows) * w);
    ScanMinMax(written, im.Width, rows, im.Width, f.Scans[size_t(p)], Sse2Enabled);
    if (f.Axis) CountHistogram(written, *f.Axis, f.Counts[size_t(p - 1)], Sse2Enabled);
  }
}

// Measures the rows written so far in groups of about 16384 pixels, so that
// the histogram's fixed cost per call is spread over many pixels also when rows
// are short.
class TRowsMeasured {
public:
  TRowsMeasured(TImageSlot& im, int32_t first, TPlaneFigures& f)
      : im_(im), first_(first), group_(int32_t(16384 / std::max<int64_t>(im.Width, 1)) + 1), f_(f) {}
  // Rows up to (not including) `end` are written; `last` measures what is left.
  void WrittenUpTo(int32_t end, bool last) {
    if (end - first_ < group_ && !last) return;
    if (end > first_) ScanRows(im_, first_, end - first_, f_);
    first_ = end;
  }

private:
  TImageSlot& im_;
  int32_t first_;
  int32_t group_;
  TPlaneFigures& f_;
};

// Converts rows of file samples into the planes: pixel x takes its samples at
// x * spp; colour uses samples 0, 1, 2, grey sample 0.
template <typename T, typename F>
void ConvertRows(const uint8_t* buf, int32_t rows, int32_t y0, int spp, TImageSlot& im, F convert) {
  const size_t w = size_t(im.Width);
  for (int32_t r = 0; r < rows; ++r) {
    const auto* src = reinterpret_cast<const T*>(buf) + size_t(r) * w * size_t(spp);
    const size_t o = size_t(y0 + r) * w;
    if (im.IsColor) {
      float* R = im.Planes[1].data() + o;
      float* G = im.Planes[2].data() + o;
      float* B = im.Planes[3].data() + o;
      for (size_t x = 0; x < w; ++x, src += spp) {
        R[x] = convert(src[0]);
        G[x] = convert(src[1]);
        B[x] = convert(src[2]);
      }
    } else {
      float* g = im.Planes[1].data() + o;
      if (spp == 1)
        for (size_t x = 0; x < w; ++x) g[x] = convert(src[x]);
      else
        for (size_t x = 0; x < w; ++x, src += spp) g[x] = convert(src[0]);
    }
  }
}

// Float samples follow the FITS reader's rule (values kept within -1e11 and
// 1e17, NaN blank); infinities are blank too.
float FloatSample(double v) {
  static const TFitsDecoder rule(-64, TFitsScaling{});
  return std::isfinite(v) ? rule.Convert(v * 65536.0) : BlankPixel;
}

void ConvertStrip(const uint8_t* buf, int32_t rows, int32_t y0, const TTiffTags& t, TImageSlot& im) {
  const int spp = t.SamplesPerPixel;
  const bool isSigned = t.SampleFormat == SAMPLEFORMAT_INT;
  if (t.BitsPerSample == 16 && isSigned) {
    ConvertRows<int16_t>(buf, rows, y0, spp, im, [](int16_t v) { return float(v); });
  } else if (t.BitsPerSample == 16) {
    ConvertRows<uint16_t>(buf, rows, y0, spp, im, [](uint16_t v) { return float(v); });
  } else if (t.BitsPerSample == 32 && t.SampleFormat == SAMPLEFORMAT_IEEEFP) {
    ConvertRows<float>(buf, rows, y0, spp, im, [](float v) { return FloatSample(v); });
  } else if (t.BitsPerSample == 32 && isSigned) {
    ConvertRows<int32_t>(buf, rows, y0, spp, im, [](int32_t v) { return float(v) * (1.0f / 65536.0f); });
  } else if (t.BitsPerSample == 32) {
    ConvertRows<uint32_t>(buf, rows, y0, spp, im, [](uint32_t v) { return float(v) * (1.0f / 65536.0f); });
  } else {  // 64-bit float
    ConvertRows<double>(buf, rows, y0, spp, im, FloatSample);
  }
}

// 1..8 bits: libtiff's RGBA decoding, top row first.
void ReadRgbaImage(TIFF* tif, const std::string& fileName, TImageSlot& im, TPlaneFigures& figures) {
  const size_t n = im.PixelCount();
  std::vector<uint32_t> raster(n);
  // Stop at the first damaged strip instead of leaving it undecoded.
  if (!TIFFReadRGBAImageOriented(tif, uint32_t(im.Width), uint32_t(im.Height), raster.data(), ORIENTATION_TOPLEFT,
                                 1))
    throw TTiffError("Failed to read '" + fileName + "'");
  const size_t w = size_t(im.Width);
  TRowsMeasured measured(im, 0, figures);
  for (int32_t y = 0; y < im.Height; ++y) {
    const size_t o = size_t(y) * w;
    if (im.IsColor) {
      for (size_t i = o; i < o + w; ++i) {
        const uint32_t c = raster[i];
        im.Planes[1][i] = float(TIFFGetR(c));
        im.Planes[2][i] = float(TIFFGetG(c));
        im.Planes[3][i] = float(TIFFGetB(c));
      }
    } else {
      for (size_t i = o; i < o + w; ++i) im.Planes[1][i] = float(TIFFGetR(raster[i]));
    }
    measured.WrittenUpTo(y + 1, y + 1 == im.Height);
  }
}

// Reads and converts strips [first, last) with its own libtiff handle; false on a
// failed or short read.
bool ReadStripRange(TIFF* tif, const TTiffTags& t, uint32_t first, uint32_t last, int32_t rowsPerRead,
                    TImageSlot& im, TPlaneFigures& figures) {
  const uint64_t rowBytes = TiffRowBytes(t);
  std::vector<uint8_t> buf(size_t(rowBytes) * size_t(rowsPerRead) + 16);
  TRowsMeasured measured(im, int32_t(first) * rowsPerRead, figures);
  for (uint32_t s = first; s < last; ++s) {
    const int32_t y = int32_t(s) * rowsPerRead;
    const int32_t rows = std::min(rowsPerRead, im.Height - y);
    const tmsize_t want = tmsize_t(rowBytes * uint64_t(rows));
    if (TIFFReadEncodedStrip(tif, s, buf.data(), want) != want) return false;
    ConvertStrip(buf.data(), rows, y, t, im);
    measured.WrittenUpTo(y + rows, s + 1 == last);
  }
  return true;
}

// 16, 32 and 64 bits: strip by strip, top row first. The planes' first touch
// (fresh memory) happens on the threads too.
void ReadStrips(TIFF* tif, const TTiffTags& t, const std::string& fileName, TImageSlot& im,
                TPlaneFigures& figures) {
  const uint64_t rowBytes = TiffRowBytes(t);
  if (rowBytes == 0 || uint64_t(TIFFScanlineSize64(tif)) != rowBytes)
    throw TTiffError("Failed to read '" + fileName + "'");
  const int32_t rowsPerRead = int32_t(std::clamp<uint32_t>(t.RowsPerStrip, 1, uint32_t(im.Height)));
  const uint32_t strips = uint32_t((int64_t(im.Height) + rowsPerRead - 1) / rowsPerRead);
  // Large images: bands of strips on threads, each through a libtiff handle of
  // its own (a handle is not shared between threads).
  const int threads = std::min<int>(BandThreads(int64_t(im.PixelCount()), int64_t(1) << 19, Options.Multicore),
                                    int(std::min<uint32_t>(strips, 8)));
  std::atomic<bool> failed{false};
  std::mutex merging;
  ForEachBand(strips, threads, [&](int64_t first, int64_t last) {
    TPlaneFigures band;
    band.Axis = figures.Axis;
    if (threads == 1) {
      if (!ReadStripRange(tif, t, uint32_t(first), uint32_t(last), rowsPerRead, im, band)) failed = true;
    } else {
      TTiffFile own;
      if (!own.OpenRead(fileName) ||
          !ReadStripRange(own.get(), t, uint32_t(first), uint32_t(last), rowsPerRead, im, band))
        failed = true;
    }
    std::lock_guard<std::mutex> lock(merging);
    figures.Merge(band);
  });
  const bool ok = !failed;
  if (!ok) throw TTiffError("Failed to read '" + fileName + "'");
}

// ComputeHistogram(slot, false, false), with the counts made while reading when there are any.
void CountedHistogram(int slot, const TPlaneFigures& f) {
  if (f.Axis)
    ComputeHistogramCounted(slot, *f.Axis, f.Counts);
  else
    ComputeHistogram(slot, false, false);
}

void AppendTextCards(int slot, const TTiffTags& t) {
  try {
    const TDateTime when = ParseDateTimeText(t.DateTime);
    if (when > 0.0) {
      AppendHeaderCard(slot, "DATE-OBS= '" + FormatIsoDate(when) + "'");
      AppendHeaderCard(slot, "TIME-OBS= '" + FormatTimeOfDay(when) + "'");
    }
    if (!t.Make.empty()) AppendHeaderCard(slot, QuotedCard("INSTRUME= ", t.Make + " " + t.Model));
    if (!t.Artist.empty()) AppendHeaderCard(slot, QuotedCard("AUTHOR  = ", t.Artist));
  } catch (...) {
    // the image stays loaded without these cards
  }
}

}  // namespace

bool LoadTiffImage(int slot, const std::string& fileName) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  TTiffTags tags;
  TImageSlot im;
  TPlaneFigures figures;  // measured while converting
  try {
    TTiffFile file;
    if (!file.OpenRead(fileName)) throw TTiffError("Unable to open file '" + fileName + "'");
    tags = ReadTiffTags(file.get());
    if (tags.SampleFormat > 3) throw TTiffError("Not supported sampleformat: '" + fileName + "'");
    if (tags.BitsPerSample > 8) {
      const std::string why = UnsupportedDirectLayout(tags);
      if (!why.empty()) throw TTiffError("Not supported TIFF layout (" + why + "): '" + fileName + "'");
    }
    CheckSizes(tags, fileName);
    im.Width = int32_t(tags.Width);
    im.Height = int32_t(tags.Height);
    im.IsColor = tags.SamplesPerPixel > 2;
    im.PlaneCount = im.IsColor ? 3 : 1;
    im.ColorModel = CmRgb;
    // Every pixel is written next.
    im.AllocatePlanesForOverwrite(im.PlaneCount);
    // Up to 16 unsigned bits the display range after loading is 0..255 or 0..65535.
    if (FixedDisplayRange(tags)) figures.Axis = LoadHistogramAxis(tags.BitsPerSample <= 8 ? 255.0f : 65535.0f);
    if (tags.BitsPerSample <= 8)
      ReadRgbaImage(file.get(), fileName, im, figures);
    else
      ReadStrips(file.get(), tags, fileName, im, figures);
    file.Close();
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Not enough memory for '" + fileName + "'");
    return false;
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(e.what());
    return false;
  }

  // The image is complete: its size, colour and planes replace what the slot held;
  // the other fields keep what the loader's reset gave them.
  TImageSlot& dst = Store.Image[slot];
  dst.Width = im.Width;
  dst.Height = im.Height;
  dst.IsColor = im.IsColor;
  dst.PlaneCount = im.PlaneCount;
  dst.ColorModel = im.ColorModel;
  dst.Planes = std::move(im.Planes);
  Store.InUse[slot] = 1;
  Store.FileName[slot] = fileName;
  SetMinMaxFromScans(slot, figures.Scans);
  if (tags.BitsPerSample <= 8) {
    ResetDisplayRangeMeasured(slot, 255);
  } else if (FixedDisplayRange(tags)) {
    ResetDisplayRangeMeasured(slot, 65535);
  } else {
    SetAutoDisplayRange(slot, false);
  }
  bool histogramDone = false;
  if (tags.BitsPerSample > 8 && Options.GammaAdjust) {
    // The estimate reads the histogram, so it must describe this image.
    CountedHistogram(slot, figures);
    histogramDone = true;
    TDisplayRecord& d = Store.Display[slot];
    d.Gamma = EstimateAutoGamma(slot, d.RangeLow, d.RangeHigh);
    d.CurveMode = 1;
  }
  MakeDefaultHeader(slot);
  if (tags.SampleFormat == SAMPLEFORMAT_IEEEFP)
    Store.Header[slot][1] = PadCard("BITPIX  =                  -32");
  else if (tags.BitsPerSample == 32)
    Store.Header[slot][1] = PadCard("BITPIX  =                   32");
  AppendTextCards(slot, tags);
  if (!histogramDone) CountedHistogram(slot, figures);  // else still current: the display range is unchanged
  return true;
}

}  // namespace astrelon
