#include "pixelops/ui/geometry/crop_frame_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <new>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "core/settings.h"
#include "pixelops/geometry/fixed_size_crop.h"
#include "pixelops/ui/geometry/crop_command.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/window_coordinates.h"
#include "store/image_store.h"
#include "store/rect_text.h"

namespace astrelon {

TCropFrameState CropFrame;

namespace {

constexpr int FormNumber = 36;

TForm36* Dialog() { return qobject_cast<TForm36*>(DialogForm(FormNumber)); }

void HideFrame() {
  if (TMDIChild* w = ImageWindow(CropFrame.Slot)) {
    w->Overlay().Shape1.Visible = false;
    w->Image1->update();
  }
}

}  // namespace

TForm36::TForm36(QWidget* parent) : QDialog(parent) {
  setObjectName("Form36");
  setWindowTitle("Ausschneiden");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Bildbreite in Pixel:", this));
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  layout->addWidget(Edit1);
  layout->addWidget(new QLabel("Bildhöhe in Pixel oder Seitenverhältnis:", this));
  auto* heightRow = new QHBoxLayout;
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  Label3 = new QLabel(this);
  Label3->setObjectName("Label3");
  heightRow->addWidget(Edit2);
  heightRow->addWidget(Label3);
  layout->addLayout(heightRow);
  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton("Ausschneiden", this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("Fenster schliessen", this);
  Button2->setObjectName("Button2");
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  layout->addLayout(buttons);
  connect(Edit1, &QLineEdit::textEdited, this, [this] { Edit1Change(); });
  connect(Edit2, &QLineEdit::textEdited, this, [this] { Edit2Change(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, &QWidget::close);
}

void TForm36::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TForm36::FormShow() {
  if (LanguageFileLoaded) TranslateForm(objectName().toStdString());
  Edit1->setText(QString::fromStdString(IntToStr(Settings.CutoutWidth)));
  Edit2->setText(QString::fromStdString(Settings.CutoutAspect));
  CropFrame.Showing = true;
  widthValid_ = true;
  UpdateCropFrame();
}

bool TForm36::ParseCropHeight() {
  const TCropHeight h = astrelon::ParseCropHeight(Settings.CutoutAspect, Settings.CutoutWidth);
  CropFrame.Height = h.Height;
  if (h.Status == TCropHeightStatus::ZeroRatio)
    Label3->setText(QString::fromStdString(LangTextOr(LangKey(36, 1), "Ungültiges Seitenverhältnis") + " " +
                                           Settings.CutoutAspect));
  else
    Label3->setText(QString::fromStdString(h.Label));
  return h.Valid();
}

void TForm36::UpdateCropFrame() {
  const bool valid = ParseCropHeight() && widthValid_;
  Button1->setEnabled(valid);
  if (!valid) return;
  TMDIChild* w = ImageWindow(CropFrame.Slot);
  if (!w) return;
  w->Overlay().Image2.Visible = false;
  const TRectI frame = CropFrameRect(CropFrame.CentreX, CropFrame.CentreY, Settings.CutoutWidth, CropFrame.Height);
  const TRectI r = ImageToScreenRect(w->Zoom(), {0, 0}, frame);
  w->Overlay().Shape1.Bounds = QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  w->Overlay().Shape1.Visible = true;
  w->Image1->update();
}

void TForm36::Edit1Change() {
  const auto width = TryStrToInt(Edit1->text().trimmed().toStdString());
  widthValid_ = width && *width > 0 && *width < 32768;
  if (widthValid_) Settings.CutoutWidth = int32_t(*width);
  UpdateCropFrame();
}

void TForm36::Edit2Change() {
  Settings.CutoutAspect = Edit2->text().trimmed().toStdString();
  UpdateCropFrame();
}

void TForm36::Button1Click() {
  if (!Button1->isEnabled() || !SlotInUse(CropFrame.Slot)) return;
  const int src = CropFrame.Slot, dst = FindFreeSlot();
  if (dst < 1) return;
  TRectI clipped;
  try {
    const TRectI frame = CropFrameRect(CropFrame.CentreX, CropFrame.CentreY, Settings.CutoutWidth, CropFrame.Height);
    if (!CutFixedSize(src, dst, frame, clipped)) return;
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
    return;
  }
  ShowCutImage(src, dst, windowTitle().remove('&').toStdString() + " " + FormatRectText(clipped));
}

void TForm36::closeEvent(QCloseEvent* e) {
  HideFrame();
  CropFrame.Showing = false;
  QDialog::closeEvent(e);
}

void ShowCropFrameDialog(int slot, int32_t x, int32_t y) {
  CropFrame.Slot = slot;
  CropFrame.CentreX = x;
  CropFrame.CentreY = y;
  RegisterDialogForm(FormNumber, [] { return new TForm36; });
  EnsureDialogForm(FormNumber);
  TForm36* form = Dialog();
  if (!form) return;
  if (form->isVisible()) {
    form->UpdateCropFrame();
    form->raise();
  } else {
    FadeInForm(form);
  }
}

void InstallCropFrameDialog() {
  ShowCropChoiceHook = &ShowCropFrameDialog;
  // Moving selection 1 of the cut image moves the frame's centre.
  auto previous = std::move(TMDIChild::SelectionChangedHook);
  TMDIChild::SelectionChangedHook = [previous](TMDIChild& w, int kind) {
    if (previous) previous(w, kind);
    if (!CropFrame.Showing || w.Tag != CropFrame.Slot || !w.SelectionVisible(1)) return;
    const TRectI r = w.SelectionImageRect(1);
    CropFrame.CentreX = r.Left + Settings.CutoutWidth / 2;
    CropFrame.CentreY = r.Top + CropFrame.Height / 2;
  };
}

}  // namespace astrelon
