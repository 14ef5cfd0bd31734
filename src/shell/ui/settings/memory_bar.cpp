#include "shell/ui/settings/memory_bar.h"

#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "common/pascal_format.h"
#include "shell/ui/main/main_window_link.h"

namespace astrelon {

namespace {

QPointer<TMemoryBar>& Bar() {
  static QPointer<TMemoryBar> bar;
  return bar;
}

QString Size(uint64_t bytes) {
  constexpr double mb = 1024.0 * 1024.0;
  const double m = double(bytes) / mb;
  if (m >= 1024.0) return QString::fromStdString(FormatFixed(m / 1024.0, 1)) + " GB";
  return QString::fromStdString(IntToStr(int64_t(std::nearbyint(m)))) + " MB";
}

}  // namespace

// The bar itself: the system's memory from left to right, the program's
// resident part red, the rest of what it has mapped (up to the free memory's
// start) yellow, the free memory green.
class TMemoryBarView : public QWidget {
public:
  explicit TMemoryBarView(QWidget* parent) : QWidget(parent) {
    setObjectName("MemoryMap");
    setMinimumSize(200, 16);
    setToolTip(QString::fromUtf8("Rot: vom Programm belegt, gelb: vom Programm abgebildet, grün: frei"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }
  TProcessMemory Figures;

protected:
  void paintEvent(QPaintEvent*) override {
    if (height() < 9) return;
    QPainter p(this);
    const QRect r = rect().adjusted(0, 1, -1, -2);
    p.fillRect(r, palette().color(QPalette::Base));
    const TProcessMemory& m = Figures;
    if (m.Total > 0) {
      auto x = [&](uint64_t bytes) { return r.left() + int(double(std::min(bytes, m.Total)) / double(m.Total) * r.width()); };
      const uint64_t freeStart = m.Total - std::min(m.Available, m.Total);
      const int resident = x(m.Resident);
      const int mapped = std::max(resident, std::min(x(m.Mapped), x(freeStart)));
      p.fillRect(QRect(QPoint(r.left(), r.top()), QPoint(resident, r.bottom())), QColor(220, 40, 40));
      p.fillRect(QRect(QPoint(resident, r.top()), QPoint(mapped, r.bottom())), QColor(230, 210, 40));
      p.fillRect(QRect(QPoint(x(freeStart), r.top()), r.bottomRight()), QColor(60, 190, 60));
    }
    p.setPen(Qt::black);
    p.drawRect(r);
  }
};

TMemoryBar::TMemoryBar(QWidget* parent) : QToolBar(parent) {
  setObjectName("ToolBar2");
  setMovable(false);
  setFloatable(false);
  Label = new QLabel(this);
  Label->setObjectName("MemoryText");
  addWidget(Label);
  View = new TMemoryBarView(this);
  addWidget(View);
  SpeedButtonExitP3 = new QToolButton(this);
  SpeedButtonExitP3->setObjectName("SpeedButtonExitP3");
  SpeedButtonExitP3->setText("x");
  SpeedButtonExitP3->setToolTip("Speicheranzeige ausblenden");
  SpeedButtonExitP3->setAutoRaise(true);
  addWidget(SpeedButtonExitP3);
  connect(SpeedButtonExitP3, &QToolButton::clicked, this, [this] {
    if (ExitClicked)
      ExitClicked();
    else
      ShowMemoryBar(false);
  });
  Timer3 = new QTimer(this);
  Timer3->setObjectName("Timer3");
  Timer3->setInterval(1000);
  connect(Timer3, &QTimer::timeout, this, [this] { Timer3Timer(); });
}

void TMemoryBar::Timer3Timer() {
  View->Figures = ReadProcessMemory();
  Label->setText(MemoryBarText(View->Figures) + "  ");
  View->update();
}

const TProcessMemory& TMemoryBar::Figures() const { return View->Figures; }

QString MemoryBarText(const TProcessMemory& m) {
  return "Programm: " + Size(m.Resident) + " im Speicher, " + Size(m.Mapped) + " abgebildet    Frei: " +
         Size(m.Available) + " von " + Size(m.Total);
}

void ShowMemoryBar(bool show) {
  TMemoryBar* bar = Bar();
  if (!bar) {
    if (!show) return;
    auto* main = qobject_cast<QMainWindow*>(MainLink().Window.data());
    if (!main) return;
    bar = new TMemoryBar(main);
    main->addToolBar(Qt::BottomToolBarArea, bar);
    Bar() = bar;
  }
  bar->setVisible(show);
  if (show) {
    bar->Timer3Timer();
    bar->Timer3->start();
  } else {
    bar->Timer3->stop();
  }
}

TMemoryBar* MemoryBar() { return Bar(); }

}  // namespace astrelon
