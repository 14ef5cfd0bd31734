#pragma once
// The settings dialog "Einstellungen": six tabs of check boxes, radio groups and
// edit fields, each writing its setting at once (no Ok or Cancel). A check box
// or radio group stores into the option byte of its Tag; some act at once on
// the windows (captions, SIMD, cores, memory bar, tool-bar style).
#include <QString>
#include <QWidget>
#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace astrelon {

class TRadioGroup;
enum class TSettingsEdit;

class TForm33 : public QWidget {
  Q_OBJECT
public:
  explicit TForm33(QWidget* parent = nullptr);

  QTabWidget* PageControl1 = nullptr;
  TRadioGroup* RadioGroup1 = nullptr;  // FITS save format, Tag 10
  TRadioGroup* RadioGroup2 = nullptr;  // FITS extension, Tag 11
  TRadioGroup* RadioGroup3 = nullptr;  // interpolation, Tag 20
  std::array<QLineEdit*, 9> Edit{};    // Edit1 .. Edit8 at 1..8
  QPushButton* Button1 = nullptr;      // NN folder
  QPushButton* Button2 = nullptr;      // own palette
  // The check box of a Tag; nullptr when no box has it.
  QCheckBox* CheckBoxOfTag(int tag) const;
  QCheckBox* CheckBox(int n) const;  // "CheckBoxN"

  // Shared handler of the check boxes.
  void CheckBox3Click(QCheckBox* box);
  // Shared handler of the radio groups.
  void RadioGroup1Click(TRadioGroup* group);
  // Handler of EditN (1..8).
  void EditChange(int n);
  // Chooses the folder of the neural-network filters.
  void Button1Click();
  void Button2Click();

  // The memory bar's exit button: unchecks "Virtuelle Speicherbelegung ...".
  void HideMemoryBar();

protected:
  void showEvent(QShowEvent* e) override;

private:
  void FormShow();
  void FirstShow();
  QCheckBox* AddCheckBox(QWidget* page, int n, int tag, const QString& caption);
  QLineEdit* AddEdit(QWidget* page, int n, const QString& caption, const QString& note);

  bool active_ = false;
  bool firstShow_ = true;
};

// Creates the dialog at program start and attaches it to "Einstellungen1".
TForm33* CreateSettingsDialog(QWidget* mainWindow);
TForm33* SettingsDialog();

}  // namespace astrelon
