// The small dialogs: Yes/No/Cancel, input query, message box, list chooser,
// help window, hidden-menu unlock, about box and form translation.
#include <QAction>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "core/language.h"
#include "qt_test_app.h"
#include "shell/main/help_texts.h"
#include "shell/ui/dialogs/about_box.h"
#include "shell/ui/dialogs/help_window.h"
#include "shell/ui/dialogs/hidden_menu_items.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/dialogs/translate_form.h"
#include "shell/ui/qt_engine_ui.h"
#include "test_support.h"

namespace astrelon {
namespace {

// A translation file with the dialog keys of sections 6, 19 and 32.
std::string DialogLanguageFile() {
  std::string t = "[0_x\n[1]4.2\n";
  for (int s = 1; s <= 32; ++s) {
    t += "[" + std::to_string(s) + "_s\n";
    if (s == 3) t += "[5]Caption three-five\n";
    if (s == 6) t += "[1]Okay\n[2]Cancel it\n";
    if (s == 19) t += "[1]next>\n[3]First paragraph\n[9]Batch start\n[20]Saved as files\n";
    if (s == 32) t += "[70.1]Yes, please\n[70.2]  No, thanks\n[70.3]Cancel\n[71]Careful\n[72]Please confirm\n";
  }
  return t;
}

class SmallDialogsTest : public ::testing::Test {
protected:
  void SetUp() override { UnloadLanguageFile(); }
  void TearDown() override { UnloadLanguageFile(); }
  static void LoadLanguage() {
    test::TempDir dir;
    test::WriteText(dir.file("QZlang_T.txt"), DialogLanguageFile());
    ASSERT_TRUE(LoadLanguageFileFrom(dir.file("QZlang_T.txt")));
  }
};

QPushButton* ButtonNamed(QWidget* w, const char* name) { return w->findChild<QPushButton*>(name); }

TEST_F(SmallDialogsTest, YesNoCancelReturnsTheModalResultOfTheButton) {
  test::WhenModal([](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), "Frage");
    EXPECT_EQ(w->findChild<QLabel*>("Label1")->text(), "Speichern?");
    EXPECT_EQ(ButtonNamed(w, "Button1")->text(), "Ja");
    EXPECT_EQ(ButtonNamed(w, "Button3")->text(), "Abbrechen");
    ButtonNamed(w, "Button2")->click();
  });
  EXPECT_EQ(LangYesNoCancel("Speichern?", "Frage"), mrNo);
  test::WhenModal([](QWidget* w) { ButtonNamed(w, "Button1")->click(); });
  EXPECT_EQ(LangYesNoCancel("Speichern?", "Frage"), mrYes);
  test::WhenModal([](QWidget* w) { w->close(); });  // closed otherwise: Cancel
  EXPECT_EQ(LangYesNoCancel("Speichern?", "Frage"), mrCancel);
}

TEST_F(SmallDialogsTest, YesNoCancelTakesTheFirstWordOfTranslatedCaptions) {
  LoadLanguage();
  test::WhenModal([](QWidget* w) {
    EXPECT_EQ(ButtonNamed(w, "Button1")->text(), "Yes");
    EXPECT_EQ(ButtonNamed(w, "Button2")->text(), "No");
    EXPECT_EQ(ButtonNamed(w, "Button3")->text(), "Cancel");
    ButtonNamed(w, "Button3")->click();
  });
  EXPECT_EQ(LangYesNoCancel("?", "?"), mrCancel);
}

TEST_F(SmallDialogsTest, InputQueryEnterAcceptsCancelKeepsTheValue) {
  QString value = "alt";
  test::WhenModal([](QWidget* w) {
    auto* edit = w->findChild<QLineEdit*>("Edit1");
    EXPECT_EQ(edit->text(), "alt");
    edit->setText("42");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  EXPECT_TRUE(LangInputQuery("Titel", "Wert:", value));
  EXPECT_EQ(value, "42");

  test::WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>("Edit1")->setText("99");
    ButtonNamed(w, "Button2")->click();
  });
  EXPECT_FALSE(LangInputQuery("Titel", "Wert:", value));
  EXPECT_EQ(value, "42");

  test::WhenModal([](QWidget* w) { w->close(); });
  EXPECT_EQ(LangInputBox("Titel", "Wert:", "7"), "7");
}

TEST_F(SmallDialogsTest, InputQueryGrowsByOneLinePerLineFeed) {
  TForm30 one, three;
  one.Prepare("T", "eine Zeile", "");
  three.Prepare("T", "erste\nzweite\ndritte", "");
  const int line = QFontInfo(one.font()).pixelSize() + 3;
  EXPECT_EQ(three.height() - one.height(), 2 * line);
  EXPECT_EQ(one.height(), one.logicalDpiY() * 103 / 96);
  // Buttons 13 pixels above the bottom, the edit field 15 pixels above them.
  EXPECT_EQ(one.Button1->geometry().bottom() + 1, one.height() - 13);
  EXPECT_EQ(one.Edit1->geometry().bottom() + 1, one.Button1->geometry().top() - 15);
  EXPECT_EQ(one.Button1->text(), "Ok");
  LoadLanguage();
  one.Prepare("T", "x", "");
  EXPECT_EQ(one.Button1->text(), "Okay");
  EXPECT_EQ(one.Button2->text(), "Cancel it");
}

TEST_F(SmallDialogsTest, MessageBoxCaptionsAndButtons) {
  test::WhenModal([](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Warnung");
    EXPECT_EQ(box->button(QMessageBox::Yes)->text(), "&Ja");
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(LangMessageBox("Weiter?", TMsgDlgType::Warning, mbYes | mbNo), mrNo);

  LoadLanguage();
  test::WhenModal([](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    EXPECT_EQ(box->windowTitle(), "Careful");
    EXPECT_EQ(box->button(QMessageBox::Yes)->text(), "Yes");
    EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), "Cancel it");
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(LangMessageBox("Go on?", TMsgDlgType::Warning, mbYes | mbNo | mbCancel), mrYes);
  test::WhenModal([](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    EXPECT_EQ(box->windowTitle(), "Fehler");  // an error keeps its standard caption
    EXPECT_EQ(box->button(QMessageBox::Ok)->text(), "Okay");
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(LangMessageBox("Kaputt", TMsgDlgType::Error, mbOK), mrOk);
  test::WhenModal([](QWidget* w) { EXPECT_EQ(w->windowTitle(), "Please confirm"); w->close(); });
  LangMessageBox("?", TMsgDlgType::Confirmation, mbYes | mbNo);
}

TEST_F(SmallDialogsTest, EngineUiAsksThroughTheTranslatedBoxes) {
  test::WhenModal([](QWidget* w) { ButtonNamed(w, "Button1")->click(); });
  EXPECT_EQ(QtEngineUi().AskYesNoCancel("Ersetzen?", true), TDialogAnswer::Yes);
  test::WhenModal([](QWidget* w) { ButtonNamed(w, "Button3")->click(); });
  EXPECT_EQ(QtEngineUi().AskYesNoCancel("Ersetzen?", true), TDialogAnswer::Cancel);
  test::WhenModal([](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::No)->click(); });
  EXPECT_EQ(QtEngineUi().AskYesNoCancel("Ersetzen?", false), TDialogAnswer::No);
  std::string shown;
  test::WhenModal([&shown](QWidget* w) {
    shown = qobject_cast<QMessageBox*>(w)->text().toStdString();
    qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
  });
  QtEngineUi().ShowMessage("Es sind zu viele Bilder geöffnet");
  EXPECT_EQ(shown, "Es sind zu viele Bilder geöffnet");
}

TEST_F(SmallDialogsTest, ListChooserCancelClearsTheSelection) {
  test::WhenModal([](QWidget* w) {
    auto* form = qobject_cast<TForm4*>(w);
    EXPECT_FALSE(form->Button1->isEnabled());
    form->ListBox1->setCurrentRow(1);
    EXPECT_TRUE(form->Button1->isEnabled());
    form->Button2->click();
  });
  EXPECT_EQ(ChooseFromList("Bild", {"a.fit", "b.fit", "c.fit"}), -1);
  test::WhenModal([](QWidget* w) {
    auto* form = qobject_cast<TForm4*>(w);
    form->ListBox1->setCurrentRow(2);
    form->Button1->click();
  });
  EXPECT_EQ(ChooseFromList("Bild", {"a.fit", "b.fit", "c.fit"}), 2);

  LoadLanguage();
  TForm4 form;
  form.show();
  EXPECT_EQ(form.Button1->text(), "Okay");
  EXPECT_EQ(form.Button2->text(), "Cancel it");
}

TEST_F(SmallDialogsTest, HelpWindowShowsThePagesGroups) {
  TForm14 help;
  help.ShowPage(1, "Zur &Bildaddition");
  EXPECT_EQ(help.windowTitle(), "Zur Bildaddition");
  EXPECT_FALSE(help.Button2->isVisible());
  EXPECT_TRUE(help.Memo1->toPlainText().contains("Zwei Bilder werden aufeinander abgebildet"));
  help.ShowPage(2, "Zur Batch Bearbeitung");
  EXPECT_TRUE(help.Button2->isVisible());
  EXPECT_TRUE(help.Memo1->toPlainText().contains("Startdatei"));
  help.Button2Click();
  EXPECT_FALSE(help.Button2->isVisible());
  EXPECT_TRUE(help.Memo1->toPlainText().contains("QZ_"));
  EXPECT_FALSE(help.Memo1->toPlainText().contains("Startdatei"));
  help.ShowPage(9, "Tips");  // clamped to 5: no group, nothing shown
  EXPECT_EQ(help.Memo1->toPlainText().trimmed(), "");
  help.hide();

  const auto e = HelpEntries();
  EXPECT_TRUE(e[9].empty() && e[18].empty() && e[19].empty());
  for (size_t i : {0u, 5u, 10u, 15u}) EXPECT_FALSE(e[i].empty());

  LoadLanguage();
  help.ShowPage(2, "Batch");
  EXPECT_EQ(help.Button2->text(), "next>");
  EXPECT_TRUE(help.Memo1->toPlainText().contains("Batch start"));
  // Entries without a translation keep their German paragraph.
  EXPECT_TRUE(help.Memo1->toPlainText().contains("Zieldatei"));
  help.hide();
}

TEST_F(SmallDialogsTest, AccessCodeUnlocksTheHiddenMenuItems) {
  EXPECT_TRUE(IsMenuAccessCode("menusbeyond"));
  EXPECT_FALSE(IsMenuAccessCode("MenusBeyond"));
  EXPECT_FALSE(IsMenuAccessCode("menusbeyond "));
  EXPECT_EQ(HiddenMenuCaptions().size(), 37);

  QMainWindow main;
  QMenu* menu = main.menuBar()->addMenu("&Bearbeiten");
  QAction* hidden = menu->addAction("Multifokus");
  QAction* separator = menu->addSeparator();
  separator->setProperty("unlockable", true);
  QAction* marked = menu->addAction("Translated caption");
  marked->setProperty("unlockable", true);
  QAction* normal = menu->addAction("Anderes");
  for (QAction* a : {hidden, separator, marked, normal}) a->setVisible(false);

  TForm14 help;
  test::WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>("Edit1")->setText("MENUSBEYOND");
    w->findChild<QPushButton*>("Button1")->click();
  });
  QTest::mouseClick(help.Label13, Qt::LeftButton);
  EXPECT_FALSE(hidden->isVisible());

  test::WhenModal([](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Menüfreischaltung"));
    w->findChild<QLineEdit*>("Edit1")->setText("menusbeyond");
    w->findChild<QPushButton*>("Button1")->click();
  });
  QTest::mouseClick(help.Label13, Qt::LeftButton);
  EXPECT_TRUE(hidden->isVisible());
  EXPECT_TRUE(separator->isVisible());
  EXPECT_TRUE(marked->isVisible());
  EXPECT_FALSE(normal->isVisible());
  EXPECT_TRUE(HiddenMenusUnlocked);
}

TEST_F(SmallDialogsTest, AboutBoxNamesProgramAndVersion) {
  TAboutBox* box = new TAboutBox;
  box->show();
  EXPECT_EQ(box->windowTitle(), "Info");
  EXPECT_EQ(box->ProductName->text(), "Astrelon");
  EXPECT_EQ(box->Version->text(), "Version 4.28");
  // No text of the box names an address.
  for (const QLabel* label : box->findChildren<QLabel*>()) {
    EXPECT_FALSE(label->text().contains('@')) << label->text().toStdString();
    EXPECT_FALSE(label->text().contains("example")) << label->text().toStdString();
  }
  QPointer<TAboutBox> guard(box);
  box->OKButton->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());  // frees itself when closed
}

TEST_F(SmallDialogsTest, TranslateFormSetsCaptionsOfTaggedControls) {
  QWidget form;
  form.setObjectName("FormTest");
  auto* label = new QLabel("Deutsch", &form);
  label->setProperty("Tag", LangKey(3, 5));
  auto* untranslated = new QPushButton("Knopf", &form);
  untranslated->setProperty("Tag", LangKey(3, 6));
  auto* small = new QLabel("Klein", &form);
  small->setProperty("Tag", 200);  // tags up to 255 are not keys
  form.show();
  TranslateForm("FormTest");
  EXPECT_EQ(label->text(), "Deutsch");  // no file loaded
  LoadLanguage();
  TranslateForm("FormTest");
  TranslateForm("GibtEsNicht");
  EXPECT_EQ(label->text(), "Caption three-five");
  EXPECT_EQ(untranslated->text(), "Knopf");
  EXPECT_EQ(small->text(), "Klein");

  auto* group = new QGroupBox("Gruppe", &form);
  group->setObjectName("RadioGroup2");
  auto* r1 = new QRadioButton("eins", group);
  auto* r2 = new QRadioButton("zwei", group);
  auto* button = new QPushButton("Knopf", &form);
  button->setObjectName("Button1");
  std::array<int, 96> keys{};
  keys[48] = LangKey(6, 1);   // entry 49: Button1 caption
  keys[56] = LangKey(6, 2);   // entry 57: Button1 hint
  keys[72] = 2;               // entry 73: first radio group is Radiogroup2
  keys[78] = LangKey(6, 2);   // entry 79: its item 0
  keys[79] = LangKey(6, 99);  // entry 80: item 1, no text
  keys[1] = LangKey(6, 1);    // entry 2: Label2 does not exist
  TranslateNumberedControls("FormTest", keys);
  EXPECT_EQ(button->text(), "Okay");
  EXPECT_EQ(button->toolTip(), "Cancel it");
  EXPECT_EQ(r1->text(), "Cancel it");
  EXPECT_EQ(r2->text(), "zwei");

  QAction action("&Datei");
  TranslateMenuCaption(&action, LangKey(1, 1));  // missing: keeps German
  EXPECT_EQ(action.text(), "&Datei");
  TranslateMenuCaption(&action, LangKey(6, 1));
  EXPECT_EQ(action.text(), "Okay");
}

}  // namespace
}  // namespace astrelon
