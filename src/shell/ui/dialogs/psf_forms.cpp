#include "shell/ui/dialogs/psf_forms.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "core/language.h"
#include "shell/stars/star_pick.h"
#include "shell/stars/star_results.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/side_panel/star_panel.h"
#include "store/display/bitmap_tools.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

constexpr int PsfSettingsForm = 34;
constexpr int PsfInfosForm = 35;

TForm34* Settings34() { return qobject_cast<TForm34*>(DialogForm(PsfSettingsForm)); }

const char* const HeaderTexts[7] = {"Dateiname", "X", "Y", "fwhmX", "fwhmY", "Flux", "Magnitude"};

// Translation keys of the two windows.
constexpr int KeyOk = LangKey(6, 1);
constexpr int KeySettingsCaption = LangKey(3, 1, 20);
constexpr int KeyBackground = LangKey(3, 1, 21);
constexpr int KeyOverexposure = LangKey(3, 1, 22);
constexpr int KeyClose = LangKey(11, 15);
constexpr int KeyAutoAdd = LangKey(3, 1, 32);
constexpr int KeyInfosCaption = LangKey(3, 1, 30);

QString Lang(int key) { return QString::fromStdString(LangText(key)); }

// The locked star's radial profile: the fitted curve and every cutout pixel.
void DrawProfilePlot(QImage& img) {
  img.fill(Qt::white);
  const TStarCutout& c = LockedStar;
  if (!(c.SigmaX > 0 && c.SigmaY > 0 && c.Amplitude > 0)) return;
  const TBitmapView view{img.bits(), img.width(), img.height(), img.bytesPerLine(), 4, nullptr};
  const double W = img.width(), H = img.height();
  const double scale = double(c.CellSize) / W, offset = c.CellSize == 32 ? 0.0 : 7.5;
  auto plotY = [&](double g) { return (H - 22) - (H - 40) * g; };
  double prev = 0;
  for (double x = 1; x < W - 3;) {
    double step = 1;
    auto height = [&](double px) {
      const double u = px * scale + offset, t = (u - c.CentreX) / c.SigmaX;
      return plotY(std::exp(-t * t));
    };
    double y = height(x);
    if (x >= 1.1 && std::abs(y - prev) > 0.9) {
      step = 0.8 / std::abs(y - prev);
      x = x - 1 + step;
      y = height(x);
    }
    if (x >= 1.1) DrawSmoothDisc(view, false, RgbColor(255, 0, 255), float(x), float(y), 1.49f);
    prev = y;
    x += step;
  }
  const int ch = std::clamp(c.Channel, 1, c.PlaneCount);
  for (int j = 0; j < StarCutoutSize; ++j)
    for (int i = 0; i < StarCutoutSize; ++i) {
      const float v = c.At(ch, i, j);
      if (!IsValidPixel(v)) continue;
      const double dx = i - c.CentreX, dy = (j - c.CentreY) * c.SigmaX / c.SigmaY;
      const double r = std::sqrt((dx * dx + dy * dy) * 0.5);
      const double px = ((dx > 0 ? c.CentreX + r : c.CentreX - r) - offset) / scale;
      const double py = plotY((double(v) - c.Background) / c.Amplitude);
      const uint8_t m = StarMask[size_t(j * StarCutoutSize + i)];
      const TColor ink = m == 1 ? RgbColor(255, 255, 255) : m == 2 ? RgbColor(112, 16, 16) : RgbColor(32, 32, 32);
      DrawSmoothDisc(view, false, ink, float(px), float(py), 2.49f);
    }
}

}  // namespace

TForm34::TForm34(QWidget* parent) : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form34");
  setWindowTitle("PSF Bestimmung");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* l = new QVBoxLayout(this);
  auto row = [&](QLabel*& label, QSpinBox*& spin, const QString& text, const char* name) {
    auto* h = new QHBoxLayout;
    label = new QLabel(text, this);
    spin = new QSpinBox(this);
    spin->setObjectName(name);
    spin->setRange(-128, 127);
    h->addWidget(label);
    h->addWidget(spin);
    l->addLayout(h);
  };
  row(Label2, SpinEdit2, QString::fromUtf8("Überbelichtung:"), "SpinEdit2");
  row(Label1, SpinEdit1, "Hintergrund:", "SpinEdit1");
  Image1 = new QLabel(this);
  Image1->setFixedSize(201, 121);
  l->addWidget(Image1);
  Plot = QImage(201, 121, QImage::Format_RGB32);
  Plot.fill(Qt::white);
  Button1 = new QPushButton("Ok", this);
  l->addWidget(Button1);
  connect(Button1, &QPushButton::clicked, this, &QDialog::close);
  connect(SpinEdit1, &QSpinBox::valueChanged, this, [](int v) {
    PsfBackgroundOffset = v;
    PSFProfilZeichnen();
  });
  connect(SpinEdit2, &QSpinBox::valueChanged, this, [](int v) {
    PsfOverexposureOffset = v;
    PSFProfilZeichnen();
  });
  for (QWidget* w : {static_cast<QWidget*>(SpinEdit1), static_cast<QWidget*>(SpinEdit2), static_cast<QWidget*>(Button1)})
    w->installEventFilter(this);
}

void TForm34::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (LanguageFileLoaded) {
    if (const QString ok = Lang(KeyOk); !ok.isEmpty()) Button1->setText(ok);
    if (const QString caption = Lang(KeySettingsCaption); !caption.isEmpty()) {
      setWindowTitle(caption);
      Label1->setText(Lang(KeyBackground));
      Label2->setText(Lang(KeyOverexposure));
    }
  }
  const QSignalBlocker b1(SpinEdit1), b2(SpinEdit2);
  SpinEdit1->setValue(PsfBackgroundOffset);
  SpinEdit2->setValue(PsfOverexposureOffset);
  PsfSettingsShown = true;
  PSFProfilZeichnen();
}

void TForm34::closeEvent(QCloseEvent* e) {
  QDialog::closeEvent(e);
  PsfSettingsShown = false;
  // The panel picture is drawn again without the tint.
  QWidget* self = this;
  self->hide();
  PSFProfilZeichnen();
}

bool TForm34::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_L || k->key() == Qt::Key_M) {
      Button1->setFocus();
      StarKeyCommand(k->key(), k->text());
      return true;
    }
    StarKeyCommand(k->key(), k->text());
  }
  return QDialog::eventFilter(watched, e);
}

TForm35::TForm35(QWidget* parent) : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName("Form35");
  setWindowTitle("PSF Infos");
  resize(565, 269);
  auto* l = new QVBoxLayout(this);
  StringGrid1 = new QTableWidget(2, 7, this);
  StringGrid1->horizontalHeader()->hide();
  StringGrid1->verticalHeader()->hide();
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  StringGrid1->setColumnWidth(0, 140);
  for (int c = 1; c < 7; ++c) StringGrid1->setColumnWidth(c, 64);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  for (int c = 0; c < 7; ++c) StringGrid1->setItem(0, c, new QTableWidgetItem(HeaderTexts[c]));
  l->addWidget(StringGrid1);
  auto* h = new QHBoxLayout;
  CheckBox1 = new QCheckBox(QString::fromUtf8("Daten Automatisch hinzufügen"), this);
  Button1 = new QPushButton(QString::fromUtf8("Schließen"), this);
  h->addWidget(CheckBox1);
  h->addStretch(1);
  h->addWidget(Button1);
  h->addStretch(1);
  l->addLayout(h);
  connect(Button1, &QPushButton::clicked, this, &QDialog::close);
  connect(CheckBox1, &QCheckBox::toggled, this, [](bool on) { PsfAutoAdd = on ? 1 : 0; });
  StringGrid1->installEventFilter(this);
  StringGrid1->viewport()->installEventFilter(this);
  CheckBox1->installEventFilter(this);
  Button1->installEventFilter(this);
}

void TForm35::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (shown_) return;
  shown_ = true;
  StringGrid1->setColumnWidth(0, 150);
  if (LanguageFileLoaded) {
    // Column headers: the file-name word and the panel's labels without their ":".
    const int keys[7] = {LangKey(32, 27), 0, 0, LangKey(3, 1, 10), LangKey(3, 1, 11), LangKey(3, 1, 12),
                         LangKey(3, 1, 13)};
    for (int c = 0; c < 7; ++c) {
      if (keys[c] == 0) continue;
      QString t = Lang(keys[c]);
      if (t.endsWith(':')) t.chop(1);
      StringGrid1->setItem(0, c, new QTableWidgetItem(t));
    }
    if (const QString t = Lang(KeyClose); !t.isEmpty()) Button1->setText(t);
    if (const QString t = Lang(KeyAutoAdd); !t.isEmpty()) CheckBox1->setText(t);
    if (const QString t = Lang(KeyInfosCaption); !t.isEmpty()) setWindowTitle(t);
  }
  int width = 33;
  for (int c = 0; c < StringGrid1->columnCount(); ++c) width += StringGrid1->columnWidth(c) + 1;
  resize(width, height());
  const QSignalBlocker b(CheckBox1);
  CheckBox1->setChecked(PsfAutoAdd != 0);
}

bool TForm35::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    StringGrid1KeyDown(k->key(), k->modifiers(), k->text());
    if (k->key() == Qt::Key_Delete || (k->modifiers() & Qt::ControlModifier)) return true;
  }
  if (watched == StringGrid1->viewport() && e->type() == QEvent::MouseButtonPress) {
    const QPoint pos = static_cast<QMouseEvent*>(e)->position().toPoint();
    StringGrid1MouseDown(StringGrid1->rowAt(pos.y()), StringGrid1->columnAt(pos.x()));
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

void TForm35::StringGrid1MouseDown(int row, int column) {
  QTableWidget* g = StringGrid1;
  g->clearSelection();
  if (column == 0 && row >= 1 && row < g->rowCount()) {
    WholeRows = true;
    g->setRangeSelected(QTableWidgetSelectionRange(row, 0, row, g->columnCount() - 1), true);
    return;
  }
  WholeRows = false;
  if (row == 0 && column >= 1 && g->rowCount() > 1)
    g->setRangeSelected(QTableWidgetSelectionRange(1, column, g->rowCount() - 1, column), true);
  else if (row >= 0 && column >= 0)
    g->setRangeSelected(QTableWidgetSelectionRange(row, column, row, column), true);
}

void TForm35::StringGrid1KeyDown(int key, Qt::KeyboardModifiers mods, const QString& text) {
  QTableWidget* g = StringGrid1;
  const QList<QTableWidgetSelectionRange> ranges = g->selectedRanges();
  if (key == Qt::Key_Delete) {
    if (!WholeRows || ranges.isEmpty()) return;
    int bottom = ranges.front().bottomRow();
    auto clearRow = [g](int r) {
      for (int c = 0; c < g->columnCount(); ++c) g->setItem(r, c, new QTableWidgetItem);
    };
    for (int r = std::max(1, ranges.front().topRow()); r <= bottom && r < g->rowCount();) {
      const QTableWidgetItem* first = g->item(r, 0);
      if (first && !first->text().isEmpty()) {
        clearRow(r);
        ++r;
      } else if (g->rowCount() >= 3) {
        g->removeRow(r);
        --bottom;
      } else {
        clearRow(1);
        ++r;
      }
    }
    return;
  }
  if ((mods & Qt::ControlModifier) && key == Qt::Key_C) {
    if (ranges.isEmpty()) return;
    const QTableWidgetSelectionRange s = ranges.front();
    QStringList rows;
    for (int r = s.topRow(); r <= s.bottomRow(); ++r) {
      QStringList cells;
      for (int c = s.leftColumn(); c <= s.rightColumn(); ++c) cells << (g->item(r, c) ? g->item(r, c)->text() : QString());
      rows << cells.join('\t');
    }
    QApplication::clipboard()->setText(rows.join("\r\n"));
    return;
  }
  if (!(mods & Qt::ControlModifier)) StarKeyCommand(key, text);
}

void PSFProfilZeichnen() {
  if (!LockedStar.Analysed) return;
  AnalyseStarCutout(LockedStar.Channel, LockedStar, TStarMode::Photometry, true);
  ShowLockedStarHeader();
  LockedStar.NeedsRedraw = 1;
  DrawStarCutout(LockedStar, 1000, 2);
  TForm34* f = Settings34();
  if (!f || !f->isVisible()) return;
  QImage copy = f->Plot.copy();
  DrawProfilePlot(copy);
  f->Plot = copy;
  f->Image1->setPixmap(QPixmap::fromImage(copy));
}

void AddPsfResultToTable() {
  EnsureDialogForm(PsfInfosForm);
  auto* f = qobject_cast<TForm35*>(DialogForm(PsfInfosForm));
  if (!f) return;
  if (f->isHidden()) FadeInForm(f);
  QTableWidget* g = f->StringGrid1;
  int row = 0;
  while (row < g->rowCount() && g->item(row, 0) && !g->item(row, 0)->text().isEmpty()) ++row;
  if (row >= g->rowCount()) g->setRowCount(row + 1);
  for (int c = 0; c < 7; ++c) g->setItem(row, c, new QTableWidgetItem(QString::fromStdString(StarResultTexts[size_t(c)])));
}

void ShowPsfSettings() {
  if (!LockedStar.Analysed) return;
  EnsureDialogForm(PsfSettingsForm);
  if (QWidget* f = DialogForm(PsfSettingsForm)) FadeInForm(f);
}

void RegisterPsfForms() {
  RegisterDialogForm(PsfSettingsForm, [] { return new TForm34(QApplication::activeWindow()); });
  RegisterDialogForm(PsfInfosForm, [] { return new TForm35(QApplication::activeWindow()); });
}

}  // namespace astrelon
