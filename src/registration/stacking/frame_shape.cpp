#include "registration/stacking/frame_shape.h"

#include "core/language.h"

namespace astrelon {

std::string OtherFrameShapeText(const std::string& fileName) {
  return fileName + "\r\n" + " hat nicht die Größe oder die Farbebenen des ersten Bildes und wird ausgelassen.";
}

std::string TooFewFramesText(int combined) {
  return "Nur " + std::to_string(combined) +
         " Bilder konnten gelesen werden, für die Kombination sind mindestens 3 nötig: es wurde kein Bild erstellt.";
}

std::string TooFewSlotsText() { return LangTextOr(LangKey(9, 35), "Es sind zu viele Bilder geöffnet."); }

}  // namespace astrelon
