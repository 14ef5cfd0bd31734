#pragma once
// Fixed facts of the FITS file layout shared by the reader, the preview and the
// writer: block and card sizes, the pixel limit and big-endian byte access.
#include <bit>
#include <cstdint>
#include <cstring>

namespace astrelon {

constexpr int FitsBlockSize = 2880;
constexpr int FitsCardLength = 80;
constexpr int FitsCardsPerBlock = FitsBlockSize / FitsCardLength;  // 36
// Largest image (Width x Height) a FITS file may describe.
constexpr int64_t MaxFitsPixels = 400000000;
// A header longer than this (8 MB) is not searched further for its END card.
constexpr int64_t MaxFitsHeaderCards = 100000;

// Bytes to the end of the block that holds `bytes` bytes.
constexpr uint64_t FitsBlockRoundUp(uint64_t bytes) {
  return (bytes + FitsBlockSize - 1) / FitsBlockSize * FitsBlockSize;
}

static_assert(std::endian::native == std::endian::little, "the pixel codecs assume a little-endian machine");

inline uint16_t LoadBe16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return __builtin_bswap16(v);
}
inline uint32_t LoadBe32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}
inline uint64_t LoadBe64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
inline void StoreBe16(uint8_t* p, uint16_t v) {
  v = __builtin_bswap16(v);
  std::memcpy(p, &v, 2);
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

// Reverses the four bytes of a 32-bit word.
constexpr uint32_t ByteSwap32(uint32_t x) { return __builtin_bswap32(x); }

}  // namespace astrelon
