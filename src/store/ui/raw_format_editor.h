#pragma once
// The editor of the own RAW layouts "Eigene RAW Formate erstellen": five tabs,
// one per layout, whose fields change the layout at once; a layout reaches its
// file only when saved, and the extension lists and the open filter follow
// when the editor is closed with "Fenster schliessen".
#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabBar;
class QToolButton;

namespace astrelon {

constexpr int RawFormatEditorForm = 24;

class TForm24 : public QDialog {
  Q_OBJECT
public:
  explicit TForm24(QWidget* parent = nullptr);

  // Fills the controls from the current tab's layout (change tracking off meanwhile).
  void ShowLayout();
  // An edit field or choice changed: copies the controls into the layout.
  void Edit1Change();
  void CheckBox2Click();
  // Chooses the colour-mosaic file of the layout.
  void OpenBtnClick();
  // Loads a definition file into the current tab.
  void SpeedButton1Click();
  // Loads the definition file `fileName` into the current tab.
  void LoadDefinition(const QString& fileName);
  void SaveBtnClick();
  // Rebuilds the extension lists and the open filter, then closes.
  void Button1Click();
  // The layout the controls show (1..5).
  int CurrentLayout() const;

  // The colour-mosaic dialog's open dialog for ".qcm" files, set by that
  // dialog's commands; the chosen file, empty when cancelled.
  inline static std::function<QString(QWidget* parent)> ChooseMosaicFile;

  QTabBar* TabControl1 = nullptr;
  QLineEdit* Edit1 = nullptr;  // extension
  QLineEdit* Edit2 = nullptr;  // header length
  QLineEdit* Edit3 = nullptr;  // width
  QLineEdit* Edit4 = nullptr;  // height
  QComboBox* ComboBox1 = nullptr;  // bits: "8", "16"
  QComboBox* ComboBox2 = nullptr;  // byte order: "Intel", "Win"
  QCheckBox* CheckBox1 = nullptr;  // in use
  QCheckBox* CheckBox2 = nullptr;  // colour interpolation
  QLineEdit* Edit5 = nullptr;      // colour-mosaic file
  QToolButton* OpenBtn = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QToolButton* SaveBtn = nullptr;
  QPushButton* Button1 = nullptr;

protected:
  void showEvent(QShowEvent* e) override;

private:
  bool tracking_ = false;
};

// Registers the editor as dialog form 24.
void RegisterRawFormatEditor();
// The menu command "RAW Format erstellen": creates the editor when needed and shows it.
void RAWFormaterstellen1Click();

}  // namespace astrelon
