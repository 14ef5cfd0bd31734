#pragma once
// The percentile levels of a rectangle from order statistics: the bins the
// histogram walk ends at, found without the histogram. The bin grows with the
// value, so the walk's bin is the bin of the value of a certain rank. A sample
// of the rectangle gives a window of values around each such rank; one pass
// over the pixels finds the minimum and maximum, counts the values below each
// window and gathers those inside, and the rank is selected among them.
//
// The pass can be run by a routine that reads the rectangle anyway, so that
// the pixels come from memory once: it hands every pixel of the rectangle to
// exactly one part, on any threads, and merges the parts.
#include <cstdint>
#include <memory>
#include <span>

#include "store/image_slot.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace percentile {

enum class TWindowKind { None, Lower, Middle, Upper };

// The values around one rank: Lower has no Lo, Upper no Hi (both inclusive).
struct TWindow {
  TWindowKind Kind = TWindowKind::None;
  float Lo = 0, Hi = 0;
  int64_t Below = 0;  // valid values below Lo (Middle only)

  bool Inside(float v) const {
    switch (Kind) {
      case TWindowKind::Lower: return IsValidPixel(v) && v <= Hi;
      case TWindowKind::Upper: return v >= Lo;
      case TWindowKind::Middle: return IsValidPixel(v) && !(v < Lo) && v <= Hi;
      default: return false;
    }
  }
};

// Values lying in either window, in reading order. Size counts all of them;
// more than Capacity means the gathering overflowed. Room for 16 values past
// the capacity, so that vector loops may store whole vectors.
struct TGather {
  std::unique_ptr<float[]> Data;
  int64_t Capacity = 0;
  int64_t Size = 0;
  TGather() = default;
  explicit TGather(int64_t capacity)
      : Data(std::make_unique_for_overwrite<float[]>(size_t(capacity) + 16)), Capacity(capacity) {}
  void Take(float v) {
    if (Size < Capacity) Data[size_t(Size)] = v;
    ++Size;
  }
  bool Overflowed() const { return Size > Capacity; }
};

// What the pass learns besides the windows: the number of valid values, the
// smallest valid value and the largest value (raw: a value above 1e18 means the
// rectangle still needs clamping).
struct TPassStats {
  int64_t Valid = 0;
  float Min = 1e20f;
  float Max = BlankLimit;
};

}  // namespace percentile

class TLevelSelection {
public:
  // Samples the w x h rectangle (rows `stride` apart, w, h >= 1) for the levels
  // at pctA and pctB (0..100).
  TLevelSelection(std::span<const float> rect, int32_t w, int32_t h, int64_t stride, double pctA, double pctB);

  // False when the sample holds too few valid values: the histogram decides.
  bool Usable() const { return usable_; }
  // The values between which level A's value lies when the selection succeeds;
  // false when a side of its window is open.
  bool WindowA(float& lo, float& hi) const;

  // Takes pixels of the pass; `vector` picks the vector loops (the same results).
  class TPart {
  public:
    // Rows of w pixels, `stride` apart.
    void AddRows(const float* base, int32_t w, int32_t h, int64_t stride) {
      rows_(base, w, h, stride, A, B, Gather, Stats);
    }

  private:
    friend class TLevelSelection;
    TPart(const TLevelSelection& s, bool vector);
    using TRowsFn = void (*)(const float*, int32_t, int32_t, int64_t, percentile::TWindow&, percentile::TWindow&,
                             percentile::TGather&, percentile::TPassStats&);
    percentile::TWindow A, B;
    percentile::TGather Gather;
    percentile::TPassStats Stats;
    TRowsFn rows_;
  };
  std::unique_ptr<TPart> NewPart(bool vector) const;
  // Adds a part's counts and values (any order of parts gives the same result).
  void Merge(TPart& part);
  // The pass over rows of the rectangle, in bands of rows on threads
  // (PassThreads), merged.
  void AddRect(const float* base, int32_t w, int32_t h, int64_t stride, bool vector);

  enum class TResult {
    Done,        // levels set (LevelA, LevelB, RectMin, RectMax)
    NoValid,     // no valid pixel; mn, mx set
    NeedsClamp,  // a value above 1e18: clamp the rectangle and start again
    Fallback     // a rank outside its window: the histogram decides; mn, mx set
  };
  // After every pixel went to a merged part. Sets mn and mx (the rectangle's
  // minimum and maximum as RectMinMax finds them) unless it needs clamping.
  TResult Finish(TPercentileLevels& levels, float& mn, float& mx, bool vector);

private:
  bool usable_ = false;
  bool same_ = false;
  double pctA_ = 0, pctB_ = 0;
  int64_t capacity_ = 0;  // of each part's gathering
  percentile::TWindow a_, b_;
  percentile::TGather gather_;  // the parts' values (the first part's buffer)
  percentile::TPassStats stats_;
};

}  // namespace astrelon
