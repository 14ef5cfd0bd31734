#include "pixelops/ui/geometry/rotate_commands.h"

#include <QAction>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "common/pascal_format.h"
#include "core/language.h"
#include "core/settings.h"
#include "pixelops/geometry/find_blank_margins.h"
#include "pixelops/geometry/guide_line_angle.h"
#include "pixelops/geometry/rotate_image.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/guide_lines.h"
#include "store/image_store.h"

namespace astrelon {

double LastRotateAngle = 0;

namespace {

constexpr int FormNumber = 29;

// Rotates the active image into a new window and cuts away its blank edges.
void RotateIntoNewWindow(const QString& caption, double angle, int framing, const std::string& angleText) {
  TResultSlot result;
  if (!result) return;
  if (!RotateImage(result.Source(), result.Destination(), Settings.InterpolationKind, angle, framing)) return;
  TrimBlankEdges(result.Destination());
  result.Finish({.ResetRange = true, .AutoDisplayRange = false,
                 .History = caption.toStdString() + " " + angleText, .HistoryMode = 0});
}

}  // namespace

TForm29::TForm29(QWidget* parent) : QDialog(parent) {
  setObjectName("Form29");
  setWindowTitle("Ausschnitt");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  int n = 1;
  for (QPushButton** b : {&SpeedButton1, &SpeedButton2, &SpeedButton3}) {
    static const char* const captions[] = {"Volles Bild", "Bild ausschneiden", "... und zurück skalieren"};
    *b = new QPushButton(captions[n - 1], this);
    (*b)->setObjectName(QString("SpeedButton%1").arg(n));
    (*b)->setAutoDefault(false);
    layout->addWidget(*b);
    connect(*b, &QPushButton::clicked, this, [this, n] {
      Choice = n;
      accept();
    });
    ++n;
  }
}

void TForm29::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TForm29::FormShow() {
  Choice = 0;
  if (LanguageFileLoaded && DialogFormNeedsTranslation(FormNumber)) {
    TranslateForm(objectName().toStdString());
    SetDialogFormTranslated(FormNumber);
  }
}

int AskRotateFraming() {
  RegisterDialogForm(FormNumber, [] { return new TForm29; });
  EnsureDialogForm(FormNumber);
  auto* form = qobject_cast<TForm29*>(DialogForm(FormNumber));
  if (!form) return 0;
  form->Choice = 0;
  form->exec();
  return form->Choice;
}

void RotateImageCommand(QAction* sender) {
  if (FindActiveSlot() < 1) return;
  if (sender) AddRecentFunction(sender);
  const QString caption = OperationCaption(sender, "Bild &rotieren");
  QString text = LastRotateAngle == 0
                     ? QString("0.0")
                     : QString::fromStdString(FloatToStrF(LastRotateAngle, TFloatFormat::General, 6, 0));
  if (!LangInputQuery(caption, QString::fromStdString(LangTextOr(LangKey(29, 1), "Um wieviel Grad?")), text)) return;
  const std::optional<TTypedNumber> angle = ReadNumber(text.trimmed().toStdString(), TNumberKind::Angle);
  if (!angle) return;
  LastRotateAngle = angle->Value;
  if (angle->Value == 0) return;
  const int framing = AskRotateFraming();
  if (framing == 0) return;
  RotateIntoNewWindow(caption, angle->Value, framing, angle->Text);
}

void RotateByGuideLineCommand(QAction* sender) {
  const int source = FindActiveSlot();
  if (source < 1 || !MarkGuideLines) return;
  if (sender) AddRecentFunction(sender);
  const std::optional<std::vector<TRectI>> lines = MarkGuideLines(1);
  ImageChanged(source);  // the drawn line goes
  if (!lines || lines->empty()) return;
  const int framing = AskRotateFraming();
  if (framing == 0) return;
  const TRectI& l = lines->front();
  const double angle = GuideLineAngle(l.Left, l.Top, l.Right, l.Bottom);
  if (angle == 0) return;
  ActivateImageWindow(source);
  RotateIntoNewWindow(OperationCaption(sender, "Bild rotieren mit &Hilfslinie"), angle, framing, FloatToStr(angle));
}

}  // namespace astrelon
