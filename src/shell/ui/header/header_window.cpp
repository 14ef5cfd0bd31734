#include "shell/ui/header/header_window.h"

#include <QAction>
#include <QFontDatabase>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/side_panel/side_panel.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {
TForm3* Instance = nullptr;
}

void HeaderCardsChanged(int slot) {
  if (Instance && slot == Instance->ShownSlot) Instance->cardsChanged_ = true;
}

std::string EditorLineToCard(const QString& line) {
  std::string card;
  card.reserve(CardLength);
  // Characters, not UTF-16 units: a character beyond the basic plane is one "?".
  for (const char32_t c : line.toUcs4()) {
    if (card.size() == CardLength) break;
    card += c >= 32 && c <= 126 ? char(c) : '?';
  }
  return card;
}

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form3");
  setWindowTitle("Fits-Header");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  RichEdit1 = new QPlainTextEdit(this);
  RichEdit1->setObjectName("RichEdit1");
  RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(RichEdit1);
  connect(RichEdit1, &QPlainTextEdit::textChanged, this, [this] { Memo1Change(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  // Wide enough for 80 columns beside the scroll bar, at least 300 pixels high.
  const QFontMetrics fm(RichEdit1->font());
  resize(fm.horizontalAdvance(QString(80, 'M')) + 40, 300);
}

TForm3::~TForm3() {
  if (Instance == this) {
    Instance = nullptr;
    HeaderChangedHook = nullptr;
  }
}

void TForm3::FormCreate() {
  Instance = this;
  HeaderChangedHook = &HeaderCardsChanged;
  active_ = false;
  const QAction* item = MainMenuItem("FitsHeader1");
  if (item ? item->isChecked() : Settings.FitsHeaderChecked != 0) show();
}

TForm3* CreateHeaderWindow(QWidget* mainWindow) {
  auto* form = new TForm3(mainWindow);
  AttachToolWindow(TToolWindow::Header, form);
  form->FormCreate();
  return form;
}

TForm3* HeaderWindow() { return Instance; }

// ---- loading and writing back ----

void TForm3::Timer1Timer() {
  const int slot = FindActiveSlot();
  const uint8_t running = OperationRunning;
  if (slot != ShownSlot || (running == 0 && (operationRunning_ != 0 || cardsChanged_))) LoadHeader();
}

void TForm3::LoadHeader() {
  const int previous = ShownSlot;
  const int cursor = RichEdit1->textCursor().position();
  const int scroll = RichEdit1->verticalScrollBar()->value();
  operationRunning_ = OperationRunning;
  cardsChanged_ = false;
  ShownSlot = FindActiveSlot();
  active_ = false;
  QStringList lines;
  if (SlotInUse(ShownSlot)) {
    const THeaderCardList& h = Store.Header[size_t(ShownSlot)];
    const int end = h.FindEnd();
    // Without an END card every card up to the last one that holds text.
    int count = end < int(h.size()) ? end + 1 : 0;
    if (count == 0)
      for (int i = int(h.size()) - 1; i >= 0 && count == 0; --i)
        if (!h[size_t(i)].empty()) count = i + 1;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) lines << QString::fromLatin1(h[size_t(i)].data(), qsizetype(h[size_t(i)].size()));
  }
  RichEdit1->setUpdatesEnabled(false);
  RichEdit1->setPlainText(lines.join('\n'));
  if (ShownSlot == previous && ShownSlot > 0) {
    // The same image again: the caret and the view stay where they were.
    QTextCursor c = RichEdit1->textCursor();
    c.setPosition(std::min(cursor, RichEdit1->document()->characterCount() - 1));
    RichEdit1->setTextCursor(c);
    RichEdit1->verticalScrollBar()->setValue(scroll);
  }
  RichEdit1->setUpdatesEnabled(true);
  active_ = true;
}

void TForm3::Memo1Change() {
  if (!active_ || !SlotInUse(ShownSlot) || !Store.HasWindow[size_t(ShownSlot)]) return;
  std::vector<THeaderCard>& cards = Store.Header[size_t(ShownSlot)].Cards;
  const QTextDocument* doc = RichEdit1->document();
  const size_t lines = size_t(doc->blockCount());
  if (cards.size() < lines) cards.resize(lines);
  size_t i = 0;
  for (QTextBlock b = doc->begin(); b.isValid() && i < lines; b = b.next(), ++i) cards[i] = EditorLineToCard(b.text());
}

// ---- showing, hiding, activation ----

void TForm3::FirstShow() {
  shownBefore_ = true;
  if (const std::string t = LangText(LangKey(1, 4, 9)); !t.empty()) setWindowTitle(QString::fromStdString(t).remove('&'));
  if (const QWidget* main = MainLink().Window) {
    const QRect m = main->frameGeometry();
    int left = m.left() + m.width() - frameGeometry().width() - 6;
    if (const TSidePanel* panel = MainLink().Panel; panel && panel->isVisible()) left -= 70;
    move(left, m.top() + 74);
  }
}

void TForm3::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (e->spontaneous()) return;
  if (!shownBefore_) FirstShow();
  ShownSlot = 0;
  active_ = false;
  Timer1->start();
}

void TForm3::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (e->spontaneous()) return;
  Timer1->stop();
  if (!MainLink().ClosingOrMinimising && !Closing) {
    if (QAction* item = MainMenuItem("FitsHeader1")) item->setChecked(false);
    Settings.FitsHeaderChecked = 0;
  }
}

void TForm3::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange) FormActivate(isActiveWindow());
}

// While the editor is active Ctrl+Z undoes typing instead of starting "Zeilen gleichhell".
void TForm3::FormActivate(bool active) {
  QAction* item = MainMenuItem("Zeilengleichhell1");
  if (!item) return;
  item->setShortcut(active ? QKeySequence() : QKeySequence(Qt::CTRL | Qt::Key_Z));
}

}  // namespace astrelon
