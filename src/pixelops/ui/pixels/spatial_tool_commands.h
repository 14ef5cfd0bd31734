#pragma once
// Menu commands of the JPEG artefact reduction, the cross edge image, the
// windowed-sinc low pass, the image shift and the frequency-response match.
namespace astrelon {

void RegisterSpatialToolCommands();

}  // namespace astrelon
