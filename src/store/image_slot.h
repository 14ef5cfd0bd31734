#pragma once
// One image: size, statistics, colour model, camera RAW metadata and up to three
// 32-bit float planes (row-major, row 0 first).
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace astrelon {

constexpr float BlankPixel = -1e11f;   // written where a pixel has no value
constexpr float BlankLimit = -1e9f;    // a pixel is valid when strictly above this
constexpr float NoMinimum = 1e18f;     // start of a minimum search; not below it = no valid pixel

// NaN is blank too: the comparison is false for it.
constexpr bool IsValidPixel(float v) { return v > BlankLimit; }

// An allocator whose construction without a value leaves a number uninitialised,
// so that sizing a plane that is written in full next costs no extra pass over
// fresh memory. resize(n, 0.0f) and TPlane(n, 0.0f) still clear.
template <typename T, typename Base = std::allocator<T>>
class TDefaultInitAllocator : public Base {
  using Traits = std::allocator_traits<Base>;

public:
  template <typename U>
  struct rebind {
    using other = TDefaultInitAllocator<U, typename Traits::template rebind_alloc<U>>;
  };
  using Base::Base;
  TDefaultInitAllocator() = default;
  template <typename U, typename B>
  TDefaultInitAllocator(const TDefaultInitAllocator<U, B>& other) noexcept : Base(other) {}

  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    Traits::construct(static_cast<Base&>(*this), p, std::forward<Args>(args)...);
  }
};

// One plane of float pixels. resize(n) and TPlane(n) leave new values
// uninitialised: give 0.0f (or another value) when the plane is not overwritten.
using TPlane = std::vector<float, TDefaultInitAllocator<float>>;

enum TColorModel : int32_t { CmRgb = 0, CmYuv = 1 };

struct TImageSlot {
  int32_t Width = 0;
  int32_t Height = 0;
  float MaxValue = 1.0f;
  float MinValue = 0.0f;
  uint8_t NumberedName = 0;
  uint8_t IsColor = 0;
  int32_t JpegQuality = -1;
  int32_t JpegFileSize = -1;
  int32_t PlaneCount = 1;
  std::array<float, 4> PlaneMax{1.0f, 1.0f, 1.0f, 1.0f};  // index 1..3
  std::array<float, 4> PlaneMin{};                        // index 1..3
  uint8_t DataChanged = 0;
  uint8_t RawMosaic = 0;
  int32_t FftWidth = 0;
  int32_t FftHeight = 0;
  int32_t ColorModel = CmRgb;
  double DarkRms = 0;
  float RawColorMatrix[3][4] = {};
  float RawMultipliers[4] = {};
  uint32_t RawFilterPattern = 0;
  int32_t RawBlackLevel = 0;
  std::array<TPlane, 4> Planes;  // index 1..3; Planes[0] unused

  size_t PixelCount() const { return size_t(Width) * size_t(Height); }
  std::span<float> Plane(int p) { return Planes[p]; }
  std::span<const float> Plane(int p) const { return Planes[p]; }
  std::span<float> Row(int p, int y) { return Plane(p).subspan(size_t(y) * size_t(Width), size_t(Width)); }
  std::span<const float> Row(int p, int y) const {
    return Plane(p).subspan(size_t(y) * size_t(Width), size_t(Width));
  }
  float& At(int p, int x, int y) { return Planes[p][size_t(y) * size_t(Width) + size_t(x)]; }
  float At(int p, int x, int y) const { return Planes[p][size_t(y) * size_t(Width) + size_t(x)]; }
  // Sizes planes 1..count to Width*Height (values that are new are 0) and frees
  // the planes above count.
  void AllocatePlanes(int count);
  // The same, leaving new values uninitialised: for a caller that writes every
  // pixel next.
  void AllocatePlanesForOverwrite(int count);
  void FreePlanes();
};

}  // namespace astrelon
