#include "shell/ui/main/main_status_bar.h"

#include <QPainter>

#include "platform/memory_probe.h"
#include "shell/main/main_services.h"
#include "shell/main/main_texts.h"
#include "store/image_store.h"

namespace astrelon {

TStatusPanel::TStatusPanel(int index, QWidget* parent) : QWidget(parent), Index(index) {
  setObjectName("StatusPanel" + QString::number(index));
}

void TStatusPanel::SetText(const QString& text) {
  if (Text == text) return;
  Text = text;
  updateGeometry();
  update();
}

QSize TStatusPanel::sizeHint() const {
  const QFontMetrics m(font());
  return {m.horizontalAdvance(Text) + 12, m.height() + 4};
}

void TStatusPanel::paintEvent(QPaintEvent*) {
  // StatusBarDrawPanel: panel 0 centred, the others left-aligned, one line each.
  QPainter p(this);
  p.setPen(TextColour.isValid() ? TextColour : palette().windowText().color());
  const QRect r = rect().adjusted(4, 0, -4, 0);
  p.drawText(r, (Index == 0 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine, Text);
}

TMainStatusBar::TMainStatusBar(QWidget* parent) : QStatusBar(parent) {
  setObjectName("StatusBar");
  const std::array<int, 4> widths{190, 170, 320, 120};
  for (int i = 0; i < 4; ++i) {
    auto* panel = new TStatusPanel(i, this);
    panel->setMinimumWidth(widths[size_t(i)]);
    addWidget(panel, i >= 2 ? 1 : 0);
    Panels[size_t(i)] = panel;
  }
}

void TMainStatusBar::SetPanelText(int panel, const QString& text) {
  if (panel >= 0 && panel < 4) Panels[size_t(panel)]->SetText(text);
}

void TMainStatusBar::ShowPixelText(const QString& text, bool grey) {
  TStatusPanel* p = Panels[0];
  const int width = PixelTextPanelWidth(QFontMetrics(p->font()).horizontalAdvance(text), p->logicalDpiX());
  p->setFixedWidth(width);
  p->TextColour = grey ? p->palette().color(QPalette::Disabled, QPalette::WindowText) : QColor();
  p->SetText(text);
  p->update();
}

QString TMainStatusBar::PanelText(int panel) const { return panel >= 0 && panel < 4 ? Panels[size_t(panel)]->Text : QString(); }

void TMainStatusBar::UpdateStatusBar() { ShowMemoryLine(AvailableMemory()); }

void TMainStatusBar::ShowMemoryLine(uint64_t free) {
  TStatusPanel* p = Panels[2];
  p->SetText(QString::fromStdString(StatusLineText(free, CountOpenWindows())));
  p->TextColour = double(free) / 1048576.0 < LowMemoryMBytes ? QColor(255, 0, 0) : QColor();
  p->update();
}

bool TMainStatusBar::LowMemoryShown() const { return Panels[2]->TextColour == QColor(255, 0, 0); }

}  // namespace astrelon
