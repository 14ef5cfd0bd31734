#include "batch/ui/batch_operation_menu.h"

#include <QAction>
#include <QMenu>
#include <iterator>

#include "batch/steps/batch_captions.h"
#include "core/language.h"

namespace astrelon {

namespace {

struct TMenuItem {
  int Group;  // 0: top level, else the group's number in Groups (1-based)
  const char* Caption;
  int Tag;
};

constexpr const char* Groups[] = {"Pixelmathematik", "Bildgeometrie", "Schärfen", "Glätten",
                                  "Ebnen",           "Farbfunktionen", "Spezielle Filter", "FFT"};

constexpr TMenuItem Items[] = {
    {0, "Bild subtrahieren", 11},
    {0, "Bild dividieren", 12},
    {0, "Zur Zieldatei addieren", 10},
    {0, "Farb CCD nach RGB (debayer)", 13},
    {0, "Bild maskieren", 20},
    {0, "An Zieldatei anpassen", 14},
    {1, "Wert addieren", 4},
    {1, "Wert addieren RGB", 17},
    {1, "Wert multiplizieren", 5},
    {1, "Wert multiplizieren RGB", 18},
    {1, "Unten begrenzen", 7},
    {1, "Oben begrenzen", 8},
    {1, "Pixelwerte quadrieren", 23},
    {1, "Wurzel aus Pixelwerte ziehen", 26},
    {1, "Invertieren", 6},
    {1, "Hintergrund auf 0 setzen", 22},
    {2, "Ausschneiden", 1},
    {2, "Rand hinzufügen", 2},
    {2, "Bildgröße ändern", 3},
    {2, "Bild rotieren", 19},
    {2, "Bild spiegeln", 21},
    {2, "Bildfeldentzerrung", 25},
    {2, "Bildgröße x2 hi-f tri", 31},
    {3, "Sternradius verkleinern", 40},
    {4, "Farbrauschen filtern", 30},
    {4, "Rauschfilter", 39},
    {4, "Wavelet Rauschfilter", 41},
    {4, "Gauss glätten", 9},
    {4, "Medianfilter", 43},
    {4, "Störpixel entfernen", 15},
    {4, "Störpixel entfernen+", 29},
    {5, "Hintergrund ebnen variabel", 27},
    {5, "Zeilen gleichhell", 36},
    {5, "Hintergrund ebnen auto Sterne", 37},
    {5, "Hintergrund ebnen auto Nebel", 38},
    {6, "Farbkorrektur", 24},
    {6, "Farbsättigung", 35},
    {6, "Farbbild in 3 s/w Bilder aufteilen", 33},
    {6, "Farbbild nach s/w wandeln", 16},
    {7, "Universeller NN-Filter", 32},
    {7, "Histogramm Funktion", 34},
    {8, "Automatischer Störfilter", 28},
    {8, "2D Frequenzfilter", 42},
    {0, " ", -1},
};

// Translation keys: section 37, [250.k] for item k and [251.g] for group g.
QString Text(int n1, int n2, const char* german) {
  return QString::fromStdString(LangTextOr(LangKey(BatchLanguageSection, n1, n2), german));
}

}  // namespace

QMenu* BuildBatchOperationMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName("PopupMenu2");
  QMenu* groups[std::size(Groups) + 1] = {menu};
  for (size_t g = 0; g < std::size(Groups); ++g) {
    groups[g + 1] = menu->addMenu(Text(251, int(g) + 1, Groups[g]));
    groups[g + 1]->setObjectName(QString::fromUtf8(Groups[g]));
  }
  // The top-level items come first, the blank item last.
  for (size_t k = 0; k < std::size(Items); ++k) {
    const TMenuItem& item = Items[k];
    QMenu* into = groups[item.Group];
    QAction* action = new QAction(Text(250, int(k) + 1, item.Caption), into);
    action->setData(item.Tag);
    if (item.Group == 0 && item.Tag >= 0)
      menu->insertAction(groups[1]->menuAction(), action);
    else
      into->addAction(action);
  }
  return menu;
}

int BatchOperationMenuItemCount() { return int(std::size(Items)); }

}  // namespace astrelon
