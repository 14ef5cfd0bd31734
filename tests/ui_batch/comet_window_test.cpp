// "Berechnen" on the page "Normal/Komet" as the user does it: the boxes drawn
// with the mouse on the image windows, the prompt answered with "Ok, weiter",
// the last frame chosen as the second image. The comet's motion comes back
// in the X and Y fields and in the saved batch file, and the status window
// does not stay behind.
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>
#include <fstream>

#include "../batch/comet_frames.h"
#include "batch/align/prompt_texts.h"
#include "batch/steps/batch_captions.h"
#include "common/number_text.h"
#include "engine_window_fixture.h"
#include "shell/ui/windows/image_view.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/window_coordinates.h"

namespace astrelon::test {
namespace {

using namespace comet;

// A box dragged with the left button on the window's picture around (x, y).
void DragBox(int slot, double x, double y, int half) {
  TMDIChild* window = ImageWindow(slot);
  ASSERT_NE(window, nullptr);
  QWidget* picture = window->Image1;
  const int zoom = window->Zoom();
  const auto at = [zoom](double ix, double iy) {
    const TPointI p = ImageToScreenPoint(zoom, {0, 0}, {int(std::nearbyint(ix)), int(std::nearbyint(iy))});
    return QPointF(p.X, p.Y);
  };
  const QPointF from = at(x - half, y - half), to = at(x + half, y + half);
  QMouseEvent press(QEvent::MouseButtonPress, from, picture->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(picture, &press);
  for (const QPointF& p : {(from + to) / 2, to}) {
    QMouseEvent move(QEvent::MouseMove, p, picture->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &move);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, to, picture->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(picture, &release);
}

class CometWindowTest : public BatchEngineWindowTest {
protected:
  // Plays the user at the prompt: a box where it asks for one (on the bright
  // star, or on the nucleus in the image the comet prompt is about), then
  // "Ok, weiter" once the prompt offers it.
  void PlayTheUser() {
    pumps = 0;
    shown = handled = 0;
    BatchRunView.ShowPrompt = [this, show = BatchRunView.ShowPrompt](const std::string& text) {
      ++shown;
      show(text);
    };
    pump.OnPump = [this] {
      // A prompt that never takes the answer ends the run instead of the test.
      if (++pumps > 3000) {
        ADD_FAILURE() << "the prompt is still waiting: " << texts.size() << " prompts";
        BatchRun.EndOfRun = true;
        BatchRun.PromptAnswered = true;
        pump.OnPump = nullptr;
        return;
      }
      if (!StarCheckPromptExists() || !StarCheckPrompt().isVisible()) return;
      TForm9& prompt = StarCheckPrompt();
      if (handled < shown) {
        handled = shown;
        const std::string text = prompt.Label1->text().toStdString();
        texts.push_back(text);
        const bool second = BatchRun.FilesDone >= 1;
        if (text == CometPrompt()) {
          const int k = second ? Count : 1, slot = second ? BatchRun.WorkSlot : BatchRun.TargetSlot;
          const TImageWindowLink* w = Store.Window[size_t(slot)];
          boxesLeft.push_back(w && (w->SelectionVisible(1) || w->MarkerVisible(1)));
          if (++cometPrompts == emptyAt)
            DragBox(slot, 13, 13, 5);  // empty sky in the corner
          else
            DragBox(slot, NucleusX(k), NucleusY(k), 5);
        } else if (!second) {
          DragBox(BatchRun.TargetSlot, Stars[0].X, Stars[0].Y, 6);
        }
        return;
      }
      if (prompt.Button1->isEnabled()) prompt.Button1->click();
    };
  }
  // "Berechnen" from the start file to the last frame, by series numbers or by
  // time, played to its end; comet prompt number `emptyAtPrompt` (from 1) gets a box
  // of empty sky.
  void Berechnen(const std::string& start, bool byTime, int emptyAtPrompt = 0) {
    texts.clear();
    boxesLeft.clear();
    BatchSteps.Records[1].Values[0] = start;
    BatchSteps.Records[1].Values[1] = "out/Komet.fit";
    if (BatchSteps.StepCount < 2) NextStep(10);
    ClickItem(form->RadioGroup1, 1);
    if (form->CheckBox5->isChecked() != byTime) form->CheckBox5->click();
    ASSERT_EQ(form->CheckBox5->isChecked(), byTime);
    Chosen = {{QString::fromStdString(dir.file(FrameName(Count)))}};
    PlayTheUser();
    cometPrompts = 0;
    emptyAt = emptyAtPrompt;
    form->Button5->click();
    ASSERT_EQ(BatchRun.Running.load(), 1);
    WaitForEnd(30);
    ASSERT_EQ(BatchRun.Running.load(), 0);
    pump.OnPump = nullptr;
  }
  // The number a field shows: fixed point, eight digits after the point.
  static double Shown(const QLineEdit* edit) {
    const std::string text = edit->text().toStdString();
    const size_t point = text.find('.');
    EXPECT_TRUE(point != std::string::npos && text.size() - point - 1 == 8) << text;
    const auto v = TryStrToFloatDot(text);
    EXPECT_TRUE(v) << text;
    return v.value_or(1e9);
  }

  int pumps = 0, shown = 0, handled = 0;
  int cometPrompts = 0, emptyAt = 0;  // the comet prompt answered with a box of empty sky
  std::vector<bool> boxesLeft;        // whether a mark was left on the window at each comet prompt
  std::vector<std::string> texts;
};

TEST_F(CometWindowTest, BerechnenShowsAndStoresTheMotionAndLeavesNoStatusWindow) {
  const std::string start = WriteFrames(dir);
  for (const bool byTime : {false, true}) {
    SCOPED_TRACE(byTime);
    Berechnen(start, byTime);
    // Star, nucleus; the last frame's star confirmed, its nucleus.
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1], CometPrompt());
    EXPECT_EQ(texts[3], CometPrompt());

    const double x = byTime ? -MoveX / MinutesApart : -MoveX, y = byTime ? -MoveY / MinutesApart : -MoveY;
    EXPECT_NEAR(Shown(form->Edit5), x, 0.02);
    EXPECT_NEAR(Shown(form->Edit6), y, 0.02);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(BatchStatusWindow().isVisible()) << BatchStatusWindow().Label2->text().toStdString();
    EXPECT_NE(BatchStatusWindow().Label2->text().toStdString(), "Bearbeitung fertig.");
    // Another step and back: the fields keep the values.
    const QString shown = form->Edit5->text();
    form->SButton1->click();
    form->SButton2->click();
    EXPECT_EQ(form->Edit5->text(), shown);

    // The saved batch: the motion per minute, then per frame.
    const std::string saved = dir.file(byTime ? "k2" : "k1");
    Chosen = {{QString::fromStdString(saved)}};
    form->SaveBtn->click();
    std::ifstream in(saved + ".qzb");
    std::string line;
    while (std::getline(in, line) && line.rfind("VDiffBerechnet", 0) != 0) {
    }
    for (const double e : {-MoveX / MinutesApart, -MoveY / MinutesApart, -MoveX, -MoveY}) {
      ASSERT_TRUE(std::getline(in, line));
      EXPECT_NEAR(TryStrToFloatDot(line).value_or(1e9), e, 0.02) << line;
    }
  }
}

// A star beside the comet's box in the first and in the last frame is not
// measured for it; a box of empty sky is said so and taken away, and the
// comet is asked for again.
TEST_F(CometWindowTest, BerechnenMeasuresTheCometInItsBoxAndSaysSoForEmptySky) {
  const TFieldStar beside[] = {{NucleusX(1), std::nearbyint(NucleusY(1)) + 6, NucleusPeak},
                               {std::nearbyint(NucleusX(Count)) + 7, NucleusY(Count) - 0.4, NucleusPeak}};
  const std::string start = WriteFrames(dir, beside);
  Berechnen(start, false, 2);  // the last frame's first comet box on empty sky
  // Star, nucleus; the last frame's star, the empty box, the nucleus.
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[4], CometPrompt());
  EXPECT_EQ(std::count(pump.Messages.begin(), pump.Messages.end(), BatchCaption(TBatchCaption::CometNotInBox)), 1);
  EXPECT_EQ(boxesLeft, std::vector<bool>(3, false)) << "each comet prompt starts without a mark";
  EXPECT_NEAR(Shown(form->Edit5), -MoveX, 0.01);
  EXPECT_NEAR(Shown(form->Edit6), -MoveY, 0.01);
}

}  // namespace
}  // namespace astrelon::test
