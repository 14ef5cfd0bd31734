#include "batch/ui/batch_status_window.h"

#include <QKeyEvent>
#include <QPointer>
#include <QVBoxLayout>

#include "core/batch_state.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

QPointer<TForm10>& Instance() {
  static QPointer<TForm10> form;
  return form;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TForm10::TForm10() : QWidget(nullptr, Qt::Window) {
  setObjectName("Form10");
  setWindowTitle("Batch Status");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  auto* rows = new QVBoxLayout(panel);
  auto label = [&](const char* name) {
    auto* l = new QLabel(panel);
    l->setObjectName(name);
    rows->addWidget(l);
    return l;
  };
  Label1 = label("Label1");
  Label2 = label("Label2");
  Label3 = label("Label3");
  Label4 = label("Label4");
  Button1 = new QPushButton("&Abbruch", this);
  Button1->setObjectName("Button1");
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addWidget(Button1);
  BatchStatusLabels = this;
}

TForm10::~TForm10() {
  if (BatchStatusLabels == this) BatchStatusLabels = nullptr;
}

void TForm10::SetFunctionLabel(const std::string& text) { Label2->setText(Q(text)); }
void TForm10::SetProgressLabel(const std::string& text) { Label4->setText(Q(text)); }
void TForm10::SetFileLabel(const std::string& text) { ShowStatusFileName(text); }

void TForm10::Button1Click() {
  if (Button1->text() == "&Ok") {
    hide();
    return;
  }
  BatchAbort = 1;
  AbortRequested = 1;
}

void TForm10::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    AbortRequested = 1;
    BatchAbort = 1;
    return;
  }
  QWidget::keyPressEvent(event);
}

TForm10& BatchStatusWindow() {
  QPointer<TForm10>& form = Instance();
  if (!form) form = new TForm10();  // frees itself when closed
  return *form;
}

bool BatchStatusWindowExists() { return !Instance().isNull(); }

QString ShortenedFileName(const QString& name, const QFontMetrics& metrics) {
  constexpr int maxWidth = 185;
  QString rest = name;
  bool cut = false;
  while (!rest.isEmpty() && metrics.horizontalAdvance(rest) > maxWidth) {
    rest.remove(0, 1);
    cut = true;
  }
  return cut ? "..." + rest : rest;
}

void ShowStatusFileName(const std::string& name) {
  TForm10& form = BatchStatusWindow();
  form.Label1->setText(ShortenedFileName(Q(name), form.Label1->fontMetrics()));
}

}  // namespace astrelon
