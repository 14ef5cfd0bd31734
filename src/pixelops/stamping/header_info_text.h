#pragma once
// The information text of a caption, built from an image's header cards:
// object, telescope, filter, camera and temperature, exposure, date, time,
// observer, origin and the coordinates.
#include <array>
#include <string>

namespace astrelon {

// The header keys a caption can show, in the order of the dialog's boxes.
enum class THeaderInfoKey {
  Object, Telescope, Exposure, DateObs, TimeObs, Observer, Origin, Instrument, Ra, Dec, CcdTemp, Filters
};
constexpr int HeaderInfoKeyCount = 12;

// The box's caption ("OBJECT", "TIME-OBS (UT)", "INSTRUME(nt)", …).
const char* HeaderInfoCaption(THeaderInfoKey key);

// Whether the slot's header holds a value for the key (the camera, exposure and
// time keys accept their alternatives "CAMERA", "EXPTIME" and "UT").
bool HeaderInfoAvailable(int slot, THeaderInfoKey key);

using THeaderInfoChoice = std::array<bool, HeaderInfoKeyCount>;

// The text from the ticked keys, appended to `text` after ", " (a ticked object
// replaces it), the coordinates on a new line.
std::string BuildHeaderInfoText(int slot, const THeaderInfoChoice& ticked, std::string text);

}  // namespace astrelon
