#pragma once
// Texts of the main window that other parts of the program show: a set of
// message words, the labels of the info panel and the names and letters of the
// colour channels. They start German; the main window's first showing replaces
// them from the translation file (ApplyTranslatedMainTexts).
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

struct TMainTexts {
  std::string Stamp = "Stempel";
  std::string NetworkFilter = "NN-Filter";
  std::string Colour = "Farbe";
  std::string AbortWithEsc = "(Abbruch mit ESC)";
  std::string Value = "Wert";
  std::string HalfFrame = "Halbbild";
  std::string Image = "Bild";
  std::string ErrorPrefix = "Fehler: ";
  std::string NotLoaded = " konnte nicht geladen werden.";
  std::string Size = "Größe";
  std::string ZoomPrefix = "Zoom: ";
  std::string ComputeImage = "Bild berechnen";
  std::string Input = "Eingabe";
  std::string Cutout = "Ausschnitt";
  std::string Images = "Bilder ";
  std::string OpenScaling = "Bildskalierung öffnen";
  std::string Compute = "Berechnen";
  std::string Interrupt = "Unterbrechen";
  // The two hints of the colour-space button: grey images, colour images.
  std::string PaletteHint = "Farbpalette";
  std::string ColourSpaceHint = "Farbraum";
  // The nine labels of the info panel.
  std::array<std::string, 9> InfoLabels{"Locked PSF", "fwhmX:", "fwhmY:", "Flux:", "Mag:",
                                        "<L> to lock", "<M> rel Mag", "Abstand:", "rMag:"};
  // Channels 1..3 (index 0 unused): names, and the parts of separated channel
  // files' names for the RGB and the YUV model.
  std::array<std::string, 4> ChannelNames{"", "Rot", "Grün", "Blau"};
  std::array<std::string, 4> ChannelFileParts{"", "Rot_Kanal_", "Gruen_Kanal_", "Blau_Kanal_"};
  std::array<std::string, 4> YuvFileParts{"", "Y_Kanal_", "U_Kanal_", "V_Kanal_"};
  // The channel letters of the two colour models.
  std::string RgbLetters = "RGB";
  std::string YuvLetters = "YUV";
};

extern TMainTexts MainTexts;

// Puts the German start values back (tests).
void ResetMainTexts();
// Replaces the texts from the loaded translation file: a missing entry empties a
// text unless the text is one that keeps its German value then. Nothing happens
// without a translation file.
void ApplyTranslatedMainTexts();
// The translated "not loaded" text: a text longer than 10 characters that starts
// with "DCRAW" (any case) loses the part before its first blank.
std::string NotLoadedText(const std::string& translated);
// Appends a blank to each info-panel label when the first does not end with one.
void PadInfoLabels();

// Panel 2 of the main status bar: " Freier Speicher: 1234.5 MByte, 3 Bilder"
// (" Bild" for one image; translated words with a translation file).
std::string StatusLineText(uint64_t freeBytes, int imageCount);
// Free memory below this shows the status line in red.
constexpr double LowMemoryMBytes = 10.0;

}  // namespace astrelon
