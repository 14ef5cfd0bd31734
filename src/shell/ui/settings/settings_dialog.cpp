#include "shell/ui/settings/settings_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "platform/processor_features.h"
#include "shell/main/settings_dialog_rules.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/settings/memory_bar.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QPointer<TForm33>& Instance() {
  static QPointer<TForm33> form;
  return form;
}

constexpr const char* TagProperty = "Tag";

QWidget* Page(QTabWidget* tabs, const QString& name, const QString& caption) {
  auto* page = new QWidget(tabs);
  page->setObjectName(name);
  auto* layout = new QVBoxLayout(page);
  layout->setAlignment(Qt::AlignTop);
  tabs->addTab(page, caption);
  return page;
}

QVBoxLayout* LayoutOf(QWidget* page) { return static_cast<QVBoxLayout*>(page->layout()); }

}  // namespace

TForm33::TForm33(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName("Form33");
  setWindowTitle("Einstellungen");
  auto* layout = new QVBoxLayout(this);
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  layout->addWidget(PageControl1);

  QWidget* load = Page(PageControl1, "TabSheet1", "Datei laden");
  AddCheckBox(load, 2, 0, "Vorschau Fenster anzeigen");
  AddCheckBox(load, 17, 5, "Bilder nach dem Laden in das YUV Format bringen");
  AddCheckBox(load, 1, 1, "FITS Dateien vertikal spiegeln");
  AddCheckBox(load, 3, 2, "Raw Bilder Farbinterpolieren");
  AddCheckBox(load, 4, 3, "Bei Raw ohne Farbinterpolation die Werte nicht skalieren");
  AddCheckBox(load, 5, 4, "Raw Highlights erhalten");

  QWidget* save = Page(PageControl1, "TabSheet2", "Datei speichern");
  auto group = [this](QWidget* page, const char* name, int tag, const QString& caption, const QStringList& items) {
    auto* g = new TRadioGroup(caption, items, 1, page);
    g->setObjectName(name);
    g->setProperty(TagProperty, tag);
    LayoutOf(page)->addWidget(g);
    connect(g, &TRadioGroup::Clicked, this, [this, g](int) { RadioGroup1Click(g); });
    return g;
  };
  RadioGroup1 = group(save, "RadioGroup1", FitsFormatTag, "FITS Dateien speichern mit:",
                      {QString::fromUtf8("32 Bit Fließkomma"), "32 Bit Ganzzahl", "16 Bit Ganzzahl"});
  RadioGroup2 = group(save, "RadioGroup2", FitsExtensionTag, "Dateiendung:", {"*.Fit", "*.Fts"});
  AddEdit(save, 1, QString::fromUtf8("JPEG Qualität (1-100):"), "[Strg + J]");
  AddEdit(save, 2, "PNG verlustlose Kompression:", QString::fromUtf8("0..9 (höher -> bessere Kompression, langsamer)"));
  AddCheckBox(save, 6, 12, "PNG interlaced");
  AddCheckBox(save, 7, 13, "TIFF Dateien automatisch skalieren:");

  QWidget* math = Page(PageControl1, "TabSheet3", "Mathe");
  RadioGroup3 = group(math, "RadioGroup3", InterpolationTag, "Interpolation bei Rotation und Verschiebung:",
                      {"Linear", "Neuronal (langsam)", "Bikubisch", "Lanczos3"});
  AddCheckBox(math, 8, 21, "Ergebnis &skalieren (standard)");
  AddCheckBox(math, 10, 22, "PSF Bilder automatisch skalieren");
  AddEdit(math, 8, "Hotpixelkorrektur bei Dunkelbildsubtraktion: Sigma", {});
  AddEdit(math, 5, "Netzwerk Initialisierung: Random", {});
  AddEdit(math, 6, QString::fromUtf8("2D FFT Autostörfilter: Sigma"), {});
  AddEdit(math, 7, QString::fromUtf8("2D FFT äußerer Rand zur Artefaktreduzierung:"), "Pixel");

  QWidget* display = Page(PageControl1, "TabSheet4", "Bilddarstellung");
  auto* scaling = new QLabel("Automatische Helligkeitsskalierung:", display);
  scaling->setObjectName("Label3");
  LayoutOf(display)->addWidget(scaling);
  AddEdit(display, 3, "Schwarz:", "%");
  AddEdit(display, 4, QString::fromUtf8("Weiß:"), "% vom Histogramm");
  AddCheckBox(display, 11, 30, "Schwarz immer auf 0 setzen");
  AddCheckBox(display, 9, 31, "Gamma bei Bildern mit mehr als 8 Bit skalieren");

  QWidget* misc = Page(PageControl1, "TabSheet5", "Verschiedenes");
  AddCheckBox(misc, 12, 40, "Den ganzen Dateipfad beim Bild anzeigen");
  AddCheckBox(misc, 19, 41, QString::fromUtf8("<L> PSF Infos zusätzlich in einem separaten Fenster anzeigen"));
  AddCheckBox(misc, 20, 42, QString::fromUtf8("Mauszeiger Feinpositionierung über Pfeiltasten ermöglichen"));
  Button1 = new QPushButton(QString::fromUtf8("Ordner für die NN-Filter angeben"), misc);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("Eigene Farbpalette laden", misc);
  Button2->setObjectName("Button2");
  for (QPushButton* b : {Button1, Button2}) LayoutOf(misc)->addWidget(b, 0, Qt::AlignLeft);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

  QWidget* internal = Page(PageControl1, "TabSheet6", "Intern");
  AddCheckBox(internal, 13, 50, "MMX und SSE zulassen");
  AddCheckBox(internal, 14, 51, "Mehrere CPU Kerne benutzen");
  AddCheckBox(internal, 15, 52, "Bildanzeige puffern");
  AddCheckBox(internal, 16, 53, "Virtuelle Speicherbelegung vom Programm anzeigen");
  AddCheckBox(internal, 18, 54, QString::fromUtf8("'Hüpfende' Knöpfe in der Menüleiste"));
}

QCheckBox* TForm33::AddCheckBox(QWidget* page, int n, int tag, const QString& caption) {
  auto* box = new QCheckBox(caption, page);
  box->setObjectName("CheckBox" + QString::number(n));
  box->setProperty(TagProperty, tag);
  LayoutOf(page)->addWidget(box);
  connect(box, &QCheckBox::toggled, this, [this, box] { CheckBox3Click(box); });
  return box;
}

QLineEdit* TForm33::AddEdit(QWidget* page, int n, const QString& caption, const QString& note) {
  auto* row = new QWidget(page);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(caption, row));
  auto* edit = new QLineEdit(row);
  edit->setObjectName("Edit" + QString::number(n));
  edit->setMaximumWidth(60);
  layout->addWidget(edit);
  if (!note.isEmpty()) layout->addWidget(new QLabel(note, row));
  layout->addStretch(1);
  LayoutOf(page)->addWidget(row);
  Edit[size_t(n)] = edit;
  connect(edit, &QLineEdit::textChanged, this, [this, n] { EditChange(n); });
  return edit;
}

QCheckBox* TForm33::CheckBoxOfTag(int tag) const {
  for (QCheckBox* box : findChildren<QCheckBox*>())
    if (box->property(TagProperty).toInt() == tag) return box;
  return nullptr;
}

QCheckBox* TForm33::CheckBox(int n) const { return findChild<QCheckBox*>("CheckBox" + QString::number(n)); }

// ---- handlers ----

void TForm33::CheckBox3Click(QCheckBox* box) {
  const int tag = box->property(TagProperty).toInt();
  const bool on = box->isChecked();
  OptionByte(Options, OptionByteIndex(tag)) = on ? 1 : 0;
  if (!active_) return;
  switch (tag) {
    case 40:
      for (int s = 1; s <= MaxImageSlots; ++s)
        if (Store.HasWindow[size_t(s)]) SetWindowCaption(s);
      break;
    case 50:
      ApplySimdSetting();
      if (on) ShowCpuFeatures();
      break;
    case 51:
      UseWorkerThreads = on && ProcessorCount > 1 ? 1 : 0;
      break;
    case 53:
      ShowMemoryBar(on);
      if (TMemoryBar* bar = MemoryBar()) bar->ExitClicked = [] {
        if (TForm33* f = SettingsDialog()) f->HideMemoryBar();
      };
      break;
    case 54:
      if (TMainToolBar* bar = MainLink().ToolBar) bar->RecolourToolbarButtons(Options.ToolbarTint == 1);
      break;
    default:
      // 52 (buffered image display): Qt paints every window double-buffered anyway.
      break;
  }
}

void TForm33::HideMemoryBar() {
  if (QCheckBox* box = CheckBoxOfTag(53); box && box->isChecked())
    box->setChecked(false);
  else
    ShowMemoryBar(false);
}

void TForm33::RadioGroup1Click(TRadioGroup* group) {
  const int tag = group->property(TagProperty).toInt();
  const int item = group->ItemIndex();
  if (active_)
    ApplySettingsRadio(tag, item);
  else if (item >= 0)
    OptionByte(Options, OptionByteIndex(tag)) = uint8_t(item);
}

void TForm33::EditChange(int n) {
  if (!active_ || n < 1 || n > 8) return;
  ApplySettingsEditText(TSettingsEdit(n), Edit[size_t(n)]->text().toStdString());
}

void TForm33::Button1Click() {
  QFileDialog dialog(this);
  dialog.setObjectName("OpenDialog1");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name is accepted: the user picks a folder by opening it and confirming.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter("*.nnf");
  if (!Settings.NetworkFolder.empty() && QFileInfo(QString::fromStdString(Settings.NetworkFolder)).isDir())
    dialog.setDirectory(QString::fromStdString(Settings.NetworkFolder));
  dialog.selectFile(QString::fromStdString(LangTextOr(LangKey(1, 2, 8, 1), "In den Ordner wechseln und Öffnen klicken")));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  Settings.NetworkFolder = QFileInfo(dialog.selectedFiles().first()).absolutePath().toStdString();
  if (MainLink().BuildNetworkFilterMenu) MainLink().BuildNetworkFilterMenu();
}

void TForm33::Button2Click() { ChooseOwnPalette(); }

// ---- showing ----

void TForm33::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TForm33::FormShow() {
  active_ = false;
  RadioGroup3->SetItemIndex(SettingsRadioItem(InterpolationTag));
  RadioGroup1->SetItemIndex(SettingsRadioItem(FitsFormatTag));
  RadioGroup2->SetItemIndex(SettingsRadioItem(FitsExtensionTag));
  CheckBox(2)->setChecked(Options.Preview != 0);
  Edit[1]->setText(QString::fromStdString(SettingsEditText(TSettingsEdit::JpegQuality)));
  if (firstShow_) FirstShow();
  active_ = true;
}

void TForm33::FirstShow() {
  firstShow_ = false;
  for (QCheckBox* box : findChildren<QCheckBox*>())
    box->setChecked(OptionByte(Options, OptionByteIndex(box->property(TagProperty).toInt())) != 0);
  for (int n = 2; n <= 8; ++n) Edit[size_t(n)]->setText(QString::fromStdString(SettingsEditText(TSettingsEdit(n))));
  CheckBoxOfTag(50)->setEnabled(HasMmx || HasSse || HasSse2);
  CheckBoxOfTag(51)->setEnabled(ProcessorCount > 1);
  if (LanguageFileLoaded) {
    auto text = [](int key) { return QString::fromStdString(LangText(key)).remove('&'); };
    if (const QString t = text(LangKey(1, 3)); !t.isEmpty()) setWindowTitle(t);
    if (const QString t = text(LangKey(1, 3, 8)); !t.isEmpty()) Button1->setText(t);
    if (const QString t = text(LangKey(1, 3, 9, 5)); !t.isEmpty()) Button2->setText(t);
    TranslateForm(objectName().toStdString());
  }
  adjustSize();
  // Wide enough for the six tabs side by side.
  resize(std::max(width(), PageControl1->tabBar()->sizeHint().width() + 40), height());
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    const QRect free = s->availableGeometry();
    move(free.center() - QPoint(width() / 2, height() / 2));
  }
}

TForm33* CreateSettingsDialog(QWidget* mainWindow) {
  auto* form = new TForm33(mainWindow);
  Instance() = form;
  AttachToolWindow(TToolWindow::Settings, form);
  return form;
}

TForm33* SettingsDialog() { return Instance(); }

}  // namespace astrelon
