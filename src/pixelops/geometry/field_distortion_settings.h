#pragma once
// The parameters of the field-distortion correction as the dialog "Bildfeld
// Entzerrung" shows them: the model (its page) and the texts of its edits. One
// program-wide record holds the live values: the dialog edits it, ".qzk" files
// load and store it, and the correction and the batch read it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace astrelon {

enum class TDistortionPage : int32_t {
  Pincushion = 0,  // "Kissenentzerrung": radial polynomial
  Planet = 1,      // "Planet": a sphere's disc unwrapped into longitude and latitude
  Panorama = 2,    // "Panorama": a 180° fisheye turned into a cylindrical panorama
};

// The numbers as typed; the correction reads them with "," or "." as the
// decimal separator.
struct TDistortionSettings {
  TDistortionPage Page = TDistortionPage::Pincushion;
  std::string A = "0.00", B = "0.00", C = "0.00", D = "1.00";
  bool HorizontalOnly = false;          // "Nur horizontal"
  std::string CentreX = "0.5", CentreY = "0.5";
  std::string PlanetWidth = "1.00";     // "X  Breite"
  std::string PlanetFactor = "1.00";    // "Y Faktor"
  std::string LimbContrast = "3.0";     // "Randkontrast"
  std::string PanoramaWidth = "1.00";   // "X  Breite (180°)"
  std::string PanoramaFactor = "1.00";  // "Y Faktor"
  std::string Horizon = "0.5";          // "Y Horizont"

  bool operator==(const TDistortionSettings&) const = default;
};

// The live settings.
extern TDistortionSettings DistortionSettings;
// Called after DistortionSettings was loaded outside the dialog, so that an open
// dialog shows the new values.
extern std::function<void()> DistortionSettingsChangedHook;

// One field of the settings that holds a number, for naming the one that is not.
enum class TDistortionField : int32_t {
  A, B, C, D, CentreX, CentreY, PlanetWidth, PlanetFactor, LimbContrast, PanoramaWidth, PanoramaFactor, Horizon
};

// The numbers of the current page, read from the texts.
struct TDistortionValues {
  TDistortionPage Page = TDistortionPage::Pincushion;
  double A = 0, B = 0, C = 0, D = 1;
  bool HorizontalOnly = false;
  double CentreX = 0.5, CentreY = 0.5;
  double Width = 1, Factor = 1;  // of the planet or the panorama page
  double LimbContrast = 3.0;
  double Horizon = 0.5;
};

// The values the current page uses. A text that is not a finite number gives
// nullopt, and `bad` (when given) names its field.
std::optional<TDistortionValues> DistortionValues(const TDistortionSettings& s, TDistortionField* bad = nullptr);

}  // namespace astrelon
