#include "pixelops/ui/geometry/field_distortion_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <new>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "kernels/alignment/bright_disc.h"
#include "pixelops/geometry/field_distortion.h"
#include "pixelops/geometry/field_distortion_file.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int FormNumber = 19;
constexpr int PreviewDelayMs = 500;

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The field each edit shows, Edit1 first.
std::array<std::string*, 12> EditFields(TDistortionSettings& s) {
  return {&s.A,       &s.B,           &s.C,           &s.D,           &s.CentreX,       &s.CentreY,
          &s.PlanetWidth, &s.PlanetFactor, &s.PanoramaWidth, &s.PanoramaFactor, &s.Horizon, &s.LimbContrast};
}

// The arrow step of Editk: "X  Breite (180°)" 0.02, "Randkontrast" 0.1, else 0.01.
double ArrowStep(int k) { return k == 9 ? 0.02 : k == 12 ? 0.1 : 0.01; }

QLabel* NamedLabel(const QString& text, const QString& name, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  return l;
}

}  // namespace

TForm19::TForm19(QWidget* parent) : QDialog(parent) {
  setObjectName("Form19");
  setWindowTitle("Bildfeld Entzerrung");
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  setModal(false);

  static const char* const Defaults[12] = {"0.00", "0.00", "0.00", "1.00", "0.5",  "0.5",
                                           "1.00", "1.00", "1.00", "1.00", "0.5", "3.0"};
  std::array<QWidget*, 12> cells{};
  for (int k = 1; k <= 12; ++k) {
    auto* cell = new QWidget(this);
    auto* row = new QHBoxLayout(cell);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    QLineEdit*& e = Edit[size_t(k - 1)];
    e = new QLineEdit(Defaults[k - 1], cell);
    e->setObjectName(QString("Edit%1").arg(k));
    e->setMaximumWidth(80);
    TUpDown*& u = UpDown[size_t(k - 1)];
    u = new TUpDown(-1000000, 1000000, 0, cell);
    u->setObjectName(QString("UpDown%1").arg(k));
    u->setFixedSize(17, e->sizeHint().height());
    row->addWidget(e);
    row->addWidget(u);
    cells[size_t(k - 1)] = cell;
    connect(e, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(u, &TUpDown::Clicked, this, [this, k](bool up) { UpDownClick(k, up); });
  }
  const auto cell = [&](int k) { return cells[size_t(k - 1)]; };

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  auto* sheet1 = new QWidget;
  sheet1->setObjectName("TabSheet1");
  auto* g1 = new QGridLayout(sheet1);
  g1->addWidget(NamedLabel("rsrc = A * rdest^4     +     B * rdest^3     +      C * rdest^2     +     D * rdest",
                           "Label1", sheet1),
                0, 0, 1, 4);
  for (int k = 1; k <= 4; ++k) g1->addWidget(cell(k), 1, k - 1);
  // The planet's and the panorama's pages: three labelled edits each.
  struct TRowSpec {
    const char* Text;
    const char* Name;
    int Edit;
  };
  const auto page = [&](const char* name, std::array<TRowSpec, 3> rows) {
    auto* sheet = new QWidget;
    sheet->setObjectName(name);
    auto* grid = new QGridLayout(sheet);
    for (int i = 0; i < 3; ++i) {
      const TRowSpec& r = rows[size_t(i)];
      grid->addWidget(NamedLabel(QString::fromUtf8(r.Text), r.Name, sheet), i, 0);
      grid->addWidget(cell(r.Edit), i, 1);
    }
    return sheet;
  };
  QWidget* sheet2 = page("TabSheet2", {{{"X  Breite", "Label4", 7}, {"Y Faktor", "Label5", 8}, {"Randkontrast", "Label9", 12}}});
  QWidget* sheet3 =
      page("TabSheet3", {{{"X  Breite (180°)", "Label6", 9}, {"Y Faktor", "Label7", 10}, {"Y Horizont", "Label8", 11}}});
  PageControl1->addTab(sheet1, "Kissenentzerrung");
  PageControl1->addTab(sheet2, "Planet");
  PageControl1->addTab(sheet3, "Panorama");

  CheckBox2 = new QCheckBox("Nur horizontal", this);
  CheckBox2->setObjectName("CheckBox2");
  connect(CheckBox2, &QCheckBox::toggled, this, [this] { Edit1Change(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(PreviewDelayMs);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  SpeedButton1->setToolTip("Einstellungen laden");
  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName("SpeedButton2");
  SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  SpeedButton2->setToolTip("Einstellungen speichern");
  OpenDialog1 = MakeParameterFileDialog(this, false, "Astrelon Kissenentzerrung (*.qzk)", "qzk");
  SaveDialog1 = MakeParameterFileDialog(this, true, "Astrelon Kissenentzerrung (*.qzk)", "qzk");
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("&Abbruch", this);
  Button2->setObjectName("Button2");
  for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);

  auto* centre = new QHBoxLayout;
  centre->addWidget(NamedLabel("Mitte:  X", "Label2", this));
  centre->addWidget(cell(5));
  centre->addWidget(NamedLabel("Y", "Label3", this));
  centre->addWidget(cell(6));
  centre->addStretch();
  auto* files = new QHBoxLayout;
  files->addWidget(CheckBox2);
  files->addStretch();
  files->addWidget(SpeedButton1);
  files->addWidget(SpeedButton2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* all = new QVBoxLayout(this);
  all->addWidget(PageControl1);
  all->addLayout(centre);
  all->addLayout(files);
  all->addLayout(buttons);

  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  ShowSettings(DistortionSettings);
  DistortionSettingsChangedHook = [this] {
    loading_ = true;
    ShowSettings(DistortionSettings);
    loading_ = false;
    Timer1->stop();
  };
}

TForm19::~TForm19() { DistortionSettingsChangedHook = nullptr; }

void TForm19::SetSlots(int source, int destination) {
  source_ = source;
  destination_ = destination;
}

TDistortionSettings TForm19::ControlSettings() const {
  TDistortionSettings s;
  s.Page = TDistortionPage(std::clamp(PageControl1->currentIndex(), 0, 2));
  const std::array<std::string*, 12> fields = EditFields(s);
  for (size_t i = 0; i < 12; ++i) *fields[i] = S(Edit[i]->text());
  s.HorizontalOnly = CheckBox2->isChecked();
  return s;
}

void TForm19::ShowSettings(const TDistortionSettings& shown) {
  TDistortionSettings s = shown;
  const std::array<std::string*, 12> fields = EditFields(s);
  for (size_t i = 0; i < 12; ++i) Edit[i]->setText(Q(*fields[i]));
  CheckBox2->setChecked(s.HorizontalOnly);
  {
    // A page chosen by a file does not measure the disc again.
    const QSignalBlocker block(PageControl1);
    PageControl1->setCurrentIndex(int(s.Page));
  }
  CheckBox2->setVisible(s.Page == TDistortionPage::Pincushion);
}

void TForm19::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TForm19::closeEvent(QCloseEvent* e) {
  // The window's close button acts as "&Abbruch".
  e->ignore();
  Button2Click();
}

void TForm19::reject() { Button2Click(); }

void TForm19::FormShow() {
  if (LanguageFileLoaded && DialogFormNeedsTranslation(FormNumber)) {
    TranslateForm(S(objectName()));
    SetDialogFormTranslated(FormNumber);
  }
  SlotPair = {source_, destination_};
  SetOperationActive(true);
  loading_ = false;
  pendingButton_ = 0;
  CheckBox2->setVisible(PageControl1->currentIndex() == 0);
  Timer1->stop();
  Preview();
}

void TForm19::Edit1Change() {
  if (!loading_) DistortionSettings = ControlSettings();
  Timer1->start();
}

void TForm19::Timer1Timer() {
  Timer1->stop();
  if (!loading_ && isVisible()) Preview();
}

void TForm19::UpDownClick(int k, bool up) {
  if (k < 1 || k > 12) return;
  QLineEdit* e = Edit[size_t(k - 1)];
  const std::optional<double> v = TryStrToFloatDot(S(e->text()));
  if (!v) return;
  e->setText(Q(FloatToStr(*v + (up ? ArrowStep(k) : -ArrowStep(k)))));
}

void TForm19::PageControl1Change() {
  if (PageControl1->currentIndex() == 1 && SlotInUse(source_)) {
    SetWorkRectToImage(source_);
    const TBrightDisc disc = FindBrightDisc(source_);
    const double w = Store.Image[size_t(source_)].Width, h = Store.Image[size_t(source_)].Height;
    const double dx = std::fabs(disc.RightEdge - disc.LeftEdge), dy = std::fabs(disc.BottomEdge - disc.TopEdge);
    if (dx >= 10 && dy >= 10) {
      const auto fixed3 = [](double v) { return Q(FloatToStrF(v, TFloatFormat::Fixed, 15, 3)); };
      const double width = dx / w;
      Edit[6]->setText(fixed3(width));
      Edit[7]->setText(fixed3(dy / w / width));
      Edit[4]->setText(fixed3(std::fabs(disc.CentreX) / w));
      Edit[5]->setText(fixed3(std::fabs(disc.CentreY) / h));
    }
  }
  CheckBox2->setVisible(PageControl1->currentIndex() == 0);
  Edit1Change();
}

void TForm19::Mark(QLineEdit* edit) {
  if (marked_ == edit) return;
  if (marked_) marked_->setStyleSheet(QString());
  marked_ = edit;
  if (marked_) marked_->setStyleSheet("background-color: #ffc0c0;");
}

void TForm19::Preview() {
  if (previewing_) {
    previewAgain_ = true;  // the last change wins once the running preview ends
    return;
  }
  previewing_ = true;
  do {
    previewAgain_ = false;
    ComputePreview();
  } while (previewAgain_ && isVisible() && pendingButton_ == 0);
  previewing_ = false;
  RunPendingButton();
}

void TForm19::ComputePreview() {
  TDistortionSettings s = ControlSettings();
  DistortionSettings = s;
  TDistortionField bad = TDistortionField::A;
  const std::optional<TDistortionValues> v = DistortionValues(s, &bad);
  if (!v) {
    const std::array<std::string*, 12> fields = EditFields(s);
    const auto at = std::find(fields.begin(), fields.end(), &DistortionFieldText(s, bad));
    Mark(at != fields.end() ? Edit[size_t(at - fields.begin())] : nullptr);
    return;
  }
  Mark(nullptr);
  try {
    if (CorrectFieldDistortion(source_, destination_, *v)) ImageChanged(destination_);
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(e.what());
  }
  EngineUi().ShowStatus("");
}

void TForm19::RunPendingButton() {
  const int button = pendingButton_;
  pendingButton_ = 0;
  if (button == 1) Finish(true);
  if (button == 2) Finish(false);
}

void TForm19::Finish(bool keep) {
  if (previewing_) {
    pendingButton_ = keep ? 1 : 2;
    return;
  }
  Timer1->stop();
  SlotPair = {source_, destination_};
  SetOperationActive(false);
  if (keep) {
    if (SlotInUse(destination_)) {
      AddHistoryCard(destination_, S(windowTitle()), 1);
      ComputeHistogram(destination_, false, true);
      RefreshHistogramWindow();
    }
  } else if (SlotInUse(destination_)) {
    CloseImageSlot(destination_);
  }
  SlotPair = {};
  source_ = destination_ = -1;
  hide();
}

void TForm19::Button1Click() { Finish(true); }
void TForm19::Button2Click() { Finish(false); }

void TForm19::SpeedButton1Click() {
  if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
  if (LoadSettingsFile(OpenDialog1->selectedFiles().first())) Preview();
}

bool TForm19::LoadSettingsFile(const QString& fileName) {
  DistortionSettings = ControlSettings();
  if (!LoadDistortionSettings(S(fileName))) return false;  // the controls follow through the hook
  SaveDialog1->selectFile(Q(DistortionSettingsFileName(S(fileName))));
  return true;
}

void TForm19::SpeedButton2Click() {
  if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
  SaveSettingsFile(SaveDialog1->selectedFiles().first());
}

bool TForm19::SaveSettingsFile(const QString& fileName) {
  const std::string name = DistortionSettingsFileName(S(fileName));
  std::string error;
  if (!WriteDistortionSettings(name, ControlSettings(), &error)) {
    EngineUi().ShowMessage(error);
    return false;
  }
  OpenDialog1->selectFile(Q(name));
  return true;
}

TForm19* FieldDistortionDialog() {
  static const bool registered = [] {
    RegisterDialogForm(FormNumber, [] { return new TForm19(MainLink().Window.data()); });
    return true;
  }();
  (void)registered;
  EnsureDialogForm(FormNumber);
  return qobject_cast<TForm19*>(DialogForm(FormNumber));
}

}  // namespace astrelon
