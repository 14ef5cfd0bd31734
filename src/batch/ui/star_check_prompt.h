#pragma once
// The star-check prompt "Sternkontrolle": shown by a running batch when the
// user must mark or confirm stars, areas, a planet or a comet; its buttons
// answer through flags of the run state, which the engine polls. A top-level
// window without owner, freed when closed; the wheel zooms the active image
// window while the prompt has the focus.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace astrelon {

class TForm9 : public QWidget {
public:
  TForm9();

  QLabel* Label1;        // the prompt text
  QPushButton* Button1;  // "&Ok, weiter"
  QPushButton* Button2;  // "&Abbrechen"
  QPushButton* Button3;  // "&Bild auslassen"
  QCheckBox* CheckBox1;  // "Keine Kontrolle mehr"

  // The controls as a run starts: every control shown and the box unticked; the
  // comet computation has neither "&Bild auslassen" nor "Keine Kontrolle mehr".
  void PrepareForRun(bool cometComputation);

  void Button1Click();  // "&Ok, weiter"
  void Button2Click();  // "&Abbrechen"
  void Button3Click();  // "&Bild auslassen"
  void CheckBox1Click();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  bool firstShow_ = true;
};

// The prompt, created on first use; it frees itself when closed.
TForm9& StarCheckPrompt();
bool StarCheckPromptExists();
// Whether the prompt exists and is shown.
bool StarCheckPromptVisible();

}  // namespace astrelon
