#pragma once
// The levels both iterative sharpenings ("PSF schärfen" and "Iteratives Gauss
// schärfen") take from their source before the first iteration: the strength,
// the noise measure and the levels below which the background, and below that
// the noise, are spared. Each plane has its own: its background (the 5 % level),
// its noise and its range (its own minimum and maximum), so that a colour plane
// is sharpened as the same plane would be as a grey picture, whatever the sky
// and the noise of the other planes (a light-polluted sky, an unbalanced camera).
#include <cstdint>

#include "platform/vector_lanes.h"

namespace astrelon {

// The strength s and the noise measure n: a strength up to 1 (raised to at
// least 0.1) divides the noise, a larger one divides it by its square and is
// then capped at 1.3.
struct TSharpenStrength {
  float S = 0.1f, N = 0;
};
TSharpenStrength SharpenStrength(float strength, float noise);

// "PSF schärfen" on plane `plane` of the source: strength = value 1;
// `blackThreshold` is "Schwarzschwelle". Values at or above Hi are never pushed
// below it; values below it only rise. Range is the plane's value range
// (maximum - minimum), Step one level of it in 16 bits, the least height above
// Lo that the correction counts with. Background is the plane's background
// (its 5 % level), Noise its noise level (before the strength divides it), Clip
// its clipping level (clipping_level.h): what the kept cores are found with
// (kept_cores.h).
struct TPsfSharpenLevels {
  float S = 0, N = 0, A = 0, B = 0;
  float Lo = 0, Hi = 0, C = 0, D = 0, Range = 0, Step = 0, Background = 0, Noise = 0, Clip = 0;
};
TPsfSharpenLevels PsfSharpenLevels(int source, int plane, float strength, bool blackThreshold);

// "Iteratives Gauss schärfen" on plane `plane` of the source: strength = value
// 3 / 100, radius = value 1. Values at or below Lo stay; Sat is the level
// above which a source value is not darkened; Step is one level of the plane's
// value range in 16 bits; Background, Noise and Clip as above.
struct TGaussSharpenLevels {
  float S = 0, N = 0, A = 0, B = 0;
  float Lo = 0, Hi = 0, C = 0, D = 0, W = 0, Sat = 0, Step = 0, Background = 0, Noise = 0, Clip = 0;
};
TGaussSharpenLevels GaussSharpenLevels(int source, int plane, float strength, bool blackThreshold, float radius);

// The number of iterations for the slider value "Iterationen", rounded half to even.
int32_t SharpenIterations(float value);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
// The soft step of both sharpenings: u / (u + w) for u > 0, else u / (u - w)
// (lane by lane for a vector).
template <class V>
[[gnu::always_inline]] inline V SoftStep(V u, float w) {
  const V wv = simd::Splat<V>(w);
  return u > simd::Splat<V>(0.0f) ? u / (u + wv) : u / (u - wv);
}
#pragma GCC diagnostic pop

}  // namespace astrelon
