#include "registration/stacking/frame_shape.h"

#include "core/language.h"

namespace astrelon {

std::string OtherFrameShapeText(const std::string& fileName) {
  return fileName + "\r\n" + " hat nicht die Größe oder die Farbebenen des ersten Bildes und wird ausgelassen.";
}

std::string TooFewSlotsText() { return LangTextOr(LangKey(9, 35), "Es sind zu viele Bilder geöffnet."); }

}  // namespace astrelon
