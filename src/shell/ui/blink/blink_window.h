#pragma once
// "Bilder blinken": up to eight open images shown one after another in the same
// place on a timer, to spot what differs between them. Each entry holds a copy
// of its image window's picture as displayed, and can be shifted by pixels and
// brightened or darkened on its own.
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

namespace astrelon {

class TRadioGroup;
class TUpDown;

struct TBlinkEntry {
  int32_t Slot = -1;       // -1 or 0: empty
  int32_t ListIndex = -1;  // item of ComboBox1, -1 when none
  int32_t Offset = 0;      // brightness offset
  QPoint Position;         // place of the picture within Panel2
  QImage Bitmap;           // the window's picture as displayed, 32-bit
};
constexpr int BlinkEntryCount = 8;

// The picture of an entry (Image1) and the arrow pad (Image2) report their mouse
// events to the window.
class TBlinkPicture : public QWidget {
  Q_OBJECT
public:
  explicit TBlinkPicture(QWidget* parent);
  void SetPicture(const QImage& image);
  const QImage& Picture() const { return picture_; }

signals:
  void Pressed(QMouseEvent* e);
  void Released(QMouseEvent* e);

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

private:
  QImage picture_;
};

// Direction of a press on the arrow pad at (x, y); (0, 0) for a pixel that is
// not dark (grey value 100 or more) or outside the pad.
QPoint BlinkPadDirection(const QImage& pad, QPoint p);
// The pad's picture: a dark disc of 65 x 65 pixels with four arrows, split
// along its diagonals.
QImage BlinkPadPicture();

class TForm25 : public QWidget {
  Q_OBJECT
public:
  explicit TForm25(QWidget* parent = nullptr);
  ~TForm25() override;

  QWidget* Panel1 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  TRadioGroup* RadioGroup1 = nullptr;  // "Bild Nummer", entries 1..8
  TUpDown* UpDown3 = nullptr;          // blink time, 1..40 x 50 ms
  QLabel* Label4 = nullptr;
  QCheckBox* CheckBox2 = nullptr;      // "Blinken"
  QLabel* Label5 = nullptr;            // "Helligkeit:"
  QLabel* Label6 = nullptr;            // the entry's offset
  TUpDown* UpDown4 = nullptr;          // brightness, -5000..5000
  QPushButton* Button2 = nullptr;      // "Exit"
  QWidget* Panel2 = nullptr;
  TBlinkPicture* Image1 = nullptr;
  TBlinkPicture* Image2 = nullptr;     // arrow pad
  QStatusBar* StatusBar1 = nullptr;
  QTimer* Timer1 = nullptr;            // blink
  QTimer* Timer2 = nullptr;            // arrow-pad repeat

  std::array<TBlinkEntry, BlinkEntryCount> Entries;
  std::vector<int32_t> ListSlots;  // slot of each ComboBox1 item, -1 for the blank one

  // The current entry (0..7).
  int Current() const;
  // Entry 1 shows `first`, entry 2 `second` (-1: none), the others nothing.
  void SetStartEntries(int first, int second);

  // Entries whose slot has no window (or is `closingSlot`) become empty; the
  // list is refilled in slot order with a blank item at the end.
  void RebuildBlinkList(int closingSlot = 0);
  // Entry k takes a fresh copy of the slot window's picture (offset 0).
  void UpdateBlinkBitmap(int k, int slot);
  // Fresh pictures for every entry that shows the slot.
  void RedrawBlinkEntries(int slot);

  void ComboBox1Select(int index);
  void RadioGroup1Click();
  void Timer1Timer();
  void CheckBox1Click();
  void UpDown1Click();
  void UpDown2Click(bool up);
  void Button1Click();
  // One pixel in the pad's direction for the current entry.
  void Nudge(QPoint direction);
  void Timer2Timer();

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

private:
  void FormShow();
  void FirstShow();
  void FillEntries();
  void ShowEntry(int k);
  void PlacePicture();
  void EmptyEntry(int k);
  void PadFollows(QPoint global, QObject* over);
  void PicturePressed(QMouseEvent* e);
  void PictureReleased(QMouseEvent* e);

  bool firstShow_ = true;
  QPoint pressGlobal_;
  QPoint nudge_;  // direction of the arrow pad while pressed
};

// The window while it exists.
TForm25* BlinkWindow();

// Registers "blinken1" and follows the image windows and the histogram window.
void RegisterBlinkCommands();
// The command: with an active image and at least two image windows, opens the
// window with the active image in entry 1 and the other one (when exactly two
// are open) in entry 2.
void BlinkImages(class QAction* sender);

// Adds `delta` to every colour byte of the picture, saturating at 0 and 255.
void BrightenBlinkBitmap(QImage& image, int delta);

}  // namespace astrelon
