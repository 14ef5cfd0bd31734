#include "tiff_test_files.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

#include "test_support.h"

namespace astrelon::test {

bool WriteTestTiff(const std::string& path, const TTestTiff& t) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t.Width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t.Height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.Bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t.Samples);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, t.SampleFormat);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.Photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, t.Planar);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, t.Compression);
  if (t.Samples == 2) {
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  const uint32_t rps = t.RowsPerStrip ? t.RowsPerStrip : t.Height;
  if (t.RowsPerStrip) TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, t.RowsPerStrip);
  if (t.ExtraTags) t.ExtraTags(tif);
  const bool separate = t.Planar == PLANARCONFIG_SEPARATE;
  const size_t rowBytes = size_t(t.Width) * t.Bits * (separate ? 1 : t.Samples) / 8;
  const int planes = separate ? t.Samples : 1;
  bool ok = true;
  uint32_t strip = 0;
  for (int p = 0; p < planes && ok; ++p)
    for (uint32_t y = 0; y < t.Height && ok; y += rps, ++strip) {
      const uint32_t rows = std::min(rps, t.Height - y);
      const size_t offset = (size_t(p) * t.Height + y) * rowBytes;
      const tmsize_t size = tmsize_t(rows * rowBytes);
      ok = offset + size_t(size) <= t.Data.size() &&
           TIFFWriteEncodedStrip(tif, strip, const_cast<uint8_t*>(t.Data.data() + offset), size) == size;
    }
  TIFFClose(tif);
  return ok;
}

bool RunQuietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool HaveTool(const std::string& name) { return RunQuietly("command -v " + name); }

std::vector<uint16_t> MagickSamples16(const std::string& file, bool rgb) {
  TempDir dir;
  const std::string out = dir.file("samples.raw");
  if (!RunQuietly("convert '" + file + "' -depth 16 -endian LSB " + (rgb ? "rgb:'" : "gray:'") + out + "'")) return {};
  const std::vector<unsigned char> bytes = ReadAll(out);
  std::vector<uint16_t> v(bytes.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return v;
}

std::string TiffInfo(const std::string& file) {
  std::string text;
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(("tiffinfo '" + file + "' 2>&1").c_str(), "r"), pclose);
  if (!p) return text;
  std::array<char, 256> buf{};
  while (fgets(buf.data(), int(buf.size()), p.get())) text += buf.data();
  return text;
}

void WritePnm(const std::string& path, int width, int height, bool rgb, int maxval,
              const std::vector<uint16_t>& samples) {
  std::ofstream f(path, std::ios::binary);
  f << (rgb ? "P6\n" : "P5\n") << width << " " << height << "\n" << maxval << "\n";
  for (uint16_t s : samples) {
    if (maxval > 255) f.put(char(s >> 8));
    f.put(char(s & 0xFF));
  }
}

}  // namespace astrelon::test
