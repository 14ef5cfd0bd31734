#include "shell/stars/star_results.h"

#include <cmath>

#include "common/pascal_format.h"
#include "shell/main/main_texts.h"

namespace astrelon {

std::array<std::string, 7> StarResultTexts;

namespace {

std::string Fixed(double v, int precision) { return FloatToStrF(v, TFloatFormat::Fixed, precision, 2); }

}  // namespace

void FormatStarResults(const TStarCutout& c) {
  StarResultTexts[0] = c.FileName;
  StarResultTexts[1] = Fixed(double(c.OriginX) + c.CentreX, 6);
  StarResultTexts[2] = Fixed(double(c.OriginY) + c.CentreY, 6);
  StarResultTexts[3] = Fixed(c.FullWidthX, 4);
  StarResultTexts[4] = Fixed(c.FullWidthY, 4);
  StarResultTexts[5] = Fixed(c.Flux, 9);
  StarResultTexts[6] = c.Flux > 0 ? Fixed(-2.5 * std::log10(double(c.Flux)), 4) : "-";
}

TComparisonTexts CompareStars(const TStarCutout& measured, const TStarCutout& locked) {
  const std::string& magnitude = MainTexts.InfoLabels[8];  // "rMag:"
  const std::string& distance = MainTexts.InfoLabels[7];   // "Abstand:"
  if (!(measured.Flux > 0 && locked.Flux > 0)) return {magnitude + "-", ""};
  const double mag = -2.5 * std::log10(double(measured.Flux)) + 2.5 * std::log10(double(locked.Flux));
  const double dx = (double(measured.OriginX) + measured.CentreX) - (double(locked.OriginX) + locked.CentreX);
  const double dy = (double(measured.OriginY) + measured.CentreY) - (double(locked.OriginY) + locked.CentreY);
  return {magnitude + Fixed(mag, 4), distance + Fixed(std::sqrt(dx * dx + dy * dy), 4)};
}

}  // namespace astrelon
