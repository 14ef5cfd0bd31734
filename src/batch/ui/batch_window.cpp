// The batch window: its controls, showing and translating, drops and the
// debounce of the step editor.
#include "batch/ui/batch_window.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "batch/inputs/shift_list_selection.h"
#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/steps/translated_batch_table.h"
#include "batch/ui/batch_file_choice.h"
#include "batch/ui/batch_operation_menu.h"
#include "common/paths.h"
#include "core/language.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "shell/ui/controls/dd_button.h"
#include "shell/ui/main/main_services_ui.h"

namespace astrelon {

namespace {

QString Caption(TBatchCaption c) { return QString::fromStdString(BatchCaption(c)); }

QStringList Items(const auto& names) {
  QStringList items;
  for (const char* n : names) items << QString::fromUtf8(n);
  return items;
}

QToolButton* ToolButton(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  return b;
}

}  // namespace

TForm7::TForm7() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName("Form7");
  setAcceptDrops(true);
  BuildControls();
  // The window's start: the file step alone, the translated table untranslated.
  BatchRun.InputList = false;
  BatchRun.Running = 0;
  BatchRun.CometValuesSet = false;
  BatchRun.MosaicFileName = "*.qcm";
  BatchRun.CombinedCount = 1;
  BatchWindow.AllFilesInFolder = false;
  BatchSteps = TBatchStepList();
  ResetTranslatedBatchTable();
  ChooseFiles = [this](TBatchBrowse kind, const QString& start) { return RunBatchFileDialog(this, kind, start); };
  // A chosen shift list is read, its best images kept and made the run's list.
  LoadShiftList = [this] {
    const QStringList files = Choose(TBatchBrowse::ShiftList, {});
    if (files.isEmpty()) return 0;
    const TShiftListLoad load = astrelon::LoadShiftList(files.first().toStdString());
    if (!load.Loaded) return 0;
    BatchRun.ShiftListCount = load.Count;
    BatchRun.ReferenceDropped = load.ReferenceDropped;
    return load.Mode;
  };
  TranslateTexts();
}

TForm7::~TForm7() = default;

void TForm7::BuildControls() {
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->hide();
  Memo2 = new QPlainTextEdit(this);
  Memo2->setObjectName("Memo2");
  Memo2->setReadOnly(true);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->setMinimumWidth(280);

  OpenBtn = ToolButton(this, "OpenBtn", {});
  SaveBtn = ToolButton(this, "SaveBtn", {});
  SpeedButton4 = ToolButton(this, "SpeedButton4", {});
  SButton1 = ToolButton(this, "SButton1", {});
  SButton1->setArrowType(Qt::LeftArrow);
  SButton2 = ToolButton(this, "SButton2", {});
  SButton2->setArrowType(Qt::RightArrow);
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  qzDDButton1 = new TqzDDButton(this);
  qzDDButton1->setObjectName("qzDDButton1");
  qzDDButton1->setMinimumSize(220, 25);
  PopupMenu2 = BuildBatchOperationMenu(this);
  SpeedButton1 = ToolButton(this, "SpeedButton1", "...");
  SpeedButton3 = ToolButton(this, "SpeedButton3", "...");

  auto* params = new QGridLayout;
  for (size_t j = 0; j < 4; ++j) {
    ParamLabel[j] = new QLabel(this);
    ParamLabel[j]->setObjectName(QString("Label%1").arg(j + 2));
    ParamEdit[j] = new QLineEdit(this);
    ParamEdit[j]->setObjectName(QString("Edit%1").arg(j + 1));
    params->addWidget(ParamLabel[j], int(j), 0);
    params->addWidget(ParamEdit[j], int(j), 1);
  }
  params->addWidget(SpeedButton1, 0, 2);
  params->addWidget(SpeedButton3, 1, 2);

  auto checkBox = [this](const char* name) {
    auto* c = new QCheckBox(this);
    c->setObjectName(name);
    return c;
  };
  CheckBox1 = checkBox("CheckBox1");
  CheckBox2 = checkBox("CheckBox2");
  CheckBox3 = checkBox("CheckBox3");
  CheckBox4 = checkBox("CheckBox4");
  CheckBox6 = checkBox("CheckBox6");
  gButton1 = new QPushButton("<>", this);
  gButton1->setObjectName("gButton1");
  RadioGroup1 = new TRadioGroup({}, {"0", "1", "2", "M"}, 4, this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup2 = new TRadioGroup({}, Items(BatchCombineItems), 3, this);
  RadioGroup2->setObjectName("RadioGroup2");
  RadioGroup4 = new TRadioGroup({}, Items(BatchInterpolationNames), 3, this);
  RadioGroup4->setObjectName("RadioGroup4");

  // Pages of the add-to-target step.
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");
  auto* normal = new QWidget;
  normal->setObjectName("TabSheet1");
  Label7 = new QLabel(normal);
  Label7->setObjectName("Label7");
  Label7->setWordWrap(true);
  Edit5 = new QLineEdit(normal);
  Edit5->setObjectName("Edit5");
  Edit6 = new QLineEdit(normal);
  Edit6->setObjectName("Edit6");
  CheckBox5 = checkBox("CheckBox5");
  CheckBox5->setParent(normal);
  Button5 = new QPushButton(normal);
  Button5->setObjectName("Button5");
  auto* normalGrid = new QGridLayout(normal);
  normalGrid->addWidget(Label7, 0, 0, 1, 4);
  normalGrid->addWidget(new QLabel("X:", normal), 1, 0);
  normalGrid->addWidget(Edit5, 1, 1);
  normalGrid->addWidget(new QLabel("Y:", normal), 1, 2);
  normalGrid->addWidget(Edit6, 1, 3);
  normalGrid->addWidget(CheckBox5, 2, 0, 1, 2);
  normalGrid->addWidget(Button5, 2, 2, 1, 2);
  auto* planet = new QWidget;
  planet->setObjectName("Planet");
  RadioGroup3 = new TRadioGroup({}, {}, 1, planet);
  RadioGroup3->setObjectName("RadioGroup3");
  Edit8 = new QLineEdit("30.0", planet);
  Edit8->setObjectName("Edit8");
  auto* percent = new QLabel(planet);
  percent->setObjectName("Label8");
  auto* planetGrid = new QGridLayout(planet);
  planetGrid->addWidget(RadioGroup3, 0, 0, 2, 1);
  planetGrid->addWidget(Edit8, 0, 1);
  planetGrid->addWidget(percent, 0, 2);
  auto* bayer = new QWidget;
  bayer->setObjectName("TabSheet2");
  Edit7 = new QLineEdit("*.qcm", bayer);
  Edit7->setObjectName("Edit7");
  SpeedButtonf = ToolButton(bayer, "SpeedButtonf", "...");
  auto* bayerRow = new QHBoxLayout(bayer);
  bayerRow->addWidget(Edit7);
  bayerRow->addWidget(SpeedButtonf);
  PageControl1->addTab(normal, {});
  PageControl1->addTab(planet, {});
  PageControl1->addTab(bayer, {});

  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListBox1->installEventFilter(this);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListBox1, &QListWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(p)); });
  ListBox1->hide();
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  PopupMenu1->addAction(QString())->setObjectName("Explorerstarten1");
  PopupMenu1->addAction(QString())->setObjectName("AlleDateienlschen1");

  Button3 = new QPushButton(this);
  Button3->setObjectName("Button3");
  Button4 = new QPushButton(this);
  Button4->setObjectName("Button4");
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  Timer1->setSingleShot(true);

  // Layout: file buttons and step navigation on top, the editor, the pages,
  // the drop list; the text on the right.
  auto* top = new QHBoxLayout;
  for (QWidget* w : {static_cast<QWidget*>(OpenBtn), static_cast<QWidget*>(SaveBtn),
                     static_cast<QWidget*>(SpeedButton4)})
    top->addWidget(w);
  top->addStretch(1);
  top->addWidget(SButton1);
  top->addWidget(Label1);
  top->addWidget(SButton2);
  auto* groups = new QHBoxLayout;
  groups->addWidget(RadioGroup1);
  groups->addWidget(RadioGroup2);
  groups->addWidget(RadioGroup4);
  auto* boxes = new QGridLayout;
  boxes->addWidget(CheckBox1, 0, 0);
  boxes->addWidget(CheckBox2, 1, 0);
  boxes->addWidget(CheckBox3, 2, 0);
  boxes->addWidget(CheckBox4, 0, 1);
  boxes->addWidget(CheckBox6, 1, 1);
  boxes->addWidget(gButton1, 2, 1);
  auto* editor = new QVBoxLayout;
  editor->addLayout(top);
  editor->addWidget(qzDDButton1);
  editor->addLayout(params);
  editor->addLayout(boxes);
  editor->addLayout(groups);
  editor->addWidget(PageControl1);
  editor->addWidget(ListBox1, 1);
  editor->addStretch(0);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button3);
  buttons->addWidget(Button4);
  auto* right = new QVBoxLayout;
  right->addWidget(Memo2, 1);
  right->addLayout(buttons);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(editor);
  layout->addLayout(right, 1);

  // Handlers. Edits store only while the editor is not filling its controls.
  for (size_t j = 0; j < 4; ++j)
    connect(ParamEdit[j], &QLineEdit::textChanged, this, [this, j](const QString& text) {
      if (!BatchEditorUpdating) return;
      bmenuitem& r = BatchSteps.Records[size_t(BatchSteps.EditorStep)];
      r.Values[j] = text.toStdString();
      // The histogram function's limits are both "auto" or both numbers.
      if (j == 1 && BatchSteps.Ops[size_t(BatchSteps.EditorStep)] == 34 && text != "auto" &&
          text.contains('a', Qt::CaseInsensitive)) {
        ParamEdit[1]->setText("auto");
        ParamEdit[2]->setText("auto");
        r.Values[1] = r.Values[2] = "auto";
      }
      Debounce();
    });
  const auto storeComet = [this](size_t j, const QString& text) {
    if (!BatchEditorUpdating) return;
    BatchSteps.Records[size_t(BatchSteps.EditorStep)].Values[j] = text.toStdString();
    Debounce();
  };
  connect(Edit5, &QLineEdit::textChanged, this, [storeComet](const QString& t) { storeComet(0, t); });
  connect(Edit6, &QLineEdit::textChanged, this, [storeComet](const QString& t) { storeComet(1, t); });
  connect(Edit7, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!BatchEditorUpdating) return;
    BatchRun.MosaicFileName = text.toStdString();
    Debounce();
  });
  connect(Edit8, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!BatchEditorUpdating) return;
    BatchWindow.EdgeValue = text.toStdString();
    Debounce();
  });
  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
    if (!BatchEditorUpdating) return;
    const TBatchOp op = BatchSteps.Ops[size_t(BatchSteps.EditorStep)];
    BatchSteps.Records[size_t(BatchSteps.EditorStep)].OptionCaption = on ? BatchTableRow(op).OptionCaption : "";
    Debounce();
  });
  const auto setFlag = [this](int bit, bool on) {
    if (!BatchEditorUpdating) return;
    int32_t& flags = BatchSteps.Records[size_t(BatchSteps.EditorStep)].OptionFlags;
    flags = std::max(flags, 0);
    flags = on ? flags | bit : flags & ~bit;
    Debounce();
  };
  connect(CheckBox2, &QCheckBox::toggled, this, [setFlag](bool on) { setFlag(1, on); });
  connect(CheckBox6, &QCheckBox::toggled, this, [setFlag](bool on) { setFlag(4, on); });
  connect(CheckBox3, &QCheckBox::toggled, this, [this](bool on) {
    if (!BatchEditorUpdating) return;
    BatchWindow.AllFilesInFolder = on;
    CheckBox1->setEnabled(!on);
    // The skip option belongs to a numbered series only.
    BatchSteps.Records[1].OptionCaption = !on && CheckBox1->isChecked() ? BatchTableRow(0).OptionCaption : "";
    Debounce();
  });
  connect(RadioGroup4, &TRadioGroup::Clicked, this, [this](int index) {
    if (!BatchEditorUpdating) return;
    BatchSteps.Records[size_t(BatchSteps.EditorStep)].MarksOrInterpolation = index;
    Debounce();
  });
  connect(RadioGroup1, &TRadioGroup::Clicked, this, [this] { RadioGroup1Click(); });
  connect(RadioGroup2, &TRadioGroup::Clicked, this, [this] { RadioGroup2Click(); });
  connect(RadioGroup3, &TRadioGroup::Clicked, this, [this] { RadioGroup3Click(); });
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (BatchEditorUpdating) PageControl1Change();
  });
  connect(CheckBox4, &QCheckBox::clicked, this, [this] { CheckBox4Click(); });
  connect(CheckBox5, &QCheckBox::clicked, this, [this] { CheckBox5Click(); });
  connect(gButton1, &QPushButton::clicked, this, [this] { gButton1Click(); });
  connect(SButton1, &QToolButton::clicked, this, [this] { SButton1Click(); });
  connect(SButton2, &QToolButton::clicked, this, [this] { SButton2Click(); });
  connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
  connect(SpeedButtonf, &QToolButton::clicked, this, [this] { SpeedButtonfClick(); });
  connect(OpenBtn, &QToolButton::clicked, this, [this] { OpenBtnClick(); });
  connect(SaveBtn, &QToolButton::clicked, this, [this] { SaveBtnClick(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { hide(); });
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  connect(qzDDButton1, &TqzDDButton::clicked, this, [this] {
    if (BatchSteps.EditorStep > 1)
      PopupMenu2->popup(qzDDButton1->mapToGlobal(QPoint(qzDDButton1->width() / 2, qzDDButton1->height())));
  });
  for (QAction* a : PopupMenu2->findChildren<QAction*>())
    if (a->data().isValid())
      connect(a, &QAction::triggered, this, [this, a] { ChooseOperation(a->data().toInt(), a->text()); });
  connect(PopupMenu1->actions()[0], &QAction::triggered, this, [this] { Explorerstarten1Click(); });
  connect(PopupMenu1->actions()[1], &QAction::triggered, this, [this] { AlleDateienlschen1Click(); });
}

void TForm7::TranslateTexts() {
  setWindowTitle(Caption(TBatchCaption::WindowTitle));
  CheckBox3->setText(Caption(TBatchCaption::AllFiles));
  CheckBox4->setText(Caption(TBatchCaption::ShiftListBox));
  CheckBox5->setText(Caption(TBatchCaption::ByTimestamp));
  CheckBox6->setText(Caption(TBatchCaption::MaximumValues));
  RadioGroup1->setTitle(Caption(TBatchCaption::MarksGroup));
  RadioGroup2->setTitle(Caption(TBatchCaption::FunctionGroup));
  RadioGroup4->setTitle(Caption(TBatchCaption::InterpolationGroup));
  RadioGroup3->setTitle(Caption(TBatchCaption::ShiftFinding));
  const int edge = RadioGroup3->ItemIndex();
  RadioGroup3->SetItems({Caption(TBatchCaption::EdgeDetection), Caption(TBatchCaption::CrossCorrelation)});
  RadioGroup3->SetItemIndex(edge);
  PageControl1->setTabText(0, Caption(TBatchCaption::NormalPage));
  PageControl1->setTabText(1, Caption(TBatchCaption::PlanetPage));
  PageControl1->setTabText(2, Caption(TBatchCaption::BayerPage));
  findChild<QLabel*>("Label8")->setText(Caption(TBatchCaption::PercentOfWhite));
  Button5->setText(Caption(TBatchCaption::Compute));
  PopupMenu1->actions()[0]->setText(Caption(TBatchCaption::StartExplorer));
  PopupMenu1->actions()[1]->setText(Caption(TBatchCaption::ClearList));
  gButton1->setToolTip(Caption(TBatchCaption::PixelCountToggle));
  OpenBtn->setText(Caption(TBatchCaption::OpenBatch));
  SaveBtn->setText(Caption(TBatchCaption::SaveBatch));
  SpeedButton4->setText(Caption(TBatchCaption::NewList));
  SpeedButton4->setToolTip(Caption(TBatchCaption::NewList));
  SButton1->setToolTip(Caption(TBatchCaption::PreviousStep));
  SButton2->setToolTip(Caption(TBatchCaption::NextStep));
  Button3->setText(Caption(TBatchCaption::Start));
  Button4->setText(Caption(TBatchCaption::Abort));
  ShowCometCaption();
}

void TForm7::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The batch open dialog starts in the folder of the image opened last.
  const std::string folder = ExtractFilePath(Settings.OpenDialogFileName);
  if (!folder.empty() && QFileInfo(QString::fromStdString(folder)).isDir())
    openProposal_ = QString::fromStdString(folder) + "*.qzb";
  if (firstShow_) {
    firstShow_ = false;
    ListBox1->setFont(QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont));
  }
  TranslateBatchTable();
  TranslateTexts();
  SchrittAnzeigen();
  BatchTextSchreiben();
  ShowBatchText();
}

void TForm7::ShowBatchText() {
  const auto join = [](const std::vector<std::string>& lines) {
    QStringList l;
    for (const std::string& s : lines) l << QString::fromStdString(s);
    return l.join('\n');
  };
  Memo1->setPlainText(join(BatchText.Lines));
  Memo2->setPlainText(join(BatchText.Translated));
}

void TForm7::Debounce() {
  if (!BatchEditorUpdating) return;
  if (BatchRun.Running) {
    // The timer drives the run (and stays off while it is paused).
    BatchTextSchreiben();
    ShowBatchText();
    return;
  }
  Timer1->stop();
  Timer1->start();
}

QStringList TForm7::Choose(TBatchBrowse kind, const QString& start) {
  return ChooseFiles ? ChooseFiles(kind, start) : QStringList();
}

void TForm7::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm7::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  AddInputFiles(files);
  event->acceptProposedAction();
}

bool TForm7::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListBox1) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
      DeleteSelectedInputs();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

TForm7* BatchWindowForm() { return dynamic_cast<TForm7*>(DialogForm(BatchWindowFormNumber)); }

}  // namespace astrelon
