#pragma once
// The flux balance of both iterative sharpenings ("PSF schärfen" in its linear
// form and "Iteratives Gauss schärfen"). Their noise protection (the fade by
// height, the soft step, the floors at lo and hi) takes the large brightening
// a faint star's core asks for in part, but the small darkening its wings and
// the sky around them ask for hardly at all, and the light of the wings below
// hi cannot leave: a star whose peak is a few tens of the noise gains a tenth
// of its flux and more over the iterations.
//
// The balance lets the protection decide how far a star sharpens, and makes
// the darkening around it keep pace, within the star: its light is measured
// above the star's own surroundings, not above lo. Once per plane and run the
// reference r is taken from the source: its local background (local_background.h:
// smoothed, then opened with a square as wide as the balance reaches) less the
// noise, and never below lo; on plain sky it is lo, on a nebula the nebula's
// level. With the plain linear step's change L (neither faded, softened nor
// floored) and the change M the application makes, each iteration:
//
//   heights  h = destination - r where the destination blurred with the PSF
//            stands above r + (hi - lo) (a star's pixels), else 0;
//   rate     k = Gw * (h·|M|) / Gw * (h·|L|), within 0..1: how much of the
//            change asked for the star's pixels took, brightening and
//            darkening alike (so that a background the steps move as a whole
//            gives nothing to hand on);
//   withheld N = (k·L - M) / (Gn * h) where the blurred heights exceed `least`;
//   give back: destination += h·(Gn * N) after the application, not below r,
//            nor below a value already below it, nor at all where the
//            sharpening never darkens (a saturated core: see TGiveBackGuard);
//            with floors at hi (TGiveBackGuard) the weights h of the sums
//            Gn * h and of the give-back are the pixels' room above them.
//
// Gn is a Gaussian as wide as the PSF, Gw one twice as wide (reaching from a
// star's core to the ring around it); both are normalised, so the light given
// back equals the light withheld (up to the rectangle's edges), and around a
// star the iteration moves k times the light of the linear step: none is added
// or lost. The pixels of a bright background around a star hold no height, so
// they neither hand the star's withheld darkening on nor deepen its ring; plain
// sky and nebula away from stars keep the protection as it is.
//
// Only pixels with a height change, so the balance works near them alone:
// the heights are kept for blocks of BalanceBlock columns of a row that hold
// one; the marked pixels of each tile of BalanceBlock x BalanceBlock make a
// box (those of tiles of a row that a star joins across their border make
// one), and the application records L and M in the blocks the boxes read (the
// box widened by the blurs' reach); then each box is balanced on its own, with
// the margins its blurs read, the boxes spread over all threads. Every value
// is computed the same way on any split, thread count and path.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "filters/sharpening/balance/balance_region_blur.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_store.h"

namespace astrelon {

// Columns per block of the marks, and rows and columns per tile of the boxes.
constexpr int32_t BalanceBlock = 32;

// Where the value of row `row`, column x of a rectangle `blocks` blocks wide
// lies in an array kept in tiles: a block's columns of a row side by side.
inline int64_t BalanceIndex(int32_t blocks, int64_t row, int32_t x) {
  return ((row / BalanceBlock) * blocks + x / BalanceBlock) * (BalanceBlock * BalanceBlock) +
         (row % BalanceBlock) * BalanceBlock + x % BalanceBlock;
}

// What a sharpening's passes fill in for one plane. Height, Wanted and Made
// hold the working rectangle in tiles of BalanceBlock x BalanceBlock (Index),
// so that a box's rows lie close together; Reference holds it row-major (its
// width per row); marks hold one byte per row and block.
struct TBalanceRows {
  float* Height = nullptr;           // before the application; written in the marked blocks only
  uint8_t* Active = nullptr;         // the block holds a height above 0
  uint16_t* Extent = nullptr;        // there: its first and (times 256) last column with one
  const float* Reference = nullptr;  // r per pixel
  const uint8_t* Raised = nullptr;   // r stands above Lo somewhere in the block
  const uint8_t* Needed = nullptr;   // the application records L and M in the block
  float* Wanted = nullptr;           // L
  float* Made = nullptr;             // M
  int32_t Columns = 0, Blocks = 0;
  float Lo = 0, Delta = 0;           // Delta = hi - lo
  bool NeedsChanges(int64_t row, int32_t x) const { return Needed[row * Blocks + x / BalanceBlock] != 0; }
  int64_t Index(int64_t row, int32_t x) const { return BalanceIndex(Blocks, row, x); }
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// The height a pixel of the destination d offers above its reference r where
// its blur b stands above r + delta (lane by lane for a vector).
template <class V>
[[gnu::always_inline]] inline V BalanceHeight(V d, V b, V r, float delta) {
  const V zero = simd::Splat<V>(0.0f);
  const V h = d - r;
  // Blank and NaN values fail both comparisons.
  return (b > r + simd::Splat<V>(delta)) & (h > zero) ? h : zero;
}

#if ASTRELON_HAVE_AVX2
// Whether any of eight lanes has its sign bit set.
ASTRELON_AVX2 inline bool AnySign8(const void* lanes) {
  __m256 v;
  std::memcpy(&v, lanes, sizeof v);
  return _mm256_movemask_ps(v) != 0;
}
#endif

// Whether any lane of a comparison holds (a vector's lanes are 0 or all bits
// set: their sign bits tell).
template <class M>
[[gnu::always_inline]] inline bool AnyLane(M m) {
  if constexpr (std::is_same_v<M, bool>) {
    return m;
#if ASTRELON_HAVE_AVX2
  } else if constexpr (sizeof(M) == 32) {
    return AnySign8(&m);
#endif
#if ASTRELON_HAVE_SSE2
  } else if constexpr (sizeof(M) == 16) {
    __m128 v;
    std::memcpy(&v, &m, sizeof v);
    return _mm_movemask_ps(v) != 0;
#endif
  } else {
    for (int l = 0; l < int(sizeof(M) / sizeof(m[0])); ++l)
      if (m[l]) return true;
    return false;
  }
}

// The heights of row `row` of the rectangle (from 0) from the destination's
// values `dest` and their blur `blur` (both from the rectangle's first column),
// V lanes at a time: a block without a pixel whose blur stands above r + Delta
// is marked empty without reading the destination.
template <class V>
[[gnu::always_inline]] inline void BalanceHeightRow(const TBalanceRows& b, int64_t row, const float* dest,
                                                    const float* blur) {
  using namespace simd;
  constexpr int L = LaneCount<V>;
  const int64_t at = row * b.Columns;  // of the reference
  const uint8_t* raised = b.Raised + row * b.Blocks;
  uint8_t* active = b.Active + row * b.Blocks;
  uint16_t* extent = b.Extent + row * b.Blocks;
  for (int32_t k = 0; k < b.Blocks; ++k) {
    const int32_t x0 = k * BalanceBlock, x1 = std::min(x0 + BalanceBlock, b.Columns);
    const float* ref = raised[k] ? b.Reference + at : nullptr;
    auto reference = [&](auto lanes, int32_t x) __attribute__((always_inline)) {
      using U = decltype(lanes);
      return ref ? LoadLanes<U>(ref + x) : Splat<U>(b.Lo);
    };
    // Whether a blur stands above its reference + Delta: the lanes' marks
    // gathered first, then looked at once.
    auto above = [&](auto lanes, int32_t x) __attribute__((always_inline)) {
      using U = decltype(lanes);
      return LoadLanes<U>(blur + x) > reference(U{}, x) + Splat<U>(b.Delta);
    };
    int32_t x = x0;
    bool any = false;
    if (x + L <= x1) {
      auto marks = above(V{}, x);
      for (x += L; x + L <= x1; x += L) marks = marks | above(V{}, x);
      any = AnyLane(marks);
    }
    for (; x < x1 && !any; ++x) any = above(0.0f, x);
    active[k] = 0;
    if (!any) continue;
    float* h = b.Height + b.Index(row, x0);  // h[x - x0] for the block's columns
    for (x = x0; x + L <= x1; x += L)
      StoreLanes(h + (x - x0),
                 BalanceHeight<V>(LoadLanes<V>(dest + x), LoadLanes<V>(blur + x), reference(V{}, x), b.Delta));
    for (; x < x1; ++x) h[x - x0] = BalanceHeight<float>(dest[x], blur[x], reference(0.0f, x), b.Delta);
    // The first and the last column with a height.
    int32_t first = -1, last = -1;
    for (x = x0; x < x1; ++x)
      if (h[x - x0] > 0) {
        if (first < 0) first = x - x0;
        last = x - x0;
      }
    active[k] = first >= 0;
    extent[k] = uint16_t(std::max(first, 0) | std::max(last, 0) << 8);
  }
}

#pragma GCC diagnostic pop

// The pixels the light given back never darkens: those whose Source value
// exceeds KeepAbove (saturated cores; none without Source). They are not
// lowered at all, or, with TakeBackRise, not below their value before the
// application: the rise it gave them may be taken back. A saturation level
// just below the maximum counts the peak of the brightest unclipped star too,
// which climbs far above its true height when the balance cannot lower it.
// With FloorAtHi no pixel is given back below Hi when it stood at or above Hi
// before the application, nor below that value when it stood below Hi (as the
// PSF sharpening's own steps): the light is taken back from the star's pixels
// in proportion to their room above these floors (r + h = their value before;
// a kept pixel weighs its height, as without the floors), and what they have
// no room for stays; HiAt (one value per pixel of the rectangle, row-major),
// when given, stands for Hi pixel by pixel. On a raised reference (r above
// lo: a nebula) that floor is at least the local background plus the noise
// (r + 2·noise): below it a wing's height is the sky's noise, and taking the
// wings' bright noise pixels down would dig a dark ring around faint stars.
// With Bound (as HiAt; light_within_reach.h) no pixel is raised above it.
struct TGiveBackGuard {
  const float* Source = nullptr;  // the source plane, as wide as the destination
  float KeepAbove = 0;
  bool TakeBackRise = false;
  bool FloorAtHi = false;
  float Hi = 0;
  const float* Bound = nullptr;
  const float* HiAt = nullptr;
};

// The balance's data over the working rectangle, for up to three planes.
class TFluxBalance {
public:
  explicit TFluxBalance(const TWorkRect& rect);

  // Once per plane (1..3) and run, before its first iteration: the reference of
  // the heights from the source plane (w x h), lo and delta = hi - lo of the
  // sharpening, `noise` the source's noise level; `radius` is Gn's (a Gauss
  // radius; Gw's is twice it).
  // `background`, when given, is the source's BalanceBackground with this
  // radius (local_background.h), which the caller already took.
  void Prepare(int plane, std::span<const float> source, int32_t w, int32_t h, float radius, float lo, float delta,
               float noise, bool vector, std::span<const float> background = {});
  // Where the sharpening's passes put the heights and the changes of a
  // prepared plane.
  TBalanceRows Rows(int plane);
  // After the heights, before the application: the boxes, and the blocks in
  // which the application records the changes.
  void Mark(int plane);
  // After the application: gives the light withheld back to the destination
  // plane (`width` columns, the rectangle in image coordinates), sparing the
  // pixels `guard` keeps; `least` is one step of the range.
  void GiveBack(int plane, float* destination, int32_t width, const TGiveBackGuard& guard, float least,
                bool vector);

private:
  struct TSpan {
    int32_t X0, X1, Y0, Y1;  // inclusive, rectangle coordinates
    int32_t Width() const { return X1 - X0 + 1; }
    int32_t Height() const { return Y1 - Y0 + 1; }
    size_t Size() const { return size_t(Width()) * size_t(Height()); }
  };
  // A box: B its tile's marked pixels, Q = B widened by Gn (where the light
  // withheld is needed), P = Q widened by Gw (what the blurs onto Q read) and A
  // the pixels with a height within P.
  struct TBox {
    TSpan B, Q, P, A;
  };
  struct TPlaneReference {
    TPlane Reference;
    std::vector<uint8_t> Raised;
    TBlurTaps Narrow, Wide;  // Gn's and Gw's
    float Lo = 0, Delta = 0, Noise = 0;
  };
  // A thread's work arrays, kept from box to box and from call to call.
  struct TScratch {
    std::vector<float> Wanted, Made, Heights, TakenRate, AskedRate, Columns, Taken, Asked, Sums, Withheld, Given;
  };
  // The floor of FloorAtHi at (y, x) of the rectangle (TGiveBackGuard).
  float FloorOf(const TPlaneReference& p, const TGiveBackGuard& guard, int32_t y, int32_t x) const;
  void BalanceBox(const TPlaneReference& p, const TBox& box, TScratch& s, float* destination, int32_t width,
                  const TGiveBackGuard& guard, float least, bool vector) const;

  TWorkRect rect_;
  int32_t columns_ = 0, rows_ = 0, blocks_ = 0;
  TPlane height_, wanted_, made_;
  std::vector<uint8_t> active_, needed_;
  std::vector<uint16_t> extent_;
  std::vector<TBox> boxes_;
  std::array<TPlaneReference, 4> planes_;
  std::vector<TScratch> scratch_;
};

}  // namespace astrelon
