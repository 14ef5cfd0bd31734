#include "shell/ui/dialogs/hidden_menu_items.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

bool HiddenMenusUnlocked = false;

const QStringList& HiddenMenuCaptions() {
  static const QStringList captions = {
      "Störp&ixel entfernen", "&RGB zu Bayer-Pattern", "&Entfalten (Deconvolution)", "Bildgröße x2 FFT",
      "&Rauschen hinzufügen", "Teste Verschiebungsfindung", "Multifokus", "Bild -> 2D FFT", "2D FFT -> Bild ",
      "Real+Imaginär -> Amplitude+Phase", "3D-Darstellung", "Verschiebungs-schärfen", "JPG Artefakte reduzieren",
      "Rauschanteil bestimmen", "Pixelwerte nach 0 verschieben", "Frequenzgang an ein anderes Bild anpassen",
      "Tiefpass2", "Rauschanteil bestimmen Bayer", "Bildabhängiges V-Schärfen", "Filtercoeff berechnen",
      "Text AA-Filter", "Bildgröße x2 hi-f sinc", "Bildgröße x2 triangulation",
      "upscale+vschärfen beste MSE ermitteln", "Bildgröße x2 NN autoscan", "Bildgröße x2 Nedi",
      "Hintergrund ebnen nichtlinear automatisch", "CFilter", "Bildgröße x2 Neuronales Netzwerk 9outs",
      "Neuronales Netzwerk trainieren 9outs", "Farbraum von XYZ nach RGB", "Radius iso Funktion",
      "NLM Rauschfilter", "I&F Bildregistrierung", "Amplitude+Phase -> Real+Imaginär", "FFT Morph",
      "Teste Mag Verteilung",
  };
  return captions;
}

bool IsMenuAccessCode(const QString& text) { return text == QLatin1String("menusbeyond"); }

namespace {

void UnlockIn(const QList<QAction*>& actions, const QStringList& captions) {
  for (QAction* a : actions) {
    // A named item whose command is not registered stays hidden.
    const bool runnable =
        a->isSeparator() || a->menu() || a->objectName().isEmpty() || MenuCommandAvailable(a->objectName());
    if (runnable && (a->property("unlockable").toBool() || (!a->isSeparator() && captions.contains(a->text()))))
      a->setVisible(true);
    if (QMenu* m = a->menu()) UnlockIn(m->actions(), captions);
  }
}

}  // namespace

void UnlockHiddenMenuItems() {
  HiddenMenusUnlocked = true;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(w); main && main->menuBar())
      UnlockIn(main->menuBar()->actions(), HiddenMenuCaptions());
}

bool AskMenuAccessCode() {
  const QString typed = LangInputBox(QString::fromUtf8("Menüfreischaltung"), "", "");
  if (!IsMenuAccessCode(typed)) return false;
  UnlockHiddenMenuItems();
  return true;
}

}  // namespace astrelon
