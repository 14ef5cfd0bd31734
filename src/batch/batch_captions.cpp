#include "batch/batch_captions.h"

#include <array>

#include "core/language.h"

namespace astrelon {
namespace {

constexpr std::array<const char*, size_t(TBatchCaption::Count)> German = {
    "Dateiliste",
    "Pixelanzahl X:",
    "Pixelanzahl Y:",
    "Verschiebung",
    "Pro Minute",
    "Randerkennung",
    "Kreuzkorrelation",
    "Bayer spezial",
    "Alle Dateien im Ordner",
    "Box Function",
    "Maximum Werte (Proportion beibehalten)",
    "Temperaturausgleich",
    "Anzahl Markierungen",
    "Funktion",
    "Interpolation",
    "Die Datei ",
    " konnte nicht geöffnet werden.",
    "Fehler beim Abspeichern der Datei",
};

constexpr int FirstCaptionTag = 100;

}  // namespace

int BatchCaptionKey(TBatchCaption caption) {
  return LangKey(BatchLanguageSection, FirstCaptionTag + int(caption));
}

const char* BatchCaptionGerman(TBatchCaption caption) { return German[size_t(caption)]; }

std::string BatchCaption(TBatchCaption caption) {
  return LangTextOr(BatchCaptionKey(caption), BatchCaptionGerman(caption));
}

}  // namespace astrelon
