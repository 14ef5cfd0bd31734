#include "shell/main/help_texts.h"

#include "core/language.h"

namespace astrelon {

namespace {

const std::array<const char*, HelpEntryCount> kGerman = {
    // Page 1: image addition.
    "Zwei Bilder werden aufeinander abgebildet, indem in beiden Bildern derselbe Stern markiert wird. "
    "Mit einem markierten Stern wird das zweite Bild nur verschoben, mit zwei markierten Sternen werden "
    "auch Drehung und Maßstab angeglichen.",
    "Kameras mit nicht quadratischen Pixeln liefern gestauchte Bilder. Solche Bilder vor dem Addieren mit "
    "\"Bildgröße ändern\" auf quadratische Pixel umrechnen, sonst passen Drehung und Maßstab nicht zusammen.",
    "In der Stapel Bearbeitung sind die Markierungen Fangbereiche: In jedem weiteren Bild wird der Stern "
    "innerhalb des markierten Bereichs gesucht. Der Bereich muss deshalb die Bewegung zwischen den Aufnahmen "
    "aufnehmen können.",
    "Gerechnet wird mit Fließkommazahlen. Beim Addieren gehen weder schwache Signale durch Rundung noch helle "
    "Sterne durch Überlauf verloren.",
    "Statt eines Sterns kann ein rechteckiger Bereich markiert werden; die Verschiebung wird dann aus dem "
    "Bildinhalt des Rechtecks bestimmt, was sich für Planeten, Mond und Sonne eignet. Das Verfahren der "
    "Verschiebungsbestimmung wird mit der Schaltfläche in der Werkzeugleiste gewählt.",
    // Page 2: batch processing.
    "Als Startdatei wird das erste Bild einer Serie gewählt. Die weiteren Dateien findet das Programm über "
    "die fortlaufende Nummer im Dateinamen.",
    "Ist die Zieldatei schon vorhanden, können die neuen Bilder zu ihr addiert werden. So lässt sich eine "
    "Serie in mehreren Durchgängen bearbeiten.",
    "Wahlweise wird jedes bearbeitete Bild einzeln gespeichert, statt alle Bilder zu einem Zielbild zu "
    "addieren.",
    "Lichtschwache Kometen, die sich im Einzelbild nicht markieren lassen, werden mit zusätzlichen "
    "Verschiebungswerten pro Bild ausgerichtet, die der Bewegung des Kometen entsprechen.",
    "",
    // Page 3: tips.
    "Das Kreuz im Bild markiert eine Position, die viele Funktionen als Mittelpunkt oder Bezugspunkt "
    "verwenden.",
    "Die PSF für das Schärfen kann von einem markierten Stern oder aus einem anderen Bild übernommen werden.",
    "Ist ein Teil des Bildes markiert, bearbeiten die meisten Funktionen nur diesen Ausschnitt. Das spart "
    "Zeit beim Ausprobieren von Einstellungen.",
    "Tote und heiße Pixel lassen sich ausblenden: Die markierten Pixel werden transparent und bei allen "
    "weiteren Rechnungen übergangen.",
    "Mit \"Speichern wie angezeigt\" wird das Bild so gespeichert, wie es auf dem Bildschirm erscheint, also "
    "mit Schwarzwert, Weißwert und Gamma der Anzeige.",
    // Page 2, continued.
    "Ist als Dateityp BMP, PNG, JPG oder TIF gewählt, speichert die Stapel Bearbeitung ihre Ergebnisse in "
    "diesem Format.",
    "Die Namen der gespeicherten Bilder beginnen mit \"QZ_\" und dem ursprünglichen Namen; gleiche Namen "
    "werden fortlaufend nummeriert.",
    "BMP, PNG und JPG speichern Werte von 0 bis 255, TIF von 0 bis 65535. Größere Werte werden begrenzt; "
    "das Bild wird dazu vorher passend skaliert.",
    "",
    "",
};

// Translation key (section 19) of each entry; 0 for entries without one.
constexpr std::array<int, HelpEntryCount> kTag = {3, 4, 5, 6, 7, 9, 10, 11, 12, 0,
                                                  14, 15, 16, 17, 18, 20, 21, 22, 0, 0};

}  // namespace

std::array<std::string, HelpEntryCount> HelpEntries() {
  std::array<std::string, HelpEntryCount> e;
  for (size_t i = 0; i < e.size(); ++i)
    e[i] = kTag[i] ? LangTextOr(LangKey(19, kTag[i]), kGerman[i]) : std::string(kGerman[i]);
  return e;
}

std::array<std::string, 5> HelpGroup(int group) {
  std::array<std::string, 5> g;
  if (group < 1 || group > 4) return g;
  const auto all = HelpEntries();
  for (size_t k = 0; k < 5; ++k) g[k] = all[size_t(group - 1) * 5 + k];
  return g;
}

}  // namespace astrelon
