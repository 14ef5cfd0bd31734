#pragma once
// The side panel Panel1 at the main window's right edge (74 pixels wide): the
// tool buttons of the mouse tools, the text and stamp size fields, the three star
// pictures with their frames and the statistics and star labels. The tool modes
// and star measurement fill it through the main-window link; the panel itself
// handles the text font, the text colour and the stamp size.
#include <QFrame>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QSpinBox;
class QToolButton;

namespace astrelon {

class TSidePanel : public QFrame {
  Q_OBJECT
public:
  explicit TSidePanel(QWidget* parent = nullptr);
  static constexpr int PanelWidth = 74;

  QToolButton* SpeedButton1;   // info mode
  QToolButton* SpeedButton2;   // stamp
  QToolButton* SpeedButton3;   // undo
  QToolButton* SpeedButton4;   // copy stamp
  QToolButton* SpeedButton5;   // copy stamp: same position in source and destination
  QToolButton* SpeedButton5x;  // text colour
  QToolButton* SpeedButton5y;  // arrow
  QToolButton* SpeedButton6;   // text tool ("T "); right button: font
  QSpinBox* SpinEdit1;         // "Font Größe" 6..100
  QSpinBox* SpinEdit2;         // "Stempel Größe" 1..99
  QComboBox* ComboBox1;        // stamp function
  QFrame* Shape1;              // frame of Image2 (a click opens the PSF window)
  QFrame* Shape2;              // frame of Image3
  QLabel* Image1;              // middle picture (60 x 60)
  QLabel* Image2;              // upper picture
  QLabel* Image3;              // second picture
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;  // DC
  QLabel* Label5;  // rms
  QLabel* Label6;  // fwhmX
  QLabel* Label7;  // max
  QLabel* Label8;  // min
  QLabel* Label17;
  QLabel* Label18;
  QLabel* Label19;
  QLabel* Label20;
  QLabel* Label21;
  QToolButton* SpeedButtonLI1;  // channel of the locked star
  QToolButton* SpeedButtonLI2;  // "x2"
  // The pop-up of the locked star: "Infos zur Tabelle hinzufügen".
  QMenu* PopupMenuInfos;
  QAction* InfoszuTabellehinzufgen1;

  // "Font Größe": the packed text option takes the size (unless the font dialog set it).
  void SpinEdit1Change(int value);
  // Right button on the text tool: the font dialog.
  void ChooseTextFont();
  // "Stempel Größe": clamps, sets the stamp radius, stores the size in the packed parameters.
  void SpinEdit2Change(int value);
  // The text colour swatch of SpeedButton5x.
  void PaintColourButton();
  // Colour dialog for the text colour.
  void SpeedButton5xClick();

  // Whether SpinEdit2's change is applied (off while a key is held in the field).
  bool StampChangeActive = true;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  // The right button over the panel, its pictures and labels asks for the star pop-up.
  void mousePressEvent(QMouseEvent* e) override;

private:
  bool fontDialogSetsSize_ = false;
};

}  // namespace astrelon
