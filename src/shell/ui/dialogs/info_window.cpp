#include "shell/ui/dialogs/info_window.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

#include "core/language.h"
#include "shell/main/info_text_layout.h"
#include "shell/statistics/region_statistics.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"

namespace astrelon {

QPoint InfoWindowPos;

namespace {
constexpr int MemoWidth = 185;
constexpr int MemoHeight = 201;
}  // namespace

TForm15::TForm15(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("Form15");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Info");
  QFont font("Courier");
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(11);
  setFont(font);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setGeometry(0, 0, MemoWidth, MemoHeight);
  Button1 = new QPushButton("Ok", this);
  Button1->setObjectName("Button1");
  Button1->setFont(QApplication::font());
  Button1->setFixedSize(75, 25);
  Button1->setDefault(true);
  setFixedSize(188, 234);
  connect(Button1, &QPushButton::clicked, this, &TForm15::Button1Click);
  Memo1->installEventFilter(this);
  Button1->installEventFilter(this);
}

void TForm15::FitTextWindow(bool fresh) {
  int smallest = 0;
  if (fresh) {
    Memo1->clear();
  } else {
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    smallest = Memo1->width();
  }
  std::vector<std::string> lines;
  if (!fresh)
    for (const QString& old : Memo1->toPlainText().split('\n')) lines.push_back(old.toStdString());
  const size_t s = Memo1->document()->isEmpty() ? 0 : lines.size();
  lines.resize(s);
  for (std::string& line : InfoTextLines(InfoText)) lines.push_back(std::move(line));
  const size_t longest = AlignFirstTabs(lines, s);

  QString all;
  for (size_t i = 0; i < lines.size(); ++i) all += (i ? "\n" : "") + QString::fromStdString(lines[i]);
  Memo1->setPlainText(all);
  const QFontMetrics metrics(Memo1->font());
  const int hx = metrics.height();
  const QString widest = longest < lines.size() ? QString::fromStdString(lines[longest]) : QString();
  const int width = std::max(smallest, metrics.horizontalAdvance(widest + "X") + 32);
  const int count = int(lines.size());
  const int h = (count + 1) * hx + 6;
  int height = h;
  if (!fresh) {
    height = std::max(Memo1->height(), (int(count - int(s)) * 2 + 1) * hx + 6);
    if (h <= height) Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  Memo1->setGeometry(0, 0, width, height);
  Button1->move((width - Button1->width()) / 2, height + 4);
  setFixedSize(width, Button1->y() + Button1->height());
}

void TForm15::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (shownOnce_) return;
  shownOnce_ = true;
  FitTextWindow(true);
  if (LanguageFileLoaded) {
    setWindowTitle("Astrelon");
    const std::string ok = LangText(LangKey(6, 1));
    if (!ok.empty()) Button1->setText(QString::fromStdString(ok));
  }
  // Cascade: each window 20 pixels right of and 4 below the one before, while
  // it fits the screen's width.
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const int workWidth = screen ? screen->availableGeometry().width() : 0;
  if (InfoWindowPos.x() != 0 && workWidth >= InfoWindowPos.x() + frameGeometry().width()) {
    InfoWindowPos += QPoint(20, 4);
    move(InfoWindowPos);
  } else {
    InfoWindowPos = pos();
  }
}

void TForm15::Button1Click() {
  InfoWindowPos = pos() - QPoint(20, 4);
  close();
}

void TForm15::keyPressEvent(QKeyEvent* e) {
  if (TMDIChild::KeyCommandHook) TMDIChild::KeyCommandHook(e->key());
  QWidget::keyPressEvent(e);
}

bool TForm15::eventFilter(QObject* watched, QEvent* e) {
  // The star panel's keys work while this window has the focus.
  if ((watched == Memo1 || watched == Button1) && e->type() == QEvent::KeyPress && TMDIChild::KeyCommandHook)
    TMDIChild::KeyCommandHook(static_cast<QKeyEvent*>(e)->key());
  return QWidget::eventFilter(watched, e);
}

void ShowRegionStatistics(int slot) {
  const std::string text = RegionStatisticsText(slot);
  if (text.empty()) return;
  auto* form = new TForm15;
  form->InfoText = text;
  if (InfoWindowPos.x() == 0) {
    // The first window opens over the middle of the main window (or the screen).
    const QWidget* main = MainLink().Window.data();
    const QRect area = main ? main->frameGeometry()
                            : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                                : QRect(0, 0, 800, 600));
    form->move(area.center() - QPoint(form->width() / 2, form->height() / 2));
  }
  FadeInForm(form);
}

}  // namespace astrelon
