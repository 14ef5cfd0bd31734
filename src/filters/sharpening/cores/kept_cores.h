#pragma once
// The clipped cores the iterative sharpenings keep. The iterations run on the
// picture as it is, its clipped cores included: a core held at its level in
// the iterations leaves the star's light to its rim and to the sky or nebula
// around it, which the steps then raise and lower (rims far above the white
// level, deeper rings beside it, a nebula darkened), and the change travels on
// with every iteration, far beyond the star. What a run shows, after each
// iteration and at its end, is the iterated picture with each core at its
// source value and no pixel within CoreReach of a core's pixels above the
// highest of them within reach, nor below its own source value: the star's
// light a clipped core holds is not known, so its surroundings are not
// narrowed towards it; each iteration goes on
// from the iterated values. The iterations raise a clipped core far above its
// level, and with it pixels up to two beyond it; further out the light they
// leave lies below the core's level.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

// How far from a core's pixels (in pixels, Euclidean) no pixel is shown above
// them.
constexpr float CoreReach = 3.0f;

class TKeptCores {
public:
  // Once per plane (1..3) and run: the cores of the source plane (w x h;
  // clipped_cores.h with the plane's background, noise and clipping level) and
  // the pixels of the rectangle within their reach.
  void Prepare(int plane, std::span<const float> source, int32_t w, int32_t h, const TWorkRect& rect,
               float background, float noise, float clip);
  // After an iteration: the destination plane shows the kept cores; the
  // iterated values there are kept aside.
  void Show(int plane, std::span<float> destination);
  // Before the next iteration: the iterated values back.
  void Resume(int plane, std::span<float> destination);

private:
  // A pixel the run shows otherwise: a core's (at Top, its source value) or
  // one within reach (within Floor, its source value, and Top: the highest
  // value of the core pixels within reach, or its own source value when that
  // is higher).
  struct TEntry {
    int64_t At = 0;
    float Top = 0, Floor = 0;
    bool Core = false;
  };
  std::array<std::vector<TEntry>, 4> entries_;
  std::array<std::vector<float>, 4> iterated_;
  std::array<bool, 4> shown_{};
};

}  // namespace astrelon
