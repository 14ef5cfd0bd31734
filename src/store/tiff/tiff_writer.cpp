#include "store/tiff/tiff_writer.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/tiff/tiff_word_samples.h"

namespace astrelon {

uint8_t FloatToByteSample(float x) {
  if (!(x >= 0.0f)) return 0;
  if (x > 1.0f) return 255;
  return uint8_t(std::nearbyint(x * 255.0f));
}

uint16_t FloatToWordSample(float x) {
  if (!(x >= 0.0f)) return 0;
  if (x > 65535.0f) return 65535;
  return uint16_t(std::nearbyint(x));
}

uint32_t FloatToDwordSample(float x) {
  if (!(x >= 0.0f)) return 0;
  if (double(x) > 4294967295.0) return 4294967295u;
  return uint32_t(std::nearbyint(double(x)));
}

int TiffWriterTypeOf(int tiffCode) {
  const int bits = tiffCode & 3;
  return bits == 3 ? 1 : 3 - bits;
}

bool TiffCodeCompressed(int tiffCode) { return tiffCode > 3; }

int TiffCodeFromDialog(int listEntry, bool compressed) { return (listEntry & 3) + (compressed ? 4 : 0); }

std::string TiffSoftwareText() {
  std::string lib = TIFFGetVersion();
  const size_t eol = lib.find('\n');
  if (eol != std::string::npos) lib.resize(eol);
  return std::string("Astrelon ") + ProgramVersionText + "  + " + lib;
}

namespace {

template <typename T, typename F>
void FillStrip(const TImageSlot& im, int32_t y0, int32_t rows, int samples, double low, double factor, T* out,
               F store) {
  const size_t w = size_t(im.Width);
  for (int32_t r = 0; r < rows; ++r) {
    const size_t o = size_t(y0 + r) * w;
    T* dst = out + size_t(r) * w * size_t(samples);
    if (samples == 1) {
      const float* g = im.Planes[1].data() + o;
      for (size_t x = 0; x < w; ++x) dst[x] = store(float((double(g[x]) - low) * factor));
    } else {
      const float* R = im.Planes[1].data() + o;
      const float* G = im.Planes[2].data() + o;
      const float* B = im.Planes[3].data() + o;
      for (size_t x = 0; x < w; ++x, dst += 3) {
        dst[0] = store(float((double(R[x]) - low) * factor));
        dst[1] = store(float((double(G[x]) - low) * factor));
        dst[2] = store(float((double(B[x]) - low) * factor));
      }
    }
  }
}

void FillWordStrip(const TImageSlot& im, int32_t y0, int32_t rows, int samples, double low, double factor,
                   uint16_t* out) {
  const size_t w = size_t(im.Width);
  for (int32_t r = 0; r < rows; ++r) {
    const size_t o = size_t(y0 + r) * w;
    const float* planes[3] = {im.Planes[1].data() + o, nullptr, nullptr};
    if (samples == 3) {
      planes[1] = im.Planes[2].data() + o;
      planes[2] = im.Planes[3].data() + o;
    }
    WordSamplesOfRow(planes, samples, w, low, factor, out + size_t(r) * w * size_t(samples), Sse2Enabled);
  }
}

}  // namespace

void SaveTiffImage(int slot, int writerType, bool compressed, double low, double high, const std::string& fileName) {
  if (slot < 0 || slot >= SlotArraySize) throw TTiffError("Failed to write '" + fileName + "'");
  const TImageSlot& im = Store.Image[slot];
  const int samples = im.IsColor ? 3 : 1;
  if (im.Width < 1 || im.Height < 1 || im.PlaneCount < samples)
    throw TTiffError("Failed to write '" + fileName + "'");
  for (int p = 1; p <= samples; ++p)
    if (im.Planes[p].size() < im.PixelCount()) throw TTiffError("Failed to write '" + fileName + "'");
  if (writerType < 1 || writerType > 3) writerType = 1;
  const int bits = writerType == 1 ? 16 : 32;
  const int bytesPerSample = bits / 8;

  // Written like every other file: beside the target, renamed over it when complete.
  TAtomicFile temp;
  TTiffFile file;
  if (!temp.Open(fileName) || !file.OpenWrite(fileName, temp.Descriptor()))
    throw TTiffError("Unable to create file '" + fileName + "'");
  TIFF* tif = file.get();
  const std::string software = TiffSoftwareText();
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(im.Width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(im.Height));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compressed ? COMPRESSION_DEFLATE : COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, writerType == 3 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tif, TIFFTAG_SOFTWARE, software.c_str());

  const int64_t rowBytes = int64_t(im.Width) * samples * bytesPerSample;
  const int32_t rowsPerStrip = int32_t(std::clamp<int64_t>(65536 / rowBytes, 1, im.Height));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip));

  const double span = high - low;
  double factor = 1.0;
  if (span > 0) {
    const long double top = writerType == 1 ? 65535.0L : writerType == 2 ? 4294967295.0L : 1.0L;
    factor = double(top / (long double)span);
  }

  auto fail = [&] {
    file.Close();
    EngineUi().ShowStatus("");
    throw TTiffError("Failed to write '" + fileName + "'");
  };
  const bool progress = im.Height / rowsPerStrip > 20;
  std::string shown;
  std::vector<uint8_t> buf(size_t(rowBytes) * size_t(rowsPerStrip));
  uint32_t strip = 0;
  for (int32_t y = 0; y < im.Height; y += rowsPerStrip, ++strip) {
    if (progress) {
      const std::string text = "  " + std::to_string(int64_t(y) * 100 / im.Height) + " %";
      if (text != shown) EngineUi().ShowStatus(shown = text);
    }
    const int32_t rows = std::min(rowsPerStrip, im.Height - y);
    if (writerType == 1)
      FillWordStrip(im, y, rows, samples, low, factor, reinterpret_cast<uint16_t*>(buf.data()));
    else if (writerType == 2)
      FillStrip(im, y, rows, samples, low, factor, reinterpret_cast<uint32_t*>(buf.data()), FloatToDwordSample);
    else
      FillStrip(im, y, rows, samples, low, factor, reinterpret_cast<float*>(buf.data()), [](float v) { return v; });
    const tmsize_t size = tmsize_t(rowBytes * rows);
    // libtiff reports a failed write with -1; anything but the full size is a failure.
    if (TIFFWriteEncodedStrip(tif, strip, buf.data(), size) != size || file.WriteFailed()) fail();
  }
  if (!file.Close()) fail();
  if (progress) EngineUi().ShowStatus("");
  if (!temp.Commit()) throw TTiffError("Failed to write '" + fileName + "'");
}

}  // namespace astrelon
