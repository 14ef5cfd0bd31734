// "Teste Verschiebungsfindung" from the menu: its questions, the result window
// named after the summed error, and no file written.
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>
#include <regex>

#include "../ui_windows/window_fixture.h"
#include "qt_test_app.h"
#include "registration/ui/shift_test_command.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class ShiftTestCommandTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterShiftTestCommands();
  }
};

// Answers the next modal dialogs in turn: a text for an input box, or the
// Yes/No button of a message box.
void Answer(std::shared_ptr<std::vector<QString>> answers, std::shared_ptr<std::vector<QString>> prompts) {
  if (answers->empty()) return;
  WhenModal([answers, prompts](QWidget* w) {
    const QString answer = answers->front();
    answers->erase(answers->begin());
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      prompts->push_back(box->text());
      box->button(answer == "Ja" ? QMessageBox::Yes : QMessageBox::No)->click();
    } else if (auto* edit = w->findChild<QLineEdit*>()) {
      if (auto* label = w->findChild<QLabel*>("Label1")) prompts->push_back(label->text());
      edit->setText(answer);
      qobject_cast<QDialog*>(w)->accept();
    }
    Answer(answers, prompts);
  });
}

TEST_F(ShiftTestCommandTest, ResultWindowIsNamedAfterTheErrorAndNothingIsWritten) {
  TempDir dir;
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (int mode : {0, 1}) {
    Settings.ShiftMode = mode;
    auto prompts = std::make_shared<std::vector<QString>>();
    Answer(std::make_shared<std::vector<QString>>(std::vector<QString>{"2", "0.1", "3.25", "Nein"}), prompts);
    QAction action("Teste Verschiebungsfindung");
    action.setObjectName("TesteVerschiebungsfindung1");
    ASSERT_TRUE(RunMenuCommand("TesteVerschiebungsfindung1", &action));
    QApplication::processEvents();
    EXPECT_EQ(*prompts, (std::vector<QString>{"Sternradius", "Rauschen", "Subpixelposition", "Bayer?"}));
    // Only the result stays: the first free slot was the test image.
    const int result = mode == 0 ? 2 : 3;
    for (int s = 1; s <= MaxImageSlots; ++s) EXPECT_EQ(Store.InUse[size_t(s)] != 0, s == result || s == 2) << s;
    EXPECT_TRUE(std::regex_match(Store.FileName[size_t(result)], std::regex(R"(V-test-Vari_\d+\.\d{3}\.png)")))
        << Store.FileName[size_t(result)];
    EXPECT_NE(ImageWindow(result), nullptr);
    EXPECT_EQ(Store.Display[size_t(result)].White, 10000.0f);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
  std::filesystem::current_path(old);
}

TEST_F(ShiftTestCommandTest, CancelOrNoNumberEndsWithoutImages) {
  auto prompts = std::make_shared<std::vector<QString>>();
  Answer(std::make_shared<std::vector<QString>>(std::vector<QString>{"2", "abc"}), prompts);
  QAction action("Teste Verschiebungsfindung");
  ASSERT_TRUE(RunMenuCommand("TesteVerschiebungsfindung1", &action));
  QApplication::processEvents();
  EXPECT_EQ(prompts->size(), 2u);
  for (int s = 1; s <= MaxImageSlots; ++s) EXPECT_FALSE(Store.InUse[size_t(s)]) << s;
}

}  // namespace
}  // namespace astrelon::test
