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
  // The batch window.
  WindowTitle,       // "Stapel Bearbeitung"
  EditorStep,        // "Bearbeitungsschritt": the editor's title after "n. "
  ChooseFunction,    // "Funktion auswählen": the operation button of an empty step
  BoxFunctionBox,    // "Kastenfunktion": the box-function check box
  TemperatureBox,    // "Temparaturausgleich": the temperature check box, spelt as shown
  ShiftListBox,      // "VListe"
  ShiftFinding,      // "Verschiebungsfindung:"
  NormalPage,        // "Normal/Komet"
  PlanetPage,        // "Planet/Mond"
  ByTimestamp,       // "nach Timestamp"
  Compute,           // "&Berechnen"
  PercentOfWhite,    // "% von weiß"
  CometPerFrame,     // the comet fields' caption per series image
  CometPerMinute,    // the comet fields' caption per minute
  StartExplorer,     // "Explorer starten"
  ClearList,         // "Liste löschen"
  PixelCountToggle,  // "Klicken: Pixelanzahl<>Größenverhältnis"
  BrowseHint,        // hint of the browse button (several files make a list)
  NewList,           // "Neue Liste"
  OpenBatch,         // "Öffnen"
  SaveBatch,         // "Speichern"
  PreviousStep,      // "Vorheriger Schritt"
  NextStep,          // "Nächster Schritt"
  Start,             // "&Start"
  Abort,             // "&Abbruch": the window's close button and the status window's abort
  // Messages of the window and of the start.
  MedianStep,        // "Median, MitteM und Sigma müssen als 2.Bearbeitungsschritt folgen."
  MedianSeparately,  // "Die Zwischenschritte müssen getrennt bearbeitet und Zwischengespeichert werden."
  NeedsShift,        // "Das macht nur mit Verschiebung einen Sinn."
  NeedsBayer,        // "Es muss ein Sensor mit Bayerpattern sein!"
  OnlyFileTime,      // the start file has only a modification time: use it?
  NoObservationTime, // "In der Anfangsdatei ist leider keine Aufnahmezeit gefunden worden."
  ChooseStartFirst,  // "Bitte zuerst im 1. Bearbeitungs Schritt die Anfangsdatei auswählen."
  TwoImageRun,       // "Es wird jetzt die Liste für 2 Bilder durchlaufen, bitte den Anweisungen folgen!"
  StartNotFound,     // "Die Anfangsdatei wurde nicht gefunden!"
  Error,             // "Fehler: "
  TargetFolder,      // "Der Zielordner:"
  CreateFolder,      // "existiert nicht, soll der Ordner erstellt werden?"
  CreateFolderFailed,  // "Fehler beim Versuch den Zielordner zu erstellen!"
  TargetExists,      // "Die Zieldatei existiert schon, soll auf dieses Bild aufaddiert werden?"
  NotANumber,        // " ist keine gültige Zahl"
  // The status window and the star-check prompt.
  StatusTitle,       // "Batch Status"
  Pause,             // "&Pause"
  Continue,          // "&Weiter"
  Ok,                // "&Ok"
  CheckOn,           // "&Kontrolle an"
  PromptTitle,       // "Sternkontrolle"
  OkContinue,        // "&Ok, weiter"
  Cancel,            // "&Abbrechen"
  SkipImage,         // "&Bild auslassen"
  NoMoreChecks,      // "Keine Kontrolle mehr"
  AskReport,         // "Soll ich mich wieder melden, wenn es Probleme bei der Positionsbestimmung gibt?"
  AskStrict,         // "Soll streng geprüft werden (Seeingeinflüsse)?"
  // The run.
  RunFinished,       // "Bearbeitung fertig."
  RunAborted,        // "Abbruch!"
  NoMoreImages,      // "Keine weiteren Bilder gefunden."
  OneImageDone,      // " Bild bearbeitet"
  ImagesDone,        // " Bilder bearbeitet"
  Images,            // "Bilder ": before the combination's name ("5 Bilder Add")
  SavingFile,        // "Datei speichern"
  TargetImage,       // "Zielbild": the target's name when none is given
  ReferenceImage,    // "Referenzbild"
  FileExistsTitle,   // "Die Datei ist schon vorhanden": caption of the overwrite question
  OverwriteYes,      // "Ja       ->  diese und alle weiteren Dateien überschreiben"
  OverwriteNo,       // "Nein    ->  diese Datei überspringen"
  OverwriteCancel,   // "Abbrechen ->  Stapel Bearbeitung abbrechen"
  CouldNotLoad,      // " konnte nicht geladen werden."
  ResultAtEnd,       // "Das Ergebnis wird erst am Ende sichtbar"
  FramesLeftOut,     // " Bilder nicht verwendet (zu viele für die Kombination)"
  // Marks and the comet.
  MarkOneStar,       // "Markieren Sie einen Stern"
  MarkTwoStars,      // "Markieren Sie 2 Sterne"
  MarkOneArea,       // "Markieren Sie einen Bereich"
  MarkTwoAreas,      // "Markieren Sie 2 Bereiche"
  MarkPlanet,        // "Markieren Sie den Planeten"
  MarkThreeStars,    // "Markieren Sie mindestens 3 Sterne"
  MarkThreeAreas,    // "Markieren Sie mindestens 3 Bereiche"
  MarkSuffix,        // " und klicken danach auf "Ok, weiter"!"
  MarkTheStar,       // "Markieren Sie den Stern"
  MarkTheTwoStars,   // "Markieren Sie die 2 Sterne"
  StarsRight,        // "Sind die richtigen Sterne"
  AreasRight,        // "Sind die richtigen Bereiche"
  PlanetRight,       // "Ist der Planet richtig"
  AreaRight,         // "Ist der richtige Bereich"
  StarRight,         // "Ist der richtige Stern"
  ConfirmSuffix,     // " markiert? Wenn nein, dann bitte korrigieren und danach auf "Ok, weiter" klicken."
  MarkComet,         // "Markieren Sie jetzt den Komet/Asteroid und klicken danach auf "Ok, weiter". Direkte Markierung (+) wenn er zu lichtschwach ist."
  CometSameSeries,   // "Fehler, die Seriennummern der Bilder scheinen gleich zu sein!"
  CometSameTime,     // "Fehler, die Zeiten der Bilder scheinen gleich zu sein!"
  SecondCometImage,  // "Für die 2. Kometenposition bitte ein Bild nahe am Ende der Serie auswählen!"
  BayerInitFailed,   // "Die Bayer Spezial Funktion konnte nicht initialisiert werden!"
  BayerAdded,        // " Bilder Bayerspezial addiert"
  CometNotInBox,     // "Im Rahmen ist kein Komet/Asteroid zu messen. Bitte den Kometen direkt markieren (+) …"
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
// "Fehler: " + name + CR LF + " konnte nicht geöffnet werden.", translated.
std::string CouldNotOpenMessage(const std::string& name);

}  // namespace astrelon
