#pragma once
// The main window's tool bar ToolBar1: the picture buttons PNGButton1..13, the
// drop-down buttons RxSpeedButton1..3 (zoom, palette or colour space, colour
// layers) with their lists ListBoxEx1..5, which open when the pointer rests on
// a button for one tick of Timer5 (100 ms) and close 800 ms (Timer4) after it
// has left them.
#include <QListWidget>
#include <QToolBar>
#include <array>
#include <cstdint>

class QTimer;
class QToolButton;

namespace astrelon {

class TPNGButton;

// A drop-down list of the tool bar; its Tag names its button (1 -> 1, 2 and 3 -> 2,
// 4 and 5 -> 3). Items are 20 pixels high; moving over the list selects the item
// under the pointer, a left press chooses it.
class TListBoxEx : public QListWidget {
  Q_OBJECT
public:
  TListBoxEx(int tag, QWidget* parent);
  int Tag;
  bool Prepared = false;  // the items were prepared on the first showing
  static constexpr int ItemHeight = 20;
  int ItemAt(int y) const;

signals:
  void entered();
  void left();
  void chosen(int index);

protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
};

// Whether the pointer rested long enough over a drop-down button to open its
// list: less than one pixel of vertical movement per 16 ms since entering, with
// the 16-bit tick counts taken at entering and now.
bool HoverSettled(int storedY, int nowY, uint16_t storedTick, uint16_t nowTick);
// The display type (TDisplayType of the display record) of palette list item 0..7.
int PaletteItemDisplayType(int item);

class TMainToolBar : public QToolBar {
  Q_OBJECT
public:
  // `listParent` holds the drop-down lists (the main window, so that they lie over the images).
  TMainToolBar(QWidget* listParent, QWidget* parent = nullptr);

  std::array<TPNGButton*, 14> PNGButton{};       // 1..13
  TPNGButton* PNGKKHSPtmp = nullptr;              // hidden: the two shift-mode pictures
  std::array<QToolButton*, 4> RxSpeedButton{};   // 1..3
  std::array<TListBoxEx*, 6> ListBoxEx{};        // 1..5
  QTimer* Timer4 = nullptr;                       // closes the lists
  QTimer* Timer5 = nullptr;                       // hover test

  // Hover state of Timer5: the pointer's screen y, the button's Tag and the low
  // 16 bits of the tick count when the pointer entered.
  struct THover {
    int Y = 0;
    int Tag = 0;
    uint16_t Tick = 0;
  } Hover;

  void ShowDropDownList(TListBoxEx* list, QPoint topLeft);
  // Hides every list except number `except` (0: all) and releases its button.
  void CloseDropDownLists(int except);
  // A choice of list `tag` (1..5), item i.
  void ChooseListItem(int tag, int item);
  // PNGButton9's hint and picture from its Tag (0 centroid, 1 cross-correlation).
  void SetShiftModeButton();
  // The shown pictures of PNGButton1..13 from their sources, tinted or plain.
  void RecolourToolbarButtons(bool tint);
  // The colour-space and layer buttons for a slot (side-panel refresh).
  void UpdateInfoPanelControls(int slot, int partnerToo);
  void SetZoomCaption(const QString& caption);
  // Sets the hint texts of the lists' items (translation) before their first showing.
  void SetListItems(int tag, const QStringList& items);

  void Timer5Timer();
  void Timer4Timer();
  void RxSpeedButtonMouseEnter(QToolButton* button);
  void RxSpeedButtonMouseLeave(QToolButton* button);
  void RxSpeedButtonClick(QToolButton* button);

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  TPNGButton* AddPictureButton(int n, const QString& hint);
  QToolButton* AddDropDownButton(int n, int tag, const QString& hint);
  QToolButton* ButtonOfList(const TListBoxEx* list) const;
  void ColourModelSwitched(int slot);
  void ShowChannelButton(int slot);
  QWidget* listParent_;
};

// Tick count (milliseconds) used by the hover test; replaceable by tests.
extern uint32_t (*ToolBarTickCount)();

}  // namespace astrelon
