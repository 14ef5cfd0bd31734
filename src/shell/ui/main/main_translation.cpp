#include "shell/ui/main/main_translation.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QToolButton>
#include <QWidget>
#include <initializer_list>
#include <vector>

#include "core/language.h"
#include "shell/main/main_texts.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/tool_bar/picture_button.h"

namespace astrelon {

namespace {

QString Text(int key) { return QString::fromStdString(LangText(key)); }

// The action at a position of the menu tree: top-level menu, then item indexes
// of the submenus (separators count). Null when the tree has no such place.
QAction* AtPath(int menu, const std::vector<int>& path) {
  QMenu* m = MainTopMenu(menu);
  QAction* a = m ? m->menuAction() : nullptr;
  for (int index : path) {
    if (!m) return nullptr;
    const QList<QAction*> items = m->actions();
    if (index < 0 || index >= items.size()) return nullptr;
    a = items[index];
    m = a->menu();
  }
  return a;
}
QAction* At(int menu, std::initializer_list<int> path) { return AtPath(menu, std::vector<int>(path)); }

// A translated caption replaces the German one unless it is empty.
void Caption(QAction* a, int key) {
  if (!a || a->isSeparator()) return;
  const QString t = Text(key);
  if (!t.isEmpty()) a->setText(t);
}

// Keys [m.(n1 + i)], or [m.n1.(n2 + i)] when n2 > 0, for the i-th of `items` below `path`.
void Row(int menu, std::initializer_list<int> path, int m, int n1, int n2, std::initializer_list<int> items) {
  int i = 0;
  for (int item : items) {
    std::vector<int> full(path);
    full.push_back(item);
    Caption(AtPath(menu, full), n2 == 0 ? LangKey(1, m, n1 + i) : LangKey(1, m, n1, n2 + i));
    ++i;
  }
}

void Named(const char* name, int key) { Caption(MainMenuItem(QString::fromLatin1(name)), key); }

void Hint(QWidget* w, int key) {
  if (!w) return;
  const QString t = Text(key);
  if (t.isEmpty()) return;
  w->setToolTip(t);
  w->setStatusTip(t);
}

void ControlCaption(QWidget* window, const char* name, int key) {
  QWidget* w = window->findChild<QWidget*>(QString::fromLatin1(name));
  const QString t = Text(key);
  if (!w || t.isEmpty()) return;
  if (auto* l = qobject_cast<QLabel*>(w)) l->setText(t);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(t);
}

void ControlHint(QWidget* window, const char* name, int key) {
  Hint(window->findChild<QWidget*>(QString::fromLatin1(name)), key);
}

void TranslateMenus(QWidget* window) {
  // Top-level menus 0, 1, 3, 4, 5, 2 from [1] .. [6].
  const int tops[6] = {0, 1, 3, 4, 5, 2};
  for (int i = 0; i < 6; ++i) Caption(At(tops[i], {}), LangKey(1, i + 1));
  if (Text(LangKey(1, 6)).isEmpty())
    if (QAction* a = At(2, {})) a->setText("Image Combining");

  Row(0, {}, 1, 1, 0, {0, 1, 2, 3, 5, 6, 8, 9, 11});
  Row(0, {3}, 1, 4, 1, {0, 1});
  Row(1, {}, 2, 2, 0, {1, 2, 3, 5, 7, 8, 9, 10, 11, 12, 13, 15, 16});
  Row(1, {}, 2, 25, 0, {18, 19, 20, 21, 22});
  Row(1, {3}, 2, 4, 1, {0, 1, 2, 3, 4, 6, 7, 8, 14, 15, 17});
  Row(1, {5}, 2, 5, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  Row(1, {7}, 2, 6, 1, {0, 1, 2, 3, 4});
  Row(1, {8}, 2, 7, 1, {0, 1, 2, 3, 4, 5, 6, 7});
  Row(1, {9}, 2, 8, 1, {0, 1, 2, 3, 4, 5, 6});
  Row(1, {10}, 2, 9, 1, {0, 1, 2, 3, 4, 5});
  Row(1, {11}, 2, 10, 1, {0, 1, 2});
  Row(1, {12}, 2, 11, 1, {0, 1, 2, 3, 4, 6});
  Row(1, {13}, 2, 12, 3, {2, 3, 4, 5, 6, 7, 8, 9, 11});
  Row(1, {15}, 2, 13, 1, {0, 1, 2});
  // The dark subtraction submenu's keys are not in item order.
  Caption(At(2, {5, 0}), LangKey(1, 2, 20, 1));
  Caption(At(2, {5, 1}), LangKey(1, 2, 20, 3));
  Caption(At(2, {5, 2}), LangKey(1, 2, 20, 2));
  Caption(At(2, {5, 3}), LangKey(1, 2, 20, 4));
  Row(2, {}, 2, 21, 1, {6, 7, 8, 9, 10, 11, 12});
  Caption(At(2, {13}), LangKey(1, 2, 22));
  Caption(At(2, {14}), LangKey(1, 2, 30));
  Caption(At(2, {15}), LangKey(1, 2, 23));
  Caption(At(2, {16}), LangKey(1, 2, 24));
  Row(2, {}, 2, 15, 0, {0, 1, 2, 3, 4, 5});
  Named("FFT1", LangKey(1, 2, 31));
  Row(1, {14}, 2, 31, 1, {5, 6, 7, 8});
  Named("Frequenzfilter1", LangKey(1, 2, 12, 1));
  Named("N2DFrequenzfilter1", LangKey(1, 2, 12, 2));
  Named("Automatischer1DFFTStrfilter1", LangKey(1, 2, 7, 10));
  Named("Automatischer2DFFTStrfilter1", LangKey(1, 2, 7, 9));
  Named("biasbildmachen1", LangKey(1, 2, 13, 4));
  Named("EinBiasbildvomMasterdarkgenerierenBayer1", LangKey(1, 2, 13, 5));
  Named("BayerMasterflatnormalisieren1", LangKey(1, 2, 13, 7));
  if (QAction* settings = MainMenuItem("Einstellungen1")) {
    const QString t = Text(LangKey(1, 3, 14));
    if (!t.isEmpty()) settings->setToolTip(t), settings->setStatusTip(t);
  }
  Row(4, {}, 4, 1, 0, {0, 1, 2, 3, 4, 5, 6, 8, 9, 10});
  Row(5, {}, 5, 1, 0, {0, 1, 2, 3, 5});
  Named("KTBildRegistrierung1", LangKey(34, 1));
  for (QAction* paste : window->findChildren<QAction*>("BildausZwischenspeichereinfgen1"))
    Caption(paste, LangKey(10, 3, 18));
  if (QAction* nlm = MainMenuItem("NTdenoise1"))
    if (QAction* median = MainMenuItem("MedianFilter1")) nlm->setText("NLM " + median->text());
}

void TranslateToolBar(QWidget* window, TMainToolBar* bar) {
  if (bar) {
    for (int n = 1; n <= 8; ++n) Hint(bar->PNGButton[size_t(n)], LangKey(2, n));
    for (int n = 10; n <= 13; ++n) Hint(bar->PNGButton[size_t(n)], LangKey(2, n + 4));
    Hint(bar->RxSpeedButton[1], LangKey(2, 9));
    Hint(bar->RxSpeedButton[2], LangKey(2, 10));
    Hint(bar->RxSpeedButton[3], LangKey(2, 19));
    bar->SetListItems(1, {Text(LangKey(2, 9, 1))});
    QStringList palette;
    for (int i = 1; i <= 8; ++i) palette << Text(LangKey(2, 10, i));
    bar->SetListItems(2, palette);
  }
  const char* buttons[] = {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4",
                           "SpeedButton5x", "SpeedButton5y", "SpeedButton6"};
  const int keys[] = {1, 5, 8, 10, 2, 3, 4};
  for (int i = 0; i < 7; ++i) ControlHint(window, buttons[i], LangKey(3, keys[i]));
  ControlHint(window, "SpinEdit1", LangKey(3, 7));
  ControlHint(window, "SpinEdit2", LangKey(3, 5, 1));
  ControlHint(window, "ComboBox1", LangKey(3, 9));
  TranslateTrainingPanel(window);
}

// The channel letters in the lists of the colour-space and layer buttons.
void ChannelLists(TMainToolBar* bar) {
  if (!bar) return;
  const QString rgb = QString::fromStdString(MainTexts.RgbLetters);
  const QString yuv = QString::fromStdString(MainTexts.YuvLetters);
  if (rgb.size() < 3 || yuv.size() < 3) return;
  bar->SetListItems(3, {rgb, yuv});
  bar->SetListItems(4, {rgb, rgb.mid(0, 1), rgb.mid(1, 1), rgb.mid(2, 1), rgb.mid(0, 1) + rgb.mid(2, 1)});
  bar->SetListItems(5, {yuv, yuv.mid(0, 1), yuv.mid(1, 1), yuv.mid(2, 1), yuv.mid(1, 1) + yuv.mid(2, 1)});
}

}  // namespace

void TranslateTrainingPanel(QWidget* window) {
  if (!LanguageFileLoaded || !window) return;
  ControlCaption(window, "Label9", LangKey(4, 1));
  ControlCaption(window, "Label10", LangKey(4, 3));
  ControlCaption(window, "Label11", LangKey(4, 2));
  ControlCaption(window, "Label14", LangKey(4, 9));
  ControlCaption(window, "Label16", LangKey(4, 28));
  ControlCaption(window, "CheckBox1", LangKey(4, 10));
  ControlCaption(window, "CheckBox2", LangKey(4, 8));
  ControlCaption(window, "Button1", LangKey(4, 7));
  ControlCaption(window, "SpeedButton5nn", LangKey(4, 4));
  ControlCaption(window, "SpeedButton7", LangKey(4, 5));
  ControlCaption(window, "SpeedButton8", LangKey(4, 6));
  ControlHint(window, "SpeedButton5nn", LangKey(4, 4, 1));
  ControlHint(window, "SpeedButton7", LangKey(4, 5, 1));
  ControlHint(window, "SpeedButton8", LangKey(4, 6, 1));
}

void TranslateMainWindow(QWidget* window, TMainToolBar* toolBar) {
  if (!LanguageFileLoaded || !window) return;
  try {
    TranslateMenus(window);
    TranslateToolBar(window, toolBar);
    ApplyTranslatedMainTexts();
    ChannelLists(toolBar);
  } catch (...) {
  }
}

}  // namespace astrelon
