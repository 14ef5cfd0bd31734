#pragma once
// The batch status window "Batch Status": what the batch or the master dark and
// flat tool is doing, the pause toggle ("&Pause"/"&Weiter"), the button that
// aborts the run ("&Abbruch") or closes the window after it ("&Ok"), and the
// request to check the marks of the next image ("&Kontrolle an"). A top-level
// window without owner, freed when closed. Engine workers write its labels
// through TBatchStatusLabels while it exists.
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "core/batch_series.h"

namespace astrelon {

class TForm10 : public QWidget, public TBatchStatusLabels {
public:
  TForm10();
  ~TForm10() override;

  QLabel* Label1;  // file name
  QLabel* Label2;  // current operation (the function label)
  QLabel* Label3;  // count of finished images
  QLabel* Label4;  // progress of a long function
  QPushButton* Button1;  // "&Abbruch" while a run goes, "&Ok" after it
  QPushButton* Button2;  // "&Kontrolle an"
  QPushButton* Button3;  // "&Pause" / "&Weiter"

  void SetFunctionLabel(const std::string& text) override;
  void SetProgressLabel(const std::string& text) override;
  void SetFileLabel(const std::string& text) override;
  void SetCountLabel(const std::string& text) override;

  // Shows the window for a run: labels emptied, "&Abbruch", "&Kontrolle an"
  // hidden; a batch run gets "&Pause", another tool no pause button.
  void StartRun(bool batch);
  // The run ended: "&Ok", the pause button disabled.
  void EndRun();
  // Whether "&Ok" stands (no run goes), and whether the batch is paused.
  bool RunEnded() const { return ended_; }
  bool Paused() const { return paused_; }

  void Button1Click();      // "&Abbruch" or "&Ok"
  void Button1MouseDown();  // the abort at the press already
  void Button2Click();      // "&Kontrolle an"
  void Button3Click();      // "&Pause" / "&Weiter"

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  // Ends the run at the next tick, even while paused.
  void AbortRun();
  void ShowPauseCaption();

  bool ended_ = false;
  bool batch_ = false;
  bool paused_ = false;
  // The abort was done at the press; the click that follows does nothing more.
  bool AbortPressed = false;
  bool translated_ = false;
};

// The status window, created on first use; it frees itself when closed.
TForm10& BatchStatusWindow();
// Whether the status window exists.
bool BatchStatusWindowExists();
// Writes a file name into Label1, cut from the left with a leading "..." while
// it is wider than 185 pixels in the label's font.
void ShowStatusFileName(const std::string& name);
// The name as ShowStatusFileName shows it, for a label's font metrics.
QString ShortenedFileName(const QString& name, const QFontMetrics& metrics);

}  // namespace astrelon
