#pragma once
// German texts of the batch window's controls and the batch's messages, with
// their translation keys: the translated batch text and the window take them
// from here. Section 37 of the translation file holds the batch: entries
// [r.1] to [r.6] the name, four labels and option caption of operation-table
// row r (1..44), entries [100] and up the texts below in their order.
#include <string>

namespace astrelon {

enum class TBatchCaption {
  FileList,          // "Dateiliste": the start value while the input list is used
  PixelCountX,       // "Pixelanzahl X:"
  PixelCountY,       // "Pixelanzahl Y:"
  Shift,             // "Verschiebung"
  PerMinute,         // "Pro Minute"
  EdgeDetection,     // "Randerkennung": item of the shift-finding radio group
  CrossCorrelation,  // "Kreuzkorrelation": the other item
  BayerPage,         // "Bayer spezial": page of the add-to-target step
  AllFiles,          // "Alle Dateien im Ordner"
  BoxFunction,       // "Box Function"
  MaximumValues,     // "Maximum Werte (Proportion beibehalten)"
  TemperatureComp,   // "Temperaturausgleich"
  MarksGroup,        // "Anzahl Markierungen"
  FunctionGroup,     // "Funktion"
  InterpolationGroup,  // "Interpolation"
  TheFile,           // "Die Datei "
  CouldNotOpen,      // " konnte nicht geöffnet werden."
  SaveFailed,        // "Fehler beim Abspeichern der Datei"
  Count
};

constexpr int BatchLanguageSection = 37;

// Translation key of a caption.
int BatchCaptionKey(TBatchCaption caption);
// The German text of a caption.
const char* BatchCaptionGerman(TBatchCaption caption);
// The translated text, or the German one when no translation is loaded or the
// entry is missing.
std::string BatchCaption(TBatchCaption caption);

}  // namespace astrelon
