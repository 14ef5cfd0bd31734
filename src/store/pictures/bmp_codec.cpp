#include "store/pictures/bmp_codec.h"

#include <algorithm>
#include <array>

#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "common/file_bytes.h"
#include "store/display/display_bitmap.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

namespace {

constexpr uint32_t BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3;

uint16_t U16(std::span<const uint8_t> d, size_t o) { return uint16_t(d[o] | d[o + 1] << 8); }
uint32_t U32(std::span<const uint8_t> d, size_t o) {
  return uint32_t(d[o]) | uint32_t(d[o + 1]) << 8 | uint32_t(d[o + 2]) << 16 | uint32_t(d[o + 3]) << 24;
}

// A colour mask of a BITFIELDS bitmap: shift and width of its bits.
struct TMask {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;
  explicit TMask(uint32_t m = 0) : Mask(m) {
    if (!m) return;
    while (!(m & 1)) {
      m >>= 1;
      ++Shift;
    }
    while (m & 1) {
      m >>= 1;
      ++Bits;
    }
  }
  // The channel scaled to 0..255.
  uint8_t Extract(uint32_t v) const {
    if (!Bits) return 0;
    const uint32_t x = (v & Mask) >> Shift;
    const uint32_t max = Bits >= 32 ? 0xFFFFFFFFu : (1u << Bits) - 1;
    return uint8_t((uint64_t(x) * 255 + max / 2) / max);
  }
};

struct TBmpHeader {
  uint32_t DataOffset = 0;
  uint32_t InfoSize = 0;
  int64_t Width = 0, Height = 0;
  bool TopDown = false;
  int Bits = 0;
  uint32_t Compression = BiRgb;
  std::array<uint32_t, 256> Palette{};  // 0x00RRGGBB
  TMask Red, Green, Blue;
};

// The Windows info header sizes: BITMAPINFOHEADER, its V2 and V3 extensions
// (with masks), V4 and V5.
bool IsWindowsInfoSize(uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool ReadHeader(std::span<const uint8_t> d, TBmpHeader& h) {
  if (d.size() < 26 || d[0] != 'B' || d[1] != 'M') return false;
  h.DataOffset = U32(d, 10);
  h.InfoSize = U32(d, 14);
  size_t paletteAt = 14 + size_t(h.InfoSize);
  int paletteEntrySize = 4;
  uint32_t coloursUsed = 0;
  if (h.InfoSize == 12) {  // OS/2 1.x core header
    h.Width = U16(d, 18);
    h.Height = U16(d, 20);
    h.Bits = U16(d, 24);
    paletteEntrySize = 3;
  } else if (IsWindowsInfoSize(h.InfoSize)) {
    if (d.size() < 14 + size_t(h.InfoSize)) return false;
    h.Width = int32_t(U32(d, 18));
    const int32_t height = int32_t(U32(d, 22));
    h.TopDown = height < 0;
    h.Height = height < 0 ? -int64_t(height) : height;
    h.Bits = U16(d, 28);
    h.Compression = U32(d, 30);
    coloursUsed = U32(d, 46);
    if (h.Compression == BiBitfields) {
      // The three masks follow a 40-byte header and lie inside the longer ones.
      constexpr size_t masksAt = 54;
      if (d.size() < masksAt + 12) return false;
      if (h.InfoSize == 40) paletteAt += 12;
      h.Red = TMask(U32(d, masksAt));
      h.Green = TMask(U32(d, masksAt + 4));
      h.Blue = TMask(U32(d, masksAt + 8));
    }
  } else {
    return false;
  }
  if (h.Width < 1 || h.Height < 1 || h.Width > 1000000 || h.Height > 1000000) return false;
  if (uint64_t(h.Width) * uint64_t(h.Height) > 400000000ull) return false;
  const uint32_t c = h.Compression;
  const int b = h.Bits;
  const bool ok = (c == BiRgb && (b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32)) ||
                  (c == BiRle8 && b == 8) || (c == BiRle4 && b == 4) || (c == BiBitfields && (b == 16 || b == 32));
  if (!ok || (h.TopDown && (c == BiRle8 || c == BiRle4))) return false;
  if (c == BiRgb && b == 16) {
    h.Red = TMask(0x7C00);
    h.Green = TMask(0x03E0);
    h.Blue = TMask(0x001F);
  }
  if (b <= 8) {
    const uint32_t max = 1u << b;
    const uint32_t n = coloursUsed == 0 || coloursUsed > max ? max : coloursUsed;
    if (paletteAt + size_t(n) * size_t(paletteEntrySize) > d.size()) return false;
    for (uint32_t i = 0; i < n; ++i) {
      const size_t o = paletteAt + size_t(i) * size_t(paletteEntrySize);
      h.Palette[i] = PackRgb(d[o + 2], d[o + 1], d[o]);
    }
  }
  return h.DataOffset < d.size();
}

// Expands an RLE8/RLE4 stream into one palette index per pixel (rows bottom-up).
// Pixels the stream skips keep index 0; false when the stream is damaged.
bool DecodeRle(std::span<const uint8_t> src, const TBmpHeader& h, std::vector<uint8_t>& indices) {
  const int64_t w = h.Width, ht = h.Height;
  indices.assign(size_t(w * ht), 0);
  const bool four = h.Compression == BiRle4;
  int64_t x = 0, y = 0;
  size_t i = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < ht) indices[size_t(y * w + x)] = v;
    ++x;
  };
  while (i + 1 < src.size()) {
    const uint8_t n = src[i], v = src[i + 1];
    i += 2;
    if (n > 0) {
      for (int k = 0; k < n; ++k) put(four ? uint8_t(k & 1 ? v & 15 : v >> 4) : v);
      continue;
    }
    if (v == 0) {  // end of line
      x = 0;
      ++y;
    } else if (v == 1) {  // end of bitmap
      return true;
    } else if (v == 2) {  // delta
      if (i + 2 > src.size()) return false;
      x += src[i];
      y += src[i + 1];
      i += 2;
    } else {  // absolute run of v pixels, padded to a 16-bit boundary
      const size_t bytes = four ? (size_t(v) + 1) / 2 : v;
      if (i + bytes > src.size()) return false;
      for (int k = 0; k < v; ++k) put(four ? uint8_t(k & 1 ? src[i + size_t(k / 2)] & 15 : src[i + size_t(k / 2)] >> 4) : src[i + size_t(k)]);
      i += (bytes + 1) & ~size_t(1);
    }
    if (y >= ht) return true;
  }
  return y >= ht - 1;
}

}  // namespace

bool DecodeBmp(std::span<const uint8_t> data, int slot, TPictureSink& sink, bool keepColour) {
  TBmpHeader h;
  if (!ReadHeader(data, h)) return false;
  const size_t w = size_t(h.Width), ht = size_t(h.Height);
  const std::span<const uint8_t> pixels = data.subspan(h.DataOffset);
  const bool rle = h.Compression == BiRle8 || h.Compression == BiRle4;
  const size_t stride = (w * size_t(h.Bits) + 31) / 32 * 4;
  std::vector<uint8_t> indices;
  if (rle) {
    // A run of two bytes covers at most 255 pixels; leave room for skipped areas.
    if (uint64_t(w) * ht > uint64_t(pixels.size()) * 4096 + 65536) return false;
    if (!DecodeRle(pixels, h, indices)) return false;
  } else if (uint64_t(stride) * ht > pixels.size()) {
    return false;  // truncated
  }
  TPictureFormat format;
  format.Width = int32_t(w);
  format.Height = int32_t(ht);
  format.Channels = 3;
  format.BitDepth = 8;
  std::vector<uint8_t> rgb(w * 3);
  if (!sink.Begin(slot, format, keepColour)) return false;
  // Rows go to the slot from the top; a bottom-up file is read from its end.
  for (size_t y = 0; y < ht; ++y) {
    const size_t fileRow = h.TopDown ? y : ht - 1 - y;
    uint8_t* out = rgb.data();
    auto putColour = [&](uint32_t c) {
      *out++ = uint8_t(c >> 16);
      *out++ = uint8_t(c >> 8);
      *out++ = uint8_t(c);
    };
    if (rle) {
      const uint8_t* row = indices.data() + fileRow * w;
      for (size_t x = 0; x < w; ++x) putColour(h.Palette[row[x]]);
    } else {
      const uint8_t* row = pixels.data() + fileRow * stride;
      switch (h.Bits) {
        case 1:
          for (size_t x = 0; x < w; ++x) putColour(h.Palette[(row[x / 8] >> (7 - x % 8)) & 1]);
          break;
        case 4:
          for (size_t x = 0; x < w; ++x) putColour(h.Palette[x & 1 ? row[x / 2] & 15 : row[x / 2] >> 4]);
          break;
        case 8:
          for (size_t x = 0; x < w; ++x) putColour(h.Palette[row[x]]);
          break;
        case 16:
          for (size_t x = 0; x < w; ++x) {
            const uint32_t v = uint32_t(row[2 * x] | row[2 * x + 1] << 8);
            *out++ = h.Red.Extract(v);
            *out++ = h.Green.Extract(v);
            *out++ = h.Blue.Extract(v);
          }
          break;
        case 24:
          for (size_t x = 0; x < w; ++x, row += 3) {
            *out++ = row[2];
            *out++ = row[1];
            *out++ = row[0];
          }
          break;
        case 32:
          for (size_t x = 0; x < w; ++x, row += 4) {
            if (h.Compression == BiBitfields) {
              const uint32_t v = uint32_t(row[0]) | uint32_t(row[1]) << 8 | uint32_t(row[2]) << 16 | uint32_t(row[3]) << 24;
              *out++ = h.Red.Extract(v);
              *out++ = h.Green.Extract(v);
              *out++ = h.Blue.Extract(v);
            } else {
              *out++ = row[2];
              *out++ = row[1];
              *out++ = row[0];
            }
          }
          break;
        default: break;
      }
    }
    sink.PutRow(rgb.data());
  }
  return true;
}

bool LoadBmpFile(int slot, const std::string& fileName) { return LoadPictureFile(slot, fileName, [](std::span<const uint8_t> data, int s, TPictureSink& sink) { return DecodeBmp(data, s, sink); }); }

std::vector<uint8_t> EncodeBmp(const TDisplayBitmap& bitmap) {
  const bool indexed = bitmap.Format == TBitmapFormat::Indexed8;
  const size_t w = size_t(std::max(bitmap.Width, 0)), h = size_t(std::max(bitmap.Height, 0));
  const size_t stride = (w * (indexed ? 8 : 24) + 31) / 32 * 4;
  const size_t paletteBytes = indexed ? 256 * 4 : 0;
  const size_t offset = 14 + 40 + paletteBytes;
  const size_t total = offset + stride * h;
  std::vector<uint8_t> out(total, 0);
  auto put16 = [&](size_t o, uint32_t v) {
    out[o] = uint8_t(v);
    out[o + 1] = uint8_t(v >> 8);
  };
  auto put32 = [&](size_t o, uint32_t v) {
    for (int k = 0; k < 4; ++k) out[o + size_t(k)] = uint8_t(v >> (8 * k));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, uint32_t(total));
  put32(10, uint32_t(offset));
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  put16(26, 1);
  put16(28, indexed ? 8 : 24);
  put32(30, BiRgb);
  put32(34, uint32_t(stride * h));
  put32(46, indexed ? 256 : 0);
  if (indexed)
    for (size_t i = 0; i < 256; ++i) put32(54 + 4 * i, bitmap.ColourTable[i] & 0xFFFFFF);
  const size_t rowBytes = w * (indexed ? 1 : 3);
  for (size_t y = 0; y < h; ++y) {
    const auto row = bitmap.Row(int(y));
    std::copy_n(row.begin(), std::min(rowBytes, row.size()), out.begin() + std::ptrdiff_t(offset + (h - 1 - y) * stride));
  }
  return out;
}

bool SaveBmpFile(const TDisplayBitmap& bitmap, const std::string& fileName) {
  if (bitmap.Empty()) return false;
  const std::vector<uint8_t> bytes = EncodeBmp(bitmap);
  return WriteFileAtomic(fileName, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace astrelon
