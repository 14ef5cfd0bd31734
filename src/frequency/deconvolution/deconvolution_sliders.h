#pragma once
// The sliders of the deconvolution dialog and its PSF designer: their ranges,
// the values their positions stand for and how the fields show them.
#include <cstdint>
#include <string>

namespace astrelon {

constexpr int32_t NoiseSliderMax = 45;     // "Bildrauschen:"
constexpr int32_t NoiseSliderStart = 23;   // noise 1.00
constexpr int32_t StrengthSliderMax = 30;  // "Stärke", linear .. quadr.
constexpr int32_t RadiusSliderMax = 100;
constexpr int32_t Radius1SliderStart = 9;  // "1.5"
constexpr int32_t Radius2SliderStart = 15; // "3.3"
constexpr int32_t AspectSliderMax = 32;
constexpr int32_t AspectSliderStart = 16;  // "1.00"
constexpr int32_t WeightSliderMax = 45;    // weight (45 − position)/45
constexpr int32_t ShapeSliderStart = 10;   // the Gauss shape

// Noise factor: (45 − position)²/484, so that position 23 gives 1.00; two decimals.
double DeconvolutionNoise(int32_t position);
std::string DeconvolutionNoiseText(double noise);

// Radius: (position/9)² + 0.5, shown with one decimal.
double PsfRadiusOfPosition(int32_t position);
std::string PsfRadiusText(double radius);

// Y/X: t = position − 16; 1 + 0.04 t² for t > 0, else 1/(1 + 0.04 t²); one
// decimal from 10 on, else two.
double PsfAspectOfPosition(int32_t position);
std::string PsfAspectText(double aspect);

// PSF2 weight: (45 − position)/45, two decimals.
double PsfWeightOfPosition(int32_t position);
std::string PsfWeightText(double weight);

}  // namespace astrelon
