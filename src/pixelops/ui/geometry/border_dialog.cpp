#include "pixelops/ui/geometry/border_dialog.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <new>
#include <optional>

#include "common/engine_ui.h"
#include "core/language.h"
#include "kernels/regions/add_border.h"
#include "pixelops/geometry/fixed_size_crop.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {
constexpr int FormNumber = 5;
}

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  setObjectName("Form5");
  setWindowTitle("Rand hinzufügen");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* grid = new QGridLayout(this);
  auto row = [&](int r, const char* name, const char* caption, QLabel*& label, QLineEdit*& edit, const char* editName,
                 bool pixels) {
    label = new QLabel(caption, this);
    label->setObjectName(name);
    edit = new QLineEdit("0", this);
    edit->setObjectName(editName);
    grid->addWidget(label, r, 0);
    grid->addWidget(edit, r, 1);
    if (pixels) grid->addWidget(new QLabel("Pixel", this), r, 2);
  };
  row(0, "Label1", "Oben", Label1, Edit1, "Edit1", true);
  row(1, "Label2", "Unten", Label2, Edit2, "Edit2", true);
  row(2, "Label3", "Links", Label3, Edit3, "Edit3", true);
  row(3, "Label4", "Rechts", Label4, Edit4, "Edit4", true);
  row(4, "Label5", "Pixelwert", Label5, Edit5, "Edit5", false);
  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton("&Ok", this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button2 = new QPushButton("&Abbruch", this);
  Button2->setObjectName("Button2");
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  grid->addLayout(buttons, 5, 0, 1, 3);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, &QWidget::close);
}

void TForm5::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TForm5::FormShow() {
  if (LanguageFileLoaded) TranslateForm(objectName().toStdString());
}

void TForm5::Button1Click() {
  const std::array<QLineEdit*, 4> edits{Edit1, Edit2, Edit3, Edit4};
  std::array<int32_t, 4> margins{};
  for (size_t i = 0; i < edits.size(); ++i) {
    const std::optional<int32_t> m = ParseMargin(edits[i]->text().trimmed().toStdString());
    if (!m) return;
    margins[i] = *m;
  }
  const std::optional<TTypedNumber> fill = ReadNumber(Edit5->text().trimmed().toStdString(), TNumberKind::Float);
  if (!fill) return;
  if (int64_t(margins[0]) + margins[1] + margins[2] + margins[3] <= 0 || !SlotInUse(SourceSlot)) return;
  ActivateImageWindow(SourceSlot);
  if (FindActiveSlot() != SourceSlot) return;
  TResultSlot result;
  if (!result) return;
  const int dst = result.Destination();
  try {
    AddBorder(dst, margins[0], margins[1], margins[2], margins[3], float(fill->Value));
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
    return;
  }
  SetNaxisCards(dst);
  AddHistoryCard(dst, windowTitle().remove('&').toStdString(), 2);
  const std::array<QLabel*, 4> labels{Label1, Label2, Label3, Label4};
  for (size_t i = 0; i < labels.size(); ++i)
    AddHistoryCard(dst, (labels[i]->text() + " " + edits[i]->text().trimmed()).toStdString(), 0);
  AddHistoryCard(dst, (Label5->text() + " " + Edit5->text().trimmed()).toStdString(), -1);
  result.Finish({.ResetRange = true, .AutoDisplayRange = false, .History = {}, .HistoryMode = 0});
  close();
}

void AddBorderCommand(QAction* sender) {
  const int slot = FindActiveSlot();
  if (slot < 1) return;
  RegisterDialogForm(FormNumber, [] { return new TForm5; });
  EnsureDialogForm(FormNumber);
  if (auto* form = qobject_cast<TForm5*>(DialogForm(FormNumber))) {
    form->SourceSlot = slot;
    form->show();
    form->raise();
  }
  if (sender) AddRecentFunction(sender);
}

}  // namespace astrelon
