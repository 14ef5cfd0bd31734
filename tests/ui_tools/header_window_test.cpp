// The header editor: what it shows, how typing is written back, and when it reloads.
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <cstdlib>
#include <fstream>

#include "shell/ui/header/header_window.h"
#include "store/fits/fits_writer.h"
#include "tools_fixture.h"

namespace astrelon {
namespace {

class HeaderWindowTest : public test::ToolWindowTest {
protected:
  void SetUp() override {
    ToolWindowTest::SetUp();
    Settings.FitsHeaderChecked = 0;
    form_ = CreateHeaderWindow(main_.get());
  }
  // Shows the window and runs its timer's first tick (a busy machine may delay the real one).
  void ShowAndLoad() {
    form_->show();
    ASSERT_TRUE(form_->Timer1->isActive());
    Tick();
  }
  void Tick() { form_->Timer1Timer(); }
  QStringList Lines() const { return form_->RichEdit1->toPlainText().split('\n'); }
  // Replaces line i of the editor (one edit, as typing over a selection does).
  void ReplaceLine(int i, const QString& text) {
    QTextCursor c(form_->RichEdit1->document()->findBlockByNumber(i));
    c.select(QTextCursor::LineUnderCursor);
    c.insertText(text);
  }
  // Ten cards, END last.
  static void TenCards(int slot) {
    auto& cards = Store.Header[size_t(slot)].Cards;
    cards.assign(10, {});
    for (int i = 0; i < 9; ++i) cards[size_t(i)] = PadCard("KEY" + std::to_string(i) + "    = " + std::to_string(i));
    cards[0] = PadCard("SIMPLE  =                    T");
    cards[9] = PadCard("END");
  }
  TForm3* form_ = nullptr;
};

TEST_F(HeaderWindowTest, ShowsTheCardsUpToEndAndWritesTypedLinesBack) {
  Open(1);
  TenCards(1);
  auto& cards = Store.Header[1].Cards;
  cards.push_back(PadCard("AFTER   = 'not shown'"));
  ShowAndLoad();
  ASSERT_EQ(form_->ShownSlot, 1);
  ASSERT_EQ(Lines().size(), 10);
  EXPECT_EQ(Lines()[9].trimmed(), "END");
  EXPECT_FALSE(form_->RichEdit1->toPlainText().contains("AFTER"));

  // A line of 100 characters stores its first 80; "ä" becomes "?".
  ReplaceLine(3, "COMMENT " + QString(92, 'x'));
  EXPECT_EQ(cards[3], "COMMENT " + std::string(72, 'x'));
  ReplaceLine(4, QString::fromUtf8("OBSERVER= 'Mär'"));
  EXPECT_EQ(cards[4], "OBSERVER= 'M?r'");
  EXPECT_EQ(EditorLineToCard(QString::fromUtf8("a\tb\U0001F600c")), "a?b?c");

  // Deleting the last two lines keeps the cards: the header still ends at END.
  QTextCursor c(form_->RichEdit1->document()->findBlockByNumber(7));
  c.movePosition(QTextCursor::EndOfBlock);
  c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  c.removeSelectedText();
  EXPECT_EQ(Lines().size(), 8);
  EXPECT_EQ(cards.size(), 11u);
  EXPECT_EQ(cards[8], PadCard("KEY8    = 8"));
  EXPECT_EQ(Store.Header[1].FindEnd(), 9);

  // Lines beyond the list lengthen it.
  form_->RichEdit1->appendPlainText("A\nB\nC\nD");
  EXPECT_EQ(cards.size(), 12u);
  EXPECT_EQ(cards[11], "D");
}

TEST_F(HeaderWindowTest, AnEditedCardIsSavedAndReadBackByAstropy) {
  if (std::system("/usr/bin/python3 -c 'import astropy.io.fits' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "astropy is not installed";
  Open(1, 8, 4);
  ShowAndLoad();
  const int end = Store.Header[1].FindEnd();
  ReplaceLine(end, "OBSERVER= 'Maier, Jörg'           / who took it");
  form_->RichEdit1->appendPlainText("END");
  const test::TempDir dir;
  ASSERT_TRUE(SaveFits(1, -32, dir.file("edited.fit"), false, false));
  const std::string script = dir.file("read.py");
  std::ofstream(script) << "from astropy.io import fits\n"
                           "h = fits.getheader('" << dir.file("edited.fit") << "')\n"
                           "print(h['OBSERVER'] + '|' + h.comments['OBSERVER'])\n";
  ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " >" + dir.file("out.txt") + " 2>&1").c_str()), 0);
  std::string out;
  std::getline(std::ifstream(dir.file("out.txt")), out);
  EXPECT_EQ(out, "Maier, J?rg|who took it");
}

TEST_F(HeaderWindowTest, ReloadsForAnotherImageAndAfterAnOperationEnds) {
  Open(1);
  Open(2);
  AppendHeaderCard(2, "OBJECT  = 'M 42'");
  Activate(1);
  ShowAndLoad();
  EXPECT_EQ(form_->ShownSlot, 1);
  EXPECT_FALSE(form_->RichEdit1->toPlainText().contains("M 42"));
  Activate(2);
  Tick();
  EXPECT_EQ(form_->ShownSlot, 2);
  EXPECT_TRUE(form_->RichEdit1->toPlainText().contains("M 42"));

  // While an operation runs on the shown image its text stays.
  OperationRunning = 1;
  AddHistoryCard(2, "Test", 0);
  Tick();
  EXPECT_FALSE(form_->RichEdit1->toPlainText().contains("HISTORY"));
  OperationRunning = 0;
  Tick();
  EXPECT_TRUE(form_->RichEdit1->toPlainText().contains("HISTORY Test"));
  // Cards changed by a command without an operation flag reload on the next tick.
  AddHistoryCard(2, "Zweiter Schritt", 1);
  Tick();
  EXPECT_TRUE(form_->RichEdit1->toPlainText().contains("Zweiter Schritt"));
  form_->hide();
  EXPECT_FALSE(form_->Timer1->isActive());
}

}  // namespace
}  // namespace astrelon
