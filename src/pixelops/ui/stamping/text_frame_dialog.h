#pragma once
// The dialog "Text+Rahmen einfügen": border, frame line and caption (title and
// text lines, fonts, colours, alignment) for the text slot's image, the header
// information button and the settings file. "&Generier Bild" renders the result
// into a new window; the dialog stays open (modeless, on top).
#include <QWidget>
#include <array>

#include "pixelops/stamping/header_info_text.h"
#include "pixelops/ui/stamping/text_frame_render.h"

class QCheckBox;
class QFrame;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QToolButton;

namespace astrelon {

// The slot the dialog works on (-1 while it is closed).
extern int TextSlot;

class TUpDown;

class TForm17 : public QWidget {
  Q_OBJECT
public:
  TForm17();

  // Takes the slot (its window keeps only the maximise icon) and shows the
  // dialog: the header boxes follow the image's header, then the settings file is read.
  void Start(int slot);

  QPlainTextEdit* Memo1 = nullptr;
  QLineEdit* Edit2 = nullptr;          // "Titel:"
  QCheckBox* CheckBox1 = nullptr;      // "Rahmen hinzufügen"
  QLineEdit* Edit1 = nullptr;          // frame width
  TUpDown* UpDown1 = nullptr;         // 0..200
  QLineEdit* Edit3 = nullptr;          // border width
  TUpDown* UpDown2 = nullptr;         // 0..300
  QSlider* TrackBar1 = nullptr;        // title factor 6..16
  QCheckBox* CheckBox9 = nullptr;      // "Abgerundet (im Bild)"
  QCheckBox* CheckBox15 = nullptr;     // "Übergang zum Rahmen"
  QToolButton* SpeedButton2 = nullptr; // left
  QToolButton* SpeedButton5 = nullptr; // centred
  QToolButton* SpeedButton7 = nullptr; // right
  QToolButton* SpeedButton3 = nullptr; // frame colour
  QToolButton* SpeedButton1 = nullptr; // background colour
  QToolButton* SpeedButton4 = nullptr; // font
  QToolButton* SpeedButton6 = nullptr; // save the settings
  QFrame* Shape1 = nullptr;            // frame colour preview
  std::array<QCheckBox*, HeaderInfoKeyCount> HeaderBoxes{};  // CheckBox2..8, 10..14
  QPushButton* Button3 = nullptr;      // "&Header-Infos einfügen"
  QPushButton* Button2 = nullptr;      // "&Generier Bild"
  QPushButton* Button1 = nullptr;      // "&Fenster zu"

  // The controls as settings, and the reverse.
  TTextFrameSettings CurrentSettings() const;
  void ApplySettings(const TTextFrameSettings& s);
  TTextFrameRequest CurrentRequest() const;

  void HeaderInfoClick();
  // Renders the result into a new window; the result slot or -1.
  int GenerateClick();
  bool SaveSettingsClick();
  void SetFrameColour(int32_t colour);
  void SetBackgroundColour(int32_t colour);
  void SetTextFont(const QFont& font, int32_t colour);

protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void Changed();
  void UpdateFonts();
  void ChooseFrameColour();
  void ChooseBackgroundColour();
  void ChooseFont();

  int32_t frameColour_ = 16777215;
  int32_t background_ = 0;
  int32_t fontColour_ = 16777215;
  QFont textFont_;  // family and style; size in points below
  int32_t fontSize_ = 10;
  bool loading_ = false;
};

// The dialog (nullptr before its first use).
TForm17* TextFrameDialog();
// Registers form 17 with the dialog-form registry.
void RegisterTextFrameDialog();

}  // namespace astrelon
