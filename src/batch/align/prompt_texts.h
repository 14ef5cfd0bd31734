#pragma once
// The texts of the star-check prompt: what to mark on the first image, what
// to confirm or mark again on a later one, and the comet's position.
#include <cstdint>
#include <string>

namespace astrelon {

// How the run measures its marks.
enum class TMarkKind { Stars, Areas, Planet };

// The kind: areas in the cross-correlation shift mode, a planet when shifts
// are found by disc centres, else stars.
TMarkKind RunMarkKind();

// First image: "Markieren Sie einen Stern", "… 2 Sterne", "… einen Bereich",
// "… 2 Bereiche", "… den Planeten", "… mindestens 3 Sterne/Bereiche"
// (multipoint), followed by " und klicken danach auf "Ok, weiter"!".
std::string FirstImagePrompt(int32_t marks, TMarkKind kind);
// A later image whose target carries a direct mark: "Markieren Sie den Stern"
// or "… die 2 Sterne" and the same ending.
std::string DirectMarkPrompt(int32_t marks);
// A later image to confirm: multipoint and two marks "Sind die richtigen
// Bereiche" (areas or planet) or "Sind die richtigen Sterne"; one mark "Ist
// der Planet richtig", "Ist der richtige Bereich" or "Ist der richtige Stern";
// followed by " markiert? Wenn nein, dann bitte korrigieren und danach auf
// "Ok, weiter" klicken.".
std::string ConfirmPrompt(int32_t marks, TMarkKind kind);
// "Markieren Sie jetzt den Komet/Asteroid …".
std::string CometPrompt();

}  // namespace astrelon
