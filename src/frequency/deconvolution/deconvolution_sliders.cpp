#include "frequency/deconvolution/deconvolution_sliders.h"

#include "common/pascal_format.h"

namespace astrelon {

namespace {

std::string Fixed(double v, int decimals) { return FloatToStrF(v, TFloatFormat::Fixed, 15, decimals); }

}  // namespace

double DeconvolutionNoise(int32_t position) {
  const double t = NoiseSliderMax - position;
  return t * t / 484.0;
}

std::string DeconvolutionNoiseText(double noise) { return Fixed(noise, 2); }

double PsfRadiusOfPosition(int32_t position) {
  const double t = position / 9.0;
  return t * t + 0.5;
}

std::string PsfRadiusText(double radius) { return Fixed(radius, 1); }

double PsfAspectOfPosition(int32_t position) {
  const double t = position - AspectSliderStart;
  const double q = 1.0 + 0.04 * t * t;
  return t > 0 ? q : 1.0 / q;
}

std::string PsfAspectText(double aspect) { return Fixed(aspect, aspect >= 10 ? 1 : 2); }

double PsfWeightOfPosition(int32_t position) { return (WeightSliderMax - position) / 45.0; }

std::string PsfWeightText(double weight) { return Fixed(weight, 2); }

}  // namespace astrelon
