#pragma once
// The batch status window "Batch Status": what the batch or the master dark and
// flat tool is doing, and the button that aborts the run ("&Abbruch") or closes
// the window after it ("&Ok"). Engine workers write its labels through
// TBatchStatusLabels while it exists.
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

  void SetFunctionLabel(const std::string& text) override;
  void SetProgressLabel(const std::string& text) override;
  void SetFileLabel(const std::string& text) override;

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  void Button1Click();
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
