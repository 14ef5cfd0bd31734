#include "store/pictures/pnm_reader.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

using TFile = std::unique_ptr<FILE, int (*)(FILE*)>;

class THeaderError {};

// The next header token: bytes above 32 are collected until a byte below
// stopBelow (consumed) or 11 bytes were read. A space (32) therefore ends a token
// read with stopBelow 33 but not one read with stopBelow 32.
std::string ReadPnmToken(FILE* f, int stopBelow) {
  std::string token;
  for (int n = 0; n < 11; ++n) {
    const int c = std::fgetc(f);
    if (c == EOF) throw THeaderError{};
    if (c > 32) token += char(c);
    if (c < stopBelow) break;
  }
  return token;
}

int64_t TokenNumber(const std::string& token, int64_t lo, int64_t hi) {
  const std::optional<int64_t> v = TryStrToInt(token);
  if (!v || *v < lo || *v > hi) throw THeaderError{};
  return *v;
}

bool Refuse() {
  EngineUi().ShowMessage(HeaderNotRecognisedText());
  return false;
}

}  // namespace

bool LoadPnmFile(int slot, const std::string& fileName) {
  TFile f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!f) return false;
  char magic[2] = {};
  if (std::fread(magic, 1, 2, f.get()) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6'))
    return Refuse();
  const bool ppm = magic[1] == '6';
  int64_t width = 0, height = 0, maxval = 0;
  try {
    ReadPnmToken(f.get(), 33);
    width = TokenNumber(ReadPnmToken(f.get(), 33), 1, 32767);
    height = TokenNumber(ReadPnmToken(f.get(), 32), 1, 32767);
    maxval = TokenNumber(ReadPnmToken(f.get(), 32), 1, 65535);
  } catch (const THeaderError&) {
    return Refuse();
  }
  const int samples = ppm ? 3 : 1;
  const size_t bytesPerSample = maxval > 255 ? 2 : 1;
  const size_t pixelBytes = size_t(samples) * bytesPerSample;
  const size_t rowBytes = size_t(width) * pixelBytes;
  // The file must reach into the last row; a short last row gets blank pixels.
  const long dataStart = std::ftell(f.get());
  if (dataStart < 0 || std::fseek(f.get(), 0, SEEK_END) != 0) return Refuse();
  const long fileEnd = std::ftell(f.get());
  if (fileEnd < dataStart || std::fseek(f.get(), dataStart, SEEK_SET) != 0) return Refuse();
  const uint64_t available = uint64_t(fileEnd - dataStart);
  if (available <= uint64_t(rowBytes) * uint64_t(height - 1)) return Refuse();

  TImageSlot& im = Store.Image[slot];
  im.Width = int32_t(width);
  im.Height = int32_t(height);
  im.IsColor = ppm ? 1 : 0;
  im.PlaneCount = samples;
  im.AllocatePlanes(samples);
  Store.InUse[slot] = 1;
  std::vector<uint8_t> row(rowBytes);
  bool colour = false;
  for (int64_t r = 0; r < height; ++r) {
    const size_t got = std::fread(row.data(), 1, rowBytes, f.get());
    const size_t complete = got / pixelBytes;
    float* p[3] = {im.Planes[1].data() + size_t(r * width), ppm ? im.Planes[2].data() + size_t(r * width) : nullptr,
                   ppm ? im.Planes[3].data() + size_t(r * width) : nullptr};
    const uint8_t* s = row.data();
    for (size_t x = 0; x < size_t(width); ++x) {
      if (x >= complete) {
        for (int k = 0; k < samples; ++k) p[k][x] = BlankPixel;
        continue;
      }
      float v[3];
      for (int k = 0; k < samples; ++k, s += bytesPerSample)
        v[k] = bytesPerSample == 2 ? float(s[0] << 8 | s[1]) : float(s[0]);
      for (int k = 0; k < samples; ++k) p[k][x] = v[k];
      if (ppm && (v[1] != v[0] || v[2] != v[0])) colour = true;
    }
  }
  if (!colour) {
    im.AllocatePlanes(1);
    im.IsColor = 0;
    im.PlaneCount = 1;
  }
  im.NumberedName = 0;
  MakeDefaultHeader(slot);
  ResetDisplayRange(slot, float(maxval));
  ComputeHistogram(slot, false, false);
  Store.FileName[slot] = fileName;
  return true;
}

}  // namespace astrelon
