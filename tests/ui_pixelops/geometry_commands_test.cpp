// Borders typed in their dialog, the fixed-size crop dialog and rotation by a
// typed angle, run on real image windows; typed angles refused alike by the
// rotate dialog and the batch's rotation step.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <optional>

#include "../ui_windows/window_fixture.h"
#include "batch/exec/batch_step_dispatch.h"
#include "batch/exec/step_values.h"
#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_step_list.h"
#include "common/engine_ui.h"
#include "common/number_text.h"
#include "pixelops/geometry/find_blank_margins.h"
#include "pixelops/geometry/rotate_image.h"
#include "pixelops/ui/geometry/border_dialog.h"
#include "pixelops/ui/geometry/crop_frame_dialog.h"
#include "pixelops/ui/geometry/geometry_commands.h"
#include "pixelops/ui/geometry/rotate_commands.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/pixels/pixel_arithmetic_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class GeometryCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterGeometryCommands();
  }
  void TearDown() override {
    if (QWidget* f = DialogForm(36)) f->close();
    if (QWidget* f = DialogForm(5)) f->close();
    QApplication::processEvents();
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  // A grey image in a window with the values y * w + x, made the active one.
  static void OpenRamp(int slot, int w, int h) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = 1;
    im.Planes[1].resize(size_t(w) * size_t(h));
    for (size_t i = 0; i < im.Planes[1].size(); ++i) im.Planes[1][i] = float(i);
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = "/d/m42.fit";
    MakeDefaultHeader(slot);
    ShowImageWindow(slot);
    ActivateImageWindow(slot);
  }
  static std::string History(int slot) {
    std::string text;
    for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
      if (card.rfind("HISTORY ", 0) == 0)
        text += (text.empty() ? "" : "|") + card.substr(8, card.find_last_not_of(' ') - 7);
    return text;
  }
  static void Run(const char* name, const char* caption) {
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
  }
  TEngineUi ui_;
};

TEST_F(GeometryCommandsTest, BorderDialogGrowsACopy) {
  OpenRamp(1, 10, 10);
  Run("Erweitern1", "Rand &erweitern");
  auto* form = qobject_cast<TForm5*>(DialogForm(5));
  ASSERT_TRUE(form && form->isVisible());
  form->Edit1->setText("15000");
  form->Button1Click();
  EXPECT_FALSE(Store.InUse[2]);
  form->Edit1->setText("1");
  form->Edit2->setText("2");
  form->Edit3->setText("3");
  form->Edit4->setText("4");
  form->Edit5->setText("7.0");
  form->Button1Click();
  ASSERT_TRUE(Store.HasWindow[2]);
  const TImageSlot& d = Store.Image[2];
  ASSERT_EQ(d.Width, 17);
  ASSERT_EQ(d.Height, 13);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 17; ++x) {
      const bool inside = y >= 1 && y <= 10 && x >= 3 && x <= 12;
      ASSERT_EQ(d.Planes[1][size_t(y * 17 + x)], inside ? float((y - 1) * 10 + x - 3) : 7.0f) << x << " " << y;
    }
  EXPECT_EQ(GetHeaderValue(2, "NAXIS1", true), "17");
  EXPECT_NE(History(2).find("Oben 1"), std::string::npos);
  EXPECT_NE(History(2).find("Pixelwert 7.0"), std::string::npos);
  EXPECT_EQ(Store.Image[1].Width, 10);
}

TEST_F(GeometryCommandsTest, FixedSizeCropDialog) {
  OpenRamp(1, 100, 100);
  Settings.CutoutWidth = 640;
  Settings.CutoutAspect = "4:3";
  // "Ausschneiden" on a window showing its point marker opens the dialog centred there.
  RegisterPixelArithmeticCommands();
  ImageWindow(1)->Overlay().Image2 = {QRect(10 - MarkerSize / 2, 10 - MarkerSize / 2, MarkerSize, MarkerSize), true};
  Run("Ausschneiden1", "&Ausschneiden");
  auto* form = qobject_cast<TForm36*>(DialogForm(36));
  ASSERT_TRUE(form && form->isVisible());
  EXPECT_EQ(form->Label3->text(), "480");
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_TRUE(ImageWindow(1)->SelectionVisible(1));
  EXPECT_FALSE(ImageWindow(1)->MarkerVisible(1));
  EXPECT_FALSE(Store.InUse[2]);
  const TRectI frame = ImageWindow(1)->SelectionImageRect(1);
  EXPECT_EQ(frame.Left, -310);
  EXPECT_EQ(frame.Bottom, 249);

  form->Button1Click();
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(Store.Image[2].Width, 640);
  EXPECT_EQ(Store.Image[2].Height, 480);
  EXPECT_EQ(Store.Image[2].Planes[1][size_t(230 * 640 + 310)], 0.0f);
  EXPECT_EQ(Store.Image[2].Planes[1][0], BlankPixel);
  EXPECT_EQ(History(2), "Ausschneiden [X1: 0, X2: 99, Y1: 0, Y2: 99]");
  EXPECT_TRUE(form->isVisible());

  for (const char* refused : {"0", "0:3", "abc"}) {
    form->Edit2->setText(refused);
    form->Edit2Change();
    EXPECT_FALSE(form->Button1->isEnabled()) << refused;
  }
  EXPECT_TRUE(form->Label3->text().contains("0:3") || form->Label3->text().isEmpty());
  form->Edit2->setText("0:3");
  form->Edit2Change();
  EXPECT_TRUE(form->Label3->text().contains("0:3"));
  form->Edit2->setText("100");
  form->Edit2Change();
  form->Edit1->setText("x");
  form->Edit1Change();
  EXPECT_FALSE(form->Button1->isEnabled());
  form->close();
  QApplication::processEvents();
  EXPECT_FALSE(ImageWindow(1)->SelectionVisible(1));
  EXPECT_FALSE(CropFrame.Showing);
}

TEST_F(GeometryCommandsTest, RotateByTypedAngle) {
  OpenRamp(1, 20, 20);
  LastRotateAngle = 0;
  auto answer = [](const char* angle, int button) {
    WhenModal([angle, button](QWidget* w) {
      auto* input = qobject_cast<QDialog*>(w);
      ASSERT_TRUE(input);
      w->findChild<QLineEdit*>()->setText(angle);
      input->accept();
      if (button > 0)
        WhenModal([button](QWidget* choice) {
          choice->findChild<QPushButton*>(QString("SpeedButton%1").arg(button))->click();
        });
    });
  };
  answer("0", 0);
  Run("Bildrotieren1", "Bild &rotieren");
  EXPECT_FALSE(Store.InUse[2]);
  answer("12.5", 1);
  Run("Bildrotieren1", "Bild &rotieren");
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(History(2), "Bild rotieren 12.5");
  EXPECT_GT(Store.Image[2].Width, 20);
  EXPECT_EQ(LastRotateAngle, 12.5);
  EXPECT_EQ(RecentFunctionCaption(0), "Bild rotieren");
}

// Clicks button `button` of the framing dialog "Ausschnitt" whenever it shows
// while the object lives.
class FramingAnswer {
public:
  explicit FramingAnswer(int button) {
    QObject::connect(&timer_, &QTimer::timeout, [button] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w || !w->isVisible() || w->objectName() != "Form29") return;
      w->findChild<QPushButton*>(QString("SpeedButton%1").arg(button))->click();
    });
    timer_.start(5);
  }

private:
  QTimer timer_;
};

TPlane Plane(int slot) { return Store.Image[size_t(slot)].Planes[1]; }

TEST_F(GeometryCommandsTest, TypedAnglesBeyondAMillionDegreesAreRefusedByDialogAndBatch) {
  enum class Entry { Dialog, Batch };
  struct Row {
    const char* text;
    std::optional<double> turn;  // the angle reduced to one turn; nullopt: refused
  };
  const Row rows[] = {
      {"12.5", 12.5},        {"-370", -10.0},      {"720", 0.0},          {"0,5", 0.5},
      {"1000000", -80.0},    {"-1e6", 80.0},       {"999999.5", -80.5},   {"1000000.001", std::nullopt},
      {"-1000001", std::nullopt}, {"1e7", std::nullopt}, {"1e300", std::nullopt}, {"-1e300", std::nullopt},
      {"3e38", std::nullopt}, {"nan", std::nullopt}, {"inf", std::nullopt}, {"abc", std::nullopt},
  };
  OpenRamp(1, 20, 20);
  const TPlane source = Plane(1);
  // The picture the entry must give: the source turned by the reduced angle.
  const auto expected = [](double turn, int framing) {
    EXPECT_TRUE(CopyImageSlot(1, 9));
    EXPECT_TRUE(RotateImage(1, 9, Settings.InterpolationKind, turn, framing));
    if (framing > 0) TrimBlankEdges(9);
    const TImageSlot im = Store.Image[9];
    FreeSlot(9);
    return im;
  };
  for (const Entry entry : {Entry::Dialog, Entry::Batch})
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(entry == Entry::Dialog ? "Bild rotieren: " : "Batch Bild rotieren: ") + row.text);
      ui_.Messages.clear();
      if (entry == Entry::Dialog) {
        LastRotateAngle = 7;
        ActivateImageWindow(1);
        WhenModal([&row](QWidget* w) {
          w->findChild<QLineEdit*>()->setText(row.text);
          qobject_cast<QDialog*>(w)->accept();
        });
        {
          const FramingAnswer framing(1);
          Run("Bildrotieren1", "Bild &rotieren");
        }
        if (!row.turn) {
          EXPECT_FALSE(Store.InUse[2]);
          EXPECT_EQ(LastRotateAngle, 7);
          EXPECT_EQ(ui_.Messages,
                    std::vector<std::string>{"'" + std::string(row.text) + "' ist kein gültiger Gleitkommawert"});
        } else {
          ASSERT_TRUE(Store.InUse[2]);
          EXPECT_EQ(LastRotateAngle, *TryStrToFloatDot(row.text));
          EXPECT_EQ(History(2), std::string("Bild rotieren ") + row.text);
          const TImageSlot want = expected(*row.turn, 1);
          EXPECT_EQ(Store.Image[2].Width, want.Width);
          EXPECT_EQ(Store.Image[2].Height, want.Height);
          EXPECT_EQ(Plane(2), want.Planes[1]);
          EXPECT_TRUE(ui_.Messages.empty());
          CloseImageSlot(2);
        }
      } else {
        ASSERT_TRUE(CopyImageSlot(1, 5));
        BatchSteps = TBatchStepList();
        BatchSteps.EditorStep = 2;
        int32_t combine = 0;
        SetStepOperation(BatchSteps, 19, combine);
        BatchSteps.StepCount = 2;
        BatchSteps.Records[2].Values[0] = row.text;
        BatchRun.WorkSlot = 5;
        std::string error;
        try {
          RunBatchStep(2);
        } catch (const TBatchStepError& e) {
          error = e.what();
        }
        if (!row.turn) {
          EXPECT_EQ(error, "'" + std::string(row.text) + "' ist keine gültige Zahl");
          EXPECT_EQ(Plane(5), source);
        } else {
          EXPECT_EQ(error, "");
          EXPECT_EQ(Plane(5), expected(*row.turn, 0).Planes[1]);
        }
        EXPECT_TRUE(ui_.Messages.empty());
        FreeSlot(5);
        BatchSteps = TBatchStepList();
        BatchRun.WorkSlot = -1;
      }
      for (int s = 2; s <= MaxImageSlots; ++s)
        if (Store.InUse[size_t(s)]) {
          ADD_FAILURE() << "slot " << s << " left in use";
          CloseImageSlot(s);
        }
      EXPECT_EQ(Plane(1), source);
    }
}

}  // namespace
}  // namespace astrelon::test
