#pragma once
// Helpers of the TIFF tests: writing TIFF files with chosen tags through libtiff,
// reading them back sample by sample, and running the independent tools
// (ImageMagick, tiffcp, tiffinfo).
#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace astrelon::test {

struct TTestTiff {
  uint32_t Width = 4;
  uint32_t Height = 3;
  uint16_t Bits = 16;
  uint16_t Samples = 1;
  uint16_t SampleFormat = SAMPLEFORMAT_UINT;
  uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t Planar = PLANARCONFIG_CONTIG;
  uint16_t Compression = COMPRESSION_NONE;
  uint32_t RowsPerStrip = 0;  // 0: the tag is not written
  std::vector<uint8_t> Data;  // the whole image, contiguous rows (or planes one after another)
  std::function<void(TIFF*)> ExtraTags;
};

// Writes the file in one strip per RowsPerStrip rows (per plane when separate).
bool WriteTestTiff(const std::string& path, const TTestTiff& t);

template <typename T>
std::vector<uint8_t> Bytes(const std::vector<T>& v) {
  const auto* p = reinterpret_cast<const uint8_t*>(v.data());
  return std::vector<uint8_t>(p, p + v.size() * sizeof(T));
}

// Runs a shell command quietly; true when it exited with 0.
bool RunQuietly(const std::string& command);
bool HaveTool(const std::string& name);
// ImageMagick's reading of a file as 16-bit samples (grey or RGB interleaved).
std::vector<uint16_t> MagickSamples16(const std::string& file, bool rgb);
// tiffinfo's text for a file.
std::string TiffInfo(const std::string& file);

// A binary PGM (P5) or PPM (P6) with 8- or 16-bit samples.
void WritePnm(const std::string& path, int width, int height, bool rgb, int maxval, const std::vector<uint16_t>& samples);

}  // namespace astrelon::test
