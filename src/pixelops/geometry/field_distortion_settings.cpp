#include "pixelops/geometry/field_distortion_settings.h"

#include <cmath>
#include <utility>

#include "common/number_text.h"

namespace astrelon {

TDistortionSettings DistortionSettings;
std::function<void()> DistortionSettingsChangedHook;

std::optional<TDistortionValues> DistortionValues(const TDistortionSettings& s, TDistortionField* bad) {
  TDistortionValues v;
  v.Page = s.Page;
  v.HorizontalOnly = s.HorizontalOnly;
  using F = TDistortionField;
  const auto read = [&](const std::string& text, F field, double& out) {
    const std::optional<double> n = TryStrToFloatDot(text);
    if (n && std::isfinite(*n)) {
      out = *n;
      return true;
    }
    if (bad) *bad = field;
    return false;
  };
  bool ok = read(s.CentreX, F::CentreX, v.CentreX) && read(s.CentreY, F::CentreY, v.CentreY);
  switch (s.Page) {
    case TDistortionPage::Pincushion:
      ok = ok && read(s.A, F::A, v.A) && read(s.B, F::B, v.B) && read(s.C, F::C, v.C) && read(s.D, F::D, v.D);
      break;
    case TDistortionPage::Planet:
      ok = ok && read(s.PlanetWidth, F::PlanetWidth, v.Width) && read(s.PlanetFactor, F::PlanetFactor, v.Factor) &&
           read(s.LimbContrast, F::LimbContrast, v.LimbContrast);
      break;
    case TDistortionPage::Panorama:
      ok = ok && read(s.PanoramaWidth, F::PanoramaWidth, v.Width) &&
           read(s.PanoramaFactor, F::PanoramaFactor, v.Factor) && read(s.Horizon, F::Horizon, v.Horizon);
      break;
  }
  if (!ok) return std::nullopt;
  return v;
}

}  // namespace astrelon
