#pragma once
// The dialog "DDP": the brightness range of the active image compressed live.
// "Gammawert:" recomputes from the cached blur as it moves; a "Radius:" move
// waits for "&Berechnen", which blurs anew ("&Unterbrechen" stops it). The
// masks choose which blurred plane each colour plane is divided by. "&Ok"
// keeps the result with a history card, "&Abbruch" closes it.
#include <QWidget>

#include "filters/ddp/ddp_session.h"

class QAction;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace astrelon {

class TRadioGroup;

constexpr int DdpForm = 16;

class TForm16 : public QWidget {
  Q_OBJECT
public:
  TForm16();
  ~TForm16() override;

  QSlider* TrackBar1 = nullptr;      // "Gammawert:"
  QSlider* TrackBar3 = nullptr;      // "Radius:" (position x 0.1)
  QLabel* Label8 = nullptr;          // the radius as text
  TRadioGroup* RadioGroup1 = nullptr;  // "Rotmaske"
  TRadioGroup* RadioGroup2 = nullptr;  // "Grünmaske"
  TRadioGroup* RadioGroup3 = nullptr;  // "Blaumaske"
  QPushButton* Button1 = nullptr;    // "&Berechnen" / "&Unterbrechen"
  QPushButton* Button2 = nullptr;    // "&Ok"
  QPushButton* Button3 = nullptr;    // "&Abbruch"
  QTimer* Timer1 = nullptr;          // recomputes after a "Gammawert:" move

  // Recomputes the result from the controls.
  void ComputeDDP();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Timer1Timer();

  const TDdpSession& Session() const { return session_; }
  // Takes the blur slot and the levels for source and destination; false when
  // that fails (the caller closes the destination).
  bool Prepare(int source, int destination);

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  void FormShow();
  void FormHide();
  void RadiusMoved(int position);
  void RadioClicked();

  TDdpSession session_;
  int source_ = -1, destination_ = -1;
  int cachedGamma_ = -1;
  bool shown_ = false, discard_ = true, computing_ = false, closePending_ = false;
};

// The dialog while it exists (null otherwise).
TForm16* DdpDialog();
// "&DDP": a result slot from the active image, the dialog on it.
void DDP1Click(QAction* sender);
// Registers the dialog as form 16 and its menu item.
void RegisterDdpCommands();

}  // namespace astrelon
