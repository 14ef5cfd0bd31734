#include "dng_writer.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>

namespace astrelon::test {

namespace {

// Lossless JPEG (process 14, predictor 1, one component, 16-bit precision) of a
// whole image with one fixed Huffman table over the difference categories 0..16.
class TLosslessJpegEncoder {
public:
  std::vector<uint8_t> Encode(const std::vector<uint16_t>& px, int width, int height) {
    out_.clear();
    Marker(0xD8);
    // Frame header: precision 16, height, width, one component (id 1, 1x1, table 0).
    Marker(0xC3);
    Word(11);
    out_.push_back(16);
    Word(uint16_t(height));
    Word(uint16_t(width));
    out_.push_back(1);
    out_.push_back(1);
    out_.push_back(0x11);
    out_.push_back(0);
    // Huffman table: code lengths per category (complete enough for any difference).
    static constexpr uint8_t symbols[17] = {5, 6, 4, 7, 3, 8, 2, 9, 1, 0, 10, 11, 12, 13, 14, 15, 16};
    static constexpr uint8_t lengths[17] = {2, 2, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    uint8_t counts[16] = {};
    for (uint8_t l : lengths) ++counts[l - 1];
    Marker(0xC4);
    Word(2 + 1 + 16 + 17);
    out_.push_back(0x00);
    out_.insert(out_.end(), counts, counts + 16);
    out_.insert(out_.end(), symbols, symbols + 17);
    // Canonical codes in table order.
    uint32_t code = 0;
    int len = 1;
    for (int i = 0; i < 17; ++i) {
      while (len < lengths[i]) {
        code <<= 1;
        ++len;
      }
      code_[symbols[i]] = code++;
      codeLen_[symbols[i]] = lengths[i];
    }
    // Scan header: one component, table 0, predictor 1.
    Marker(0xDA);
    Word(8);
    out_.push_back(1);
    out_.push_back(1);
    out_.push_back(0x00);
    out_.push_back(1);
    out_.push_back(0);
    out_.push_back(0);
    int vpred = 1 << 15;
    for (int y = 0; y < height; ++y) {
      const uint16_t* row = px.data() + size_t(y) * size_t(width);
      for (int x = 0; x < width; ++x) {
        const int pred = x ? row[x - 1] : vpred;
        int diff = (int(row[x]) - pred) & 0xFFFF;
        if (diff > 32768) diff -= 65536;
        if (x == 0) vpred = row[0];
        EncodeDiff(diff);
      }
    }
    Flush();
    Marker(0xD9);
    return out_;
  }

private:
  void Marker(uint8_t m) {
    out_.push_back(0xFF);
    out_.push_back(m);
  }
  void Word(uint16_t v) {
    out_.push_back(uint8_t(v >> 8));
    out_.push_back(uint8_t(v));
  }
  void Bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      acc_ = uint8_t((acc_ << 1) | ((value >> i) & 1));
      if (++nacc_ == 8) {
        out_.push_back(acc_);
        if (acc_ == 0xFF) out_.push_back(0);
        acc_ = 0;
        nacc_ = 0;
      }
    }
  }
  void Flush() {
    while (nacc_) Bits(1, 1);
  }
  void EncodeDiff(int diff) {
    int cat = 0;
    for (int a = diff < 0 ? -diff : diff; a; a >>= 1) ++cat;
    Bits(code_[cat], codeLen_[cat]);
    if (cat == 0 || cat == 16) return;
    Bits(uint32_t(diff < 0 ? diff + (1 << cat) - 1 : diff), cat);
  }

  std::vector<uint8_t> out_;
  uint32_t code_[17] = {};
  int codeLen_[17] = {};
  uint8_t acc_ = 0;
  int nacc_ = 0;
};

// Sets the Compression value of the first directory of a little-endian TIFF in place.
bool PatchCompression(const std::string& path, uint16_t value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) return false;
  auto u16 = [&](uint64_t at) {
    uint8_t b[2] = {};
    f.seekg(std::streamoff(at));
    f.read(reinterpret_cast<char*>(b), 2);
    return uint16_t(b[0] | b[1] << 8);
  };
  uint8_t h[8] = {};
  f.read(reinterpret_cast<char*>(h), 8);
  if (h[0] != 'I') return false;
  const uint32_t ifd = uint32_t(h[4] | h[5] << 8 | h[6] << 16 | uint32_t(h[7]) << 24);
  const uint16_t n = u16(ifd);
  for (uint16_t i = 0; i < n; ++i) {
    const uint64_t entry = ifd + 2 + 12u * i;
    if (u16(entry) == TIFFTAG_COMPRESSION) {
      const uint8_t v[2] = {uint8_t(value), uint8_t(value >> 8)};
      f.seekp(std::streamoff(entry + 8));
      f.write(reinterpret_cast<const char*>(v), 2);
      return bool(f);
    }
  }
  return false;
}

}  // namespace

bool WriteDng(const std::string& path, const TDngLayout& s) {
  if (s.Width < 2 || s.Height < 2 || s.Cfa.size() != size_t(s.Width) * size_t(s.Height)) return false;
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  static const uint8_t version[4] = {1, 4, 0, 0};
  static const uint8_t backward[4] = {1, 1, 0, 0};
  const uint16_t repeat[2] = {2, 2};
  const float black[1] = {float(s.BlackLevel)};
  const uint32_t white[1] = {s.WhiteLevel};
  const float neutral[3] = {float(s.AsShotNeutral[0]), float(s.AsShotNeutral[1]), float(s.AsShotNeutral[2])};
  float matrix[9];
  for (int i = 0; i < 9; ++i) matrix[i] = float(s.ColorMatrix1[size_t(i)]);
  const std::string unique = s.Make + " " + s.Model;

  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(s.Width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(s.Height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 32803);  // CFA
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(s.LosslessJpeg ? s.Height : 16));
  TIFFSetField(tif, TIFFTAG_MAKE, s.Make.c_str());
  TIFFSetField(tif, TIFFTAG_MODEL, s.Model.c_str());
  if (!s.DateTime.empty()) TIFFSetField(tif, TIFFTAG_DATETIME, s.DateTime.c_str());
  if (!s.Artist.empty()) TIFFSetField(tif, TIFFTAG_ARTIST, s.Artist.c_str());
  TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
  TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backward);
  TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, unique.c_str());
  TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
  TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, s.Pattern.data());
  TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 1, black);
  TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, white);
  TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, matrix);
  TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21);  // D65
  TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
  const bool exif = s.ExposureTime > 0 || s.FNumber > 0 || s.FocalLength > 0 || s.Iso > 0;
  if (exif) TIFFSetField(tif, TIFFTAG_EXIFIFD, uint64_t(0));

  bool ok = true;
  if (s.LosslessJpeg) {
    TLosslessJpegEncoder enc;
    std::vector<uint8_t> data = enc.Encode(s.Cfa, s.Width, s.Height);
    ok = TIFFWriteRawStrip(tif, 0, data.data(), tmsize_t(data.size())) == tmsize_t(data.size());
  } else {
    for (int y = 0; y < s.Height && ok; y += 16) {
      const int rows = std::min(16, s.Height - y);
      const tmsize_t bytes = tmsize_t(rows) * s.Width * 2;
      ok = TIFFWriteEncodedStrip(tif, uint32_t(y / 16), const_cast<uint16_t*>(s.Cfa.data() + size_t(y) * s.Width),
                                 bytes) == bytes;
    }
  }
  ok = ok && TIFFWriteDirectory(tif);
  if (ok && exif) {
    uint64_t exifOffset = 0;
    ok = TIFFCreateEXIFDirectory(tif) == 0;
    if (s.ExposureTime > 0) TIFFSetField(tif, EXIFTAG_EXPOSURETIME, s.ExposureTime);
    if (s.FNumber > 0) TIFFSetField(tif, EXIFTAG_FNUMBER, s.FNumber);
    if (s.FocalLength > 0) TIFFSetField(tif, EXIFTAG_FOCALLENGTH, s.FocalLength);
    if (s.Iso > 0) {
      const uint16_t iso[1] = {s.Iso};
      TIFFSetField(tif, EXIFTAG_ISOSPEEDRATINGS, 1, iso);
    }
    ok = ok && TIFFWriteCustomDirectory(tif, &exifOffset);
    ok = ok && TIFFSetDirectory(tif, 0);
    ok = ok && TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset);
    ok = ok && TIFFRewriteDirectory(tif);
  }
  TIFFClose(tif);
  if (ok && s.LosslessJpeg) ok = PatchCompression(path, 7);
  return ok;
}

std::vector<uint16_t> MakeTestMosaic(int width, int height, uint16_t lo, uint16_t hi, uint32_t seed) {
  std::vector<uint16_t> px(size_t(width) * size_t(height));
  uint32_t state = seed ? seed : 1;
  const double span = double(hi) - double(lo);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const double noise = double(state >> 24) / 255.0 - 0.5;  // -0.5..0.5
      const int site = (y & 1) * 2 + (x & 1);
      const double fx = double(x) / std::max(1, width - 1), fy = double(y) / std::max(1, height - 1);
      double v = site == 0 ? 0.2 + 0.6 * fx : site == 3 ? 0.7 - 0.5 * fy : 0.3 + 0.3 * (fx + fy);
      v = lo + span * std::clamp(v + 0.02 * noise, 0.0, 1.0);
      px[size_t(y) * size_t(width) + size_t(x)] = uint16_t(std::clamp(v, double(lo), double(hi)));
    }
  return px;
}

}  // namespace astrelon::test
