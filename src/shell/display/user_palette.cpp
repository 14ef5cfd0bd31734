// The user's display palette and its picture file.
#include "shell/display/user_palette.h"

#include <algorithm>
#include <cmath>

#include "common/file_bytes.h"
#include "common/file_extension.h"
#include "core/settings.h"
#include "store/image_store.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/pictures/png_reader.h"

namespace astrelon {

namespace {
std::vector<uint32_t> Palette;

// Decodes a picture file into the scratch slot 0 and returns its pixels as
// 0x00RRGGBB when it is 256 x 256; empty otherwise. 16-bit samples are scaled
// to 8 bits.
std::vector<uint32_t> DecodePicturePixels(const std::string& fileName, bool png, int& width, int& height) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(fileName, bytes)) return {};
  // Slot 0 is the scratch slot; another user of it is left alone.
  if (Store.InUse[0]) return {};
  const bool sixteenBit = png && bytes.size() > 24 && bytes[24] == 16;  // IHDR bit depth
  std::vector<uint32_t> pixels;
  bool decoded = false;
  try {
    TPictureSink sink;
    decoded = png ? DecodePng(bytes, 0, sink) : DecodeBmp(bytes, 0, sink, true);
    sink.Stop();
    const TImageSlot& im = Store.Image[0];
    if (decoded && Store.InUse[0] && im.Width == OwnPaletteSide && im.Height == OwnPaletteSide) {
      width = im.Width;
      height = im.Height;
      const double scale = sixteenBit ? 255.0 / 65535.0 : 1.0;
      auto byte = [scale](float v) {
        if (!IsValidPixel(v)) return 0u;
        return uint32_t(std::clamp(std::nearbyint(double(v) * scale), 0.0, 255.0));
      };
      const bool colour = im.PlaneCount >= 3 && im.Planes[3].size() >= im.PixelCount();
      pixels.resize(im.PixelCount());
      for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t r = byte(im.Planes[1][i]);
        const uint32_t g = colour ? byte(im.Planes[2][i]) : r;
        const uint32_t b = colour ? byte(im.Planes[3][i]) : r;
        pixels[i] = (r << 16) | (g << 8) | b;
      }
    }
  } catch (const std::bad_alloc&) {
    pixels.clear();
  }
  FreeSlot(0);
  return pixels;
}

}  // namespace

void SetUserPalette(std::vector<uint32_t> colours) {
  if (colours.size() > 65536) colours.resize(65536);
  for (uint32_t& c : colours) c &= 0x00FFFFFFu;
  Palette = std::move(colours);
}

bool UserPaletteLoaded() { return !Palette.empty(); }
std::span<const uint32_t> UserPalette() { return Palette; }
bool UserPaletteUsable() { return Palette.size() > 65535; }

bool BuildOwnPalette(int width, int height, std::span<const uint32_t> pixels) {
  if (width != OwnPaletteSide || height != OwnPaletteSide || pixels.size() < 65536) return false;
  SetUserPalette(std::vector<uint32_t>(pixels.begin(), pixels.begin() + 65536));
  return true;
}

bool LoadOwnPaletteFile(const std::string& fileName) {
  const std::string ext = UpperFileExt(fileName);
  if (ext != ".PNG" && ext != ".BMP") return false;
  int width = 0, height = 0;
  const std::vector<uint32_t> pixels = DecodePicturePixels(fileName, ext == ".PNG", width, height);
  if (!BuildOwnPalette(width, height, pixels)) return false;
  Settings.PaletteFile = fileName;
  return true;
}

void ForgetOwnPalette() {
  SetUserPalette({});
  Settings.PaletteFile.clear();
}

std::vector<uint32_t> OwnPalettePreview(int columns, int rows) {
  if (!UserPaletteUsable() || columns < 1 || rows < 1) return {};
  columns = std::min(columns, OwnPaletteSide);
  rows = std::min(rows, OwnPaletteSide);
  std::vector<uint32_t> out(size_t(columns) * size_t(rows));
  for (int by = 0; by < rows; ++by) {
    const int r0 = by * OwnPaletteSide / rows, r1 = (by + 1) * OwnPaletteSide / rows;
    for (int bx = 0; bx < columns; ++bx) {
      const int c0 = bx * OwnPaletteSide / columns, c1 = (bx + 1) * OwnPaletteSide / columns;
      uint64_t sr = 0, sg = 0, sb = 0, n = 0;
      for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c) {
          const uint32_t v = Palette[size_t(r) * OwnPaletteSide + size_t(c)];
          sr += (v >> 16) & 0xFF;
          sg += (v >> 8) & 0xFF;
          sb += v & 0xFF;
          ++n;
        }
      out[size_t(by) * size_t(columns) + size_t(bx)] =
          uint32_t(((sr / n) << 16) | ((sg / n) << 8) | (sb / n));
    }
  }
  return out;
}

}  // namespace astrelon
