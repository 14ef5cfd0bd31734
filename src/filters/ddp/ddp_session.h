#pragma once
// The state of one use of the DDP dialog: the blurred copy of the source in the
// filter unit's blur slot, the radius it was made with (invalid after an
// abort), its luminance for the "L" masks, and the black level and range the
// compression is scaled with.
#include <array>
#include <cstdint>

#include "kernels/gauss/filter_poll.h"
#include "store/image_slot.h"

namespace astrelon {

// Mask choices of the colour planes: "R", "G", "B" take that plane of the
// blur, "L" its luminance.
enum TDdpMask : int32_t { DdpMaskR = 0, DdpMaskG = 1, DdpMaskB = 2, DdpMaskL = 3 };

// Packed-parameter positions and defaults of the two sliders (0..99 each).
constexpr int DdpGammaParam = 19, DdpRadiusParam = 21;
constexpr int DdpGammaDefault = 25, DdpRadiusDefault = 15;
constexpr int DdpSliderMax = 99;

enum class TDdpCompute { Done, Aborted, NoImage };

class TDdpSession {
public:
  // Takes FilterBlurSlot (a free slot when it is below 1) as a copy of the
  // destination and measures the black level B (1 % level) and the range A =
  // (99.8 % level - B) / 1.4 + 0.1 of plane 1 of the source. False, with
  // nothing held, when no slot is free or the copy fails.
  bool Start(int source, int destination);
  // Blurs the source anew when `radiusPosition` differs from the cached one
  // (radius position x 0.1, fGauss at full strength, progress in the
  // destination's window; an abort leaves the cache invalid), then computes
  // the selected planes of the destination from the source and the blur, each
  // colour plane p divided by the blur plane that masks[p] names. `multicore`
  // runs rows on all cores with the same result.
  TDdpCompute Compute(int gammaPosition, int radiusPosition, const std::array<int32_t, 4>& masks, bool multicore);
  // Releases the blur slot and the luminance.
  void End();

  // The radius position the blur holds; -1 when none (never made or aborted).
  int32_t CachedRadius() const { return cachedRadius_; }
  void InvalidateBlur() { cachedRadius_ = -1; }
  float Black() const { return black_; }
  float Range() const { return range_; }
  bool Active() const { return destination_ >= 1; }

private:
  int source_ = -1, destination_ = -1;
  int32_t cachedRadius_ = -1;
  float black_ = 0, range_ = 1, floor_ = 0;
  TPlane luminance_;
};

}  // namespace astrelon
