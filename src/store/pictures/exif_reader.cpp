#include "store/pictures/exif_reader.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "common/pascal_format.h"

namespace astrelon {

namespace {

// A segment of at most 64 KB follows each marker; 200 segments before the EXIF
// block is far more than any camera writes.
constexpr int MaxSegments = 200;

std::string DecimalText(double v) { return FloatToStrF(v, TFloatFormat::Exponent, 14, 2); }

// Reads numbers of the TIFF block in its byte order; every access is bounds-checked.
class TBlockReader {
public:
  TBlockReader(std::span<const uint8_t> block, bool motorola) : b_(block), mm_(motorola) {}
  size_t Size() const { return b_.size(); }
  bool Has(uint64_t offset, uint64_t count) const { return offset <= b_.size() && count <= b_.size() - offset; }
  uint16_t U16(size_t o) const {
    return mm_ ? uint16_t(b_[o] << 8 | b_[o + 1]) : uint16_t(b_[o + 1] << 8 | b_[o]);
  }
  uint32_t U32(size_t o) const {
    return mm_ ? uint32_t(b_[o]) << 24 | uint32_t(b_[o + 1]) << 16 | uint32_t(b_[o + 2]) << 8 | b_[o + 3]
               : uint32_t(b_[o + 3]) << 24 | uint32_t(b_[o + 2]) << 16 | uint32_t(b_[o + 1]) << 8 | b_[o];
  }
  uint8_t U8(size_t o) const { return b_[o]; }

private:
  std::span<const uint8_t> b_;
  bool mm_;
};

struct TEntry {
  uint16_t Tag, Type;
  uint32_t Count;
  size_t FieldOffset;  // position of the 4-byte value field in the block
};

class TBadBlock {};

// Text of an ASCII entry: in the value field when it has at most 4 bytes, else at
// its offset; up to the first zero byte, trimmed of blanks and control characters.
std::string ReadText(const TBlockReader& r, const TEntry& e) {
  size_t start = e.FieldOffset;
  if (e.Count > 4) {
    start = r.U32(e.FieldOffset);
    if (!r.Has(start, e.Count)) throw TBadBlock{};
  }
  std::string s;
  for (uint32_t i = 0; i < e.Count; ++i) {
    const uint8_t c = r.U8(start + i);
    if (c == 0) break;
    s += char(c);
  }
  size_t a = 0, z = s.size();
  while (a < z && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (z > a && static_cast<unsigned char>(s[z - 1]) <= ' ') --z;
  return s.substr(a, z - a);
}

// Numerator and denominator at the entry's offset.
void ReadRational(const TBlockReader& r, const TEntry& e, uint32_t& num, uint32_t& den) {
  const uint32_t at = r.U32(e.FieldOffset);
  if (!r.Has(at, 8)) throw TBadBlock{};
  num = r.U32(at);
  den = r.U32(at + 4);
}

uint32_t ReadNumber(const TBlockReader& r, const TEntry& e) {
  if (e.Type == 1) return r.U8(e.FieldOffset);
  if (e.Type == 3) return r.U16(e.FieldOffset);
  return r.U32(e.FieldOffset);
}

}  // namespace

void TExif::Clear() {
  Make.clear();
  Model.clear();
  DateTime.clear();
  Artist.clear();
  DateTimeOriginal.clear();
  DateTimeDigitized.clear();
  ExposureTime.clear();
  ShutterSpeed.clear();
  ApertureValue.clear();
  IsoSpeed = 0;
  Motorola = 0;
  ExifOffset = 0;
}

void TExif::ExifTagsLesen(const std::string& fileName) {
  HasExif = 0;
  Clear();
  std::ifstream f(fileName, std::ios::binary);
  if (!f) return;
  // The EXIF block lies in the file's first segments; reading the markers walks
  // the file by segment lengths, so at most a few hundred KB are looked at.
  std::vector<uint8_t> head;
  uint8_t soi[2] = {};
  if (!f.read(reinterpret_cast<char*>(soi), 2) || soi[0] != 0xFF || soi[1] != 0xD8) return;
  head.assign(soi, soi + 2);
  for (int seg = 0; seg < MaxSegments; ++seg) {
    uint8_t m[4] = {};
    if (!f.read(reinterpret_cast<char*>(m), 4)) break;
    head.insert(head.end(), m, m + 4);
    if (m[0] != 0xFF || m[1] == 0xD9 || m[1] == 0xDA) break;
    const size_t len = size_t(m[2]) << 8 | m[3];
    if (len < 2) break;
    const size_t at = head.size();
    head.resize(at + len - 2);
    f.read(reinterpret_cast<char*>(head.data() + at), std::streamsize(len - 2));
    head.resize(at + size_t(f.gcount()));
    // Another APP1 segment (XMP) may come before the EXIF one.
    const bool exif = m[1] == 0xE1 && head.size() >= at + 5 && std::memcmp(head.data() + at, "Exif\0", 5) == 0;
    if (exif || size_t(f.gcount()) < len - 2) break;
  }
  ReadFromBytes(head);
}

void TExif::ReadFromBytes(std::span<const uint8_t> file) {
  HasExif = 0;
  Clear();
  if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8) return;
  size_t pos = 2;
  for (int seg = 0; seg < MaxSegments; ++seg) {
    // Fill bytes (0xFF) may precede a marker.
    if (pos >= file.size() || file[pos] != 0xFF) return;
    while (pos + 1 < file.size() && file[pos + 1] == 0xFF) ++pos;
    if (pos + 1 >= file.size()) return;
    const uint8_t marker = file[pos + 1];
    if (marker == 0xD9 || marker == 0xDA) return;  // end of image, start of scan: no EXIF block
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos += 2;  // markers without a length
      continue;
    }
    if (pos + 4 > file.size()) return;
    const size_t len = size_t(file[pos + 2]) << 8 | file[pos + 3];
    if (len < 2 || pos + 2 + len > file.size()) return;
    const std::span<const uint8_t> data = file.subspan(pos + 4, len - 2);
    if (marker == 0xE1 && data.size() >= 6 && data[0] == 'E' && data[1] == 'x' && data[2] == 'i' &&
        data[3] == 'f' && data[4] == 0) {
      HasExif = 1;
      ReadTiffBlock(data.subspan(6));
      return;
    }
    pos += 2 + len;
  }
}

void TExif::ReadTiffBlock(std::span<const uint8_t> block) {
  if (block.size() < 8) return;
  Motorola = block[0] == 'M' && block[1] == 'M';
  const TBlockReader r(block, Motorola);
  // Reads one directory. Reading stops at the block's end; an entry whose value
  // lies outside the block leaves its field empty and the others are still read.
  auto readDirectory = [&](uint32_t at, bool zeroMeansHundred, auto&& onEntry) {
    if (!r.Has(at, 2)) return;
    uint32_t count = r.U16(at);
    if (zeroMeansHundred && count == 0) count = 100;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t e = uint64_t(at) + 2 + uint64_t(i) * 12;
      if (!r.Has(e, 12)) return;
      const TEntry entry{r.U16(size_t(e)), r.U16(size_t(e) + 2), r.U32(size_t(e) + 4), size_t(e) + 8};
      if (entry.Tag == 0) return;
      try {
        onEntry(entry);
      } catch (const TBadBlock&) {
      }
    }
  };
  readDirectory(r.U32(4), true, [&](const TEntry& e) {
    switch (e.Tag) {
      case 0x010F: Make = ReadText(r, e); break;
      case 0x0110: Model = ReadText(r, e); break;
      case 0x0132: DateTime = ReadText(r, e); break;
      case 0x013B: Artist = ReadText(r, e); break;
      case 0x8769: ExifOffset = ReadNumber(r, e); break;
      default: break;
    }
  });
  if (ExifOffset != 0) {
    readDirectory(ExifOffset, false, [&](const TEntry& e) {
      switch (e.Tag) {
        case 0x829A: {  // ExposureTime
          uint32_t n, d;
          ReadRational(r, e, n, d);
          if (d != 0) ExposureTime = DecimalText(double(n) / double(d));
          break;
        }
        case 0x8827: IsoSpeed = uint16_t(ReadNumber(r, e)); break;
        case 0x9003: DateTimeOriginal = ReadText(r, e); break;
        case 0x9004: DateTimeDigitized = ReadText(r, e); break;
        case 0x9201: {  // ShutterSpeedValue, signed APEX
          uint32_t n, d;
          ReadRational(r, e, n, d);
          if (d != 0) {
            const double v = double(int32_t(n)) / double(int32_t(d));
            ShutterSpeed = v < 65535.0 ? DecimalText(std::pow(2.0, v)) : std::string("1");
          }
          break;
        }
        case 0x9202: {  // ApertureValue, APEX
          uint32_t n, d;
          ReadRational(r, e, n, d);
          if (d != 0) ApertureValue = DecimalText(double(n) / double(d));
          break;
        }
        default: break;
      }
    });
  }
}

}  // namespace astrelon
