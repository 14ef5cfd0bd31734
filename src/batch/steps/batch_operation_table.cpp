#include "batch/steps/batch_operation_table.h"

#include <initializer_list>

namespace astrelon {
namespace {

// One row: name, labels, default values, option caption, marks or interpolation.
bmenuitem Row(const char* name, std::initializer_list<const char*> labels, std::initializer_list<const char*> values,
              const char* option = "", int32_t marks = -1) {
  bmenuitem r;
  r.Name = name;
  size_t i = 0;
  for (const char* l : labels) r.Labels[i++] = l;
  i = 0;
  for (const char* v : values) r.Values[i++] = v;
  r.OptionCaption = option;
  r.MarksOrInterpolation = marks;
  r.OptionFlags = 0;
  return r;
}

TBatchOperationTable BuildTable() {
  return {
      bmenuitem{},  // blank template: texts empty, both numbers -1
      Row("Dateien festlegen", {"Anfangsdatei", "Zieldatei"}, {}, "Fehlende Dateien der Serie überspringen"),
      Row("Ausschneiden", {"Oben minus", "Unten minus", "Links minus", "Rechts minus"}, {"0", "0", "0", "0"}),
      Row("Rand hinzufügen", {"Oben plus", "Unten plus", "Links plus", "Rechts plus"}, {"0", "0", "0", "0"}),
      Row("Bildgröße ändern", {"X-Faktor", "Y-Faktor"}, {"1.0", "1.0"}, "Anti Moiré Filter", 2),
      Row("Wert addieren", {"Wert"}, {"0"}),
      Row("Wert multiplizieren", {"Faktor"}, {"1.0"}),
      Row("Invertieren", {}, {}),
      Row("Unten begrenzen", {"Grenzwert"}, {"0"}),
      Row("Oben begrenzen", {"Grenzwert"}, {"32767"}),
      Row("Blur", {"Radius"}, {"1.0"}),
      Row("Zur Zieldatei addieren", {}, {}, "Doppelt so großes Swarp-Bild erstellen", 0),
      Row("Bild subtrahieren", {"Dateiname"}, {}, "Hotpixelkorrektur"),
      Row("Bild dividieren", {"Dateiname"}, {}, "Automatische Skalierung"),
      Row("FarbCCD nach RGB", {"Dateiname"}, {"*.qcm"}),
      Row("An Zieldatei anpassen", {}, {}, "Kreuzkorrelation", 0),
      Row("Störpixel entfernen", {}, {}),
      Row("RGB Bild in SW wandeln", {}, {}),
      Row("Wert addieren RGB", {"R-Wert", "G-Wert", "B-Wert"}, {"0", "0", "0"}),
      Row("Wert multiplizieren RGB", {"R-Faktor", "G-Faktor", "B-Faktor"}, {"1.0", "1.0", "1.0"}),
      Row("Bild rotieren", {"Grad"}, {"0.0"}),
      Row("Bild maskieren", {"Dateiname"}, {}, "Transparenz interpolieren"),
      Row("Bild spiegeln", {}, {}),
      Row("Hintergrund auf 0 setzen", {"% vom Histo."}, {"20.0"}),
      Row("Pixelwerte quadrieren", {}, {}),
      Row("Farbkorrektur", {"Dateiname"}, {"*.qzf"}),
      Row("Bildfeldentzerrung", {"Dateiname"}, {"*.qzk"}),
      Row("Wurzel aus Pixelwerte ziehen", {}, {}),
      Row("Hintergrund ebnen", {"Radius"}, {"15"}),
      Row("Automatischer Störfilter", {"Dimensionen"}, {"2"}),
      Row("Störpixel entfernen+", {}, {}),
      Row("Farbrauschen filtern", {"Schwelle", "Radius"}, {"25", "5.5"}),
      Row("Bildgröße x2 hi-f tri", {"Schärfung"}, {"1"}),
      Row("Universeller NN-Filter", {"Dateiname", "Skalierung"}, {"", "1.0"}),
      Row("Farbbild in 3 s/w Bilder aufteilen", {}, {}),
      Row("Histogramm Funktion", {"Dateiname", "Minwert", "Maxwert", "Skalierung"},
          {"*.qzh", "0.0", "255.0", "65535.0"}),
      Row("Farbsättigung", {"Stärke in %"}, {"100"}),
      Row("Zeilen gleichhell", {"Richtwert"}, {"50"}, "Absolut"),
      Row("Hintergrund ebnen Sterne", {}, {}),
      Row("Hintergrund ebnen Nebel", {}, {}),
      Row("Rauschfilter", {"Schwelle", "Radius", "Gauss->Cauchy"}, {"15", "3.25", "50"}),
      Row("Sternradius verkleinern", {"Radius", "Untere Schwelle", "Sterne ausblenden"}, {"1.55", "1.0", "25"}),
      Row("Wavelet Filter", {"Dateiname"}, {"*.wvl"}),
      Row("2D Frequenzfilter", {"Dateiname"}, {"*.qfg"}),
      Row("Medianfilter", {"Pixelanzahl", "Gewichtung Mitte"}, {"9", "1"}),
  };
}

}  // namespace

const TBatchOperationTable& BatchOperationTable() {
  static const TBatchOperationTable table = BuildTable();
  return table;
}

const bmenuitem& BatchTableRow(TBatchOp op) {
  if (op < -1 || op > BatchOperationCount) op = -1;
  return BatchOperationTable()[size_t(op + 1)];
}

int32_t BatchFilterIndex(TBatchOp op) {
  switch (op) {
    case 9: return 5;  // "Gauss glätten"
    case 30: return 12;
    case 35: return 7;
    case 36: return 15;
    case 39: return 4;
    case 40: return 8;
    case 43: return 14;
    default: return 0;
  }
}

}  // namespace astrelon
