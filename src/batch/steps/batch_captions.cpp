#include "batch/steps/batch_captions.h"

#include <iterator>

#include "core/language.h"

namespace astrelon {
namespace {

constexpr const char* German[] = {
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
    "Stapel Bearbeitung",
    "Bearbeitungsschritt",
    "Funktion auswählen",
    "Kastenfunktion",
    "Temparaturausgleich",
    "VListe",
    "Verschiebungsfindung:",
    "Normal/Komet",
    "Planet/Mond",
    "nach Timestamp",
    "&Berechnen",
    "% von weiß",
    "Komet/Asteroid:   Zusätzliche Verschiebung pro Serienbild, wenn auf Stern(en) nachgeführt wird:",
    "Komet/Asteroid:   Zusätzliche Verschiebung pro Minute, wenn auf Stern(en) nachgeführt wird:",
    "Explorer starten",
    "Liste löschen",
    "Klicken: Pixelanzahl<>Größenverhältnis",
    "Mehrere Dateien im Dialog auswählen, um eine Liste der zu bearbeitenden Bilder anzulegen.",
    "Neue Liste",
    "Öffnen",
    "Speichern",
    "Vorheriger Schritt",
    "Nächster Schritt",
    "&Start",
    "&Abbruch",
    "Median, MitteM und Sigma müssen als 2.Bearbeitungsschritt folgen.",
    "Die Zwischenschritte müssen getrennt bearbeitet und Zwischengespeichert werden.",
    "Das macht nur mit Verschiebung einen Sinn.",
    "Es muss ein Sensor mit Bayerpattern sein!",
    "In der Anfangsdatei ist nur eine Dateiänderungszeit gefunden worden, soll diese verwendet werden?",
    "In der Anfangsdatei ist leider keine Aufnahmezeit gefunden worden.",
    "Bitte zuerst im 1. Bearbeitungs Schritt die Anfangsdatei auswählen.",
    "Es wird jetzt die Liste für 2 Bilder durchlaufen, bitte den Anweisungen folgen!",
    "Die Anfangsdatei wurde nicht gefunden!",
    "Fehler: ",
    "Der Zielordner:",
    "existiert nicht, soll der Ordner erstellt werden?",
    "Fehler beim Versuch den Zielordner zu erstellen!",
    "Die Zieldatei existiert schon, soll auf dieses Bild aufaddiert werden?",
    " ist keine gültige Zahl",
    "Batch Status",
    "&Pause",
    "&Weiter",
    "&Ok",
    "&Kontrolle an",
    "Sternkontrolle",
    "&Ok, weiter",
    "&Abbrechen",
    "&Bild auslassen",
    "Keine Kontrolle mehr",
    "Soll ich mich wieder melden, wenn es Probleme bei der Positionsbestimmung gibt?",
    "Soll streng geprüft werden (Seeingeinflüsse)?",
    "Bearbeitung fertig.",
    "Abbruch!",
    "Keine weiteren Bilder gefunden.",
    " Bild bearbeitet",
    " Bilder bearbeitet",
    "Bilder ",
    "Datei speichern",
    "Zielbild",
    "Referenzbild",
    "Die Datei ist schon vorhanden",
    "Ja       ->  diese und alle weiteren Dateien überschreiben",
    "Nein    ->  diese Datei überspringen",
    "Abbrechen ->  Stapel Bearbeitung abbrechen",
    " konnte nicht geladen werden.",
    "Das Ergebnis wird erst am Ende sichtbar",
    " Bilder nicht verwendet (zu viele für die Kombination)",
    "Markieren Sie einen Stern",
    "Markieren Sie 2 Sterne",
    "Markieren Sie einen Bereich",
    "Markieren Sie 2 Bereiche",
    "Markieren Sie den Planeten",
    "Markieren Sie mindestens 3 Sterne",
    "Markieren Sie mindestens 3 Bereiche",
    " und klicken danach auf \"Ok, weiter\"!",
    "Markieren Sie den Stern",
    "Markieren Sie die 2 Sterne",
    "Sind die richtigen Sterne",
    "Sind die richtigen Bereiche",
    "Ist der Planet richtig",
    "Ist der richtige Bereich",
    "Ist der richtige Stern",
    " markiert? Wenn nein, dann bitte korrigieren und danach auf \"Ok, weiter\" klicken.",
    "Markieren Sie jetzt den Komet/Asteroid und klicken danach auf \"Ok, weiter\". Direkte Markierung (+) wenn er zu lichtschwach ist.",
    "Fehler, die Seriennummern der Bilder scheinen gleich zu sein!",
    "Fehler, die Zeiten der Bilder scheinen gleich zu sein!",
    "Für die 2. Kometenposition bitte ein Bild nahe am Ende der Serie auswählen!",
    "Die Bayer Spezial Funktion konnte nicht initialisiert werden!",
    " Bilder Bayerspezial addiert",
    "Im Rahmen ist kein Komet/Asteroid zu messen. Bitte den Kometen direkt markieren (+) oder einen Rahmen um "
    "ihn ziehen.",
};
static_assert(std::size(German) == size_t(TBatchCaption::Count));

constexpr int FirstCaptionTag = 100;

}  // namespace

int BatchCaptionKey(TBatchCaption caption) {
  return LangKey(BatchLanguageSection, FirstCaptionTag + int(caption));
}

const char* BatchCaptionGerman(TBatchCaption caption) { return German[size_t(caption)]; }

std::string BatchCaption(TBatchCaption caption) {
  return LangTextOr(BatchCaptionKey(caption), BatchCaptionGerman(caption));
}

std::string CouldNotOpenMessage(const std::string& name) {
  return BatchCaption(TBatchCaption::Error) + name + "\r\n" + BatchCaption(TBatchCaption::CouldNotOpen);
}

}  // namespace astrelon
