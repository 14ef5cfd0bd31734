#pragma once
// The shared filter dialog: one small stay-on-top tool window that serves every
// function of the filter table. It builds up to three sliders, two check boxes
// and one radio group from the table entry of FunktionNr, shows the filtered
// selection of the result window (at once for the fast functions, on
// "&Berechnen" for the slow ones), keeps the result with its history texts on
// "&Ok" and closes the result window on "&Abbruch".
#include <QWidget>
#include <array>

#include "filters/dialog/filter_dialog_session.h"

class QCheckBox;
class QFrame;
class QPushButton;
class QTimer;

namespace astrelon {

class TFilterSlider;
class TRadioGroup;

class TForm1 : public QWidget, public TFilterDialogLink {
  Q_OBJECT
public:
  TForm1();
  ~TForm1() override;

  std::array<TFilterSlider*, 3> Sliders{};  // Panel1, Panel2, Panel7
  QFrame* Panel6 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  TRadioGroup* RadioGroup1 = nullptr;  // "Funktion" (function 9)
  QFrame* Panel8 = nullptr;
  TRadioGroup* RadioGroup3 = nullptr;  // "Absolut" / "Relativ" (function 15)
  QFrame* Panel4 = nullptr;
  TRadioGroup* RadioGroup2 = nullptr;  // "Farbe der Höfe" (function 18)
  QFrame* Panel3 = nullptr;
  QPushButton* Button1 = nullptr;  // "&Ok"
  QPushButton* Button2 = nullptr;  // "&Abbruch"
  QPushButton* Button3 = nullptr;  // "&Berechnen"
  QTimer* Timer1 = nullptr;        // 200 ms preview delay

  // Prepares the dialog for FunktionNr and the pair in SlotPair (the result
  // window exists); the caller shows it.
  void FormShow();
  void Timer1Timer();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void SliderChanged(int index);
  // An image window's selection was drawn, moved or hidden.
  void SelectionChanged();
  // The source and result while the dialog is shown ({-1, -1} otherwise).
  TSlotPair Pair() const;
  // The colour model or channel selection of the source or result changed: the
  // blur cache is stale; a function computed at once is previewed anew, one
  // computed on "&Berechnen" gets the button enabled.
  void PartnerSwitched();

  // The "Berechnen" and "Unterbrechen" texts (translated when a translation is loaded).
  static QString BerechnenText();
  static QString UnterbrechenText();

  // TFilterDialogLink
  bool CheckBoxChecked(int k) const override;
  int32_t RadioIndex(int group) const override;
  std::string RadioCaption(int group) const override;
  std::string RadioItem(int group, int index) const override;
  bool Button3Visible() const override;
  bool Button3Enabled() const override;
  void SetButton3Enabled(bool on) override;
  void SetButton3Computing(bool computing) override;
  void SetOkAbbruchEnabled(bool on) override;
  std::string Caption() const override;
  void Redraw(int slot) override;

protected:
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

private:
  void FormHide();
  void TranslateOnce();
  // Runs a preview; "&Ok" or "&Abbruch" pressed while it ran take effect after it.
  void RunPreview();
  void RunPendingButtons();
  TRadioGroup* Group(int group) const;

  bool shown_ = false;      // FormShow ran and FormHide has not yet
  bool translated_ = false;
  bool placed_ = false;
  int computing_ = 0;       // depth of running dispatcher computations
  bool okPending_ = false;
  bool abbruchPending_ = false;
};

// The dialog (created on first use).
TForm1* FilterDialog();

}  // namespace astrelon
