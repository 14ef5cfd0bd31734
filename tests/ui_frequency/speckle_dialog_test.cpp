// The speckle window: its menu item, the fields kept in the packed text, the
// inputs (series, video, list, drops), the region drawn on the preview, the
// width that follows the splitter, bad fields, and a run over a list.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "core/packed_params.h"
#include "core/settings.h"
#include "frequency/ui/speckle_dialog.h"
#include "frequency/ui/speckle_preview.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

// Aborts the reconstruction once the status shows the power pass.
class TAbortingUi : public TEngineUi {
public:
  QLabel* Status = nullptr;
  bool Armed = false;
  void ProcessMessages() override {
    if (Armed && Status && Status->text().startsWith("Reconstruct Power")) AbortRequested = 1;
  }
};

class SpeckleDialog : public test::WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterSpeckleForm();
  }
  void TearDown() override {
    if (QWidget* f = DialogForm(SpeckleForm)) f->hide();
    QApplication::processEvents();
    SetEngineUi(nullptr);
    AbortRequested = 0;
    WindowTest::TearDown();
  }
  TForm32* Show() {
    EXPECT_TRUE(RunMenuCommand("KTBildRegistrierung1"));
    auto* f = qobject_cast<TForm32*>(DialogForm(SpeckleForm));
    EXPECT_NE(f, nullptr);
    if (f) {
      EXPECT_TRUE(f->isVisible());
    }
    return f;
  }
  // A w × h frame file with a bright spot, grey or colour.
  std::string Frame(const std::string& name, int w = 64, int h = 48, int planes = 1, int seed = 0) {
    TImageSlot& im = Store.Image[40];
    im = TImageSlot{};
    im.Width = w, im.Height = h, im.PlaneCount = planes, im.IsColor = planes == 3;
    im.AllocatePlanes(planes);
    for (int p = 1; p <= planes; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          im.At(p, x, y) = 100.0f + float((x * 7 + y * 3 + seed) % 13) + 500.0f * float(std::abs(x - 20) + std::abs(y - 15) < 3);
    Store.InUse[40] = 1;
    MakeDefaultHeader(40);
    UpdateMinMax(40);
    const std::string path = dir_.file(name);
    EXPECT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    return path;
  }
  static QStringList Items(const QListWidget* l) {
    QStringList out;
    for (int k = 0; k < l->count(); ++k) out << l->item(k)->text();
    return out;
  }
  static std::vector<QString> Edges(const TForm32* f) {
    return {f->RegionLeft->text(), f->RegionTop->text(), f->RegionRight->text(), f->RegionBottom->text()};
  }
  TAbortingUi ui_;
  test::TempDir dir_;
};

TEST_F(SpeckleDialog, MenuItemShowsOnceTheFormIsRegistered) {
  RegisterDialogForm(SpeckleForm, nullptr);
  EXPECT_FALSE(MenuCommandAvailable("KTBildRegistrierung1"));
  RegisterSpeckleForm();
  EXPECT_TRUE(MenuCommandAvailable("KTBildRegistrierung1"));
  TForm32* f = Show();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->windowTitle(), "Interferom. Bildregistrierung");
  EXPECT_GE(f->minimumWidth(), 545);
  EXPECT_GE(f->minimumHeight(), 602);
  EXPECT_TRUE(f->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(f->Button5->isEnabled());
  EXPECT_FALSE(f->Button4->isEnabled());
  EXPECT_FALSE(f->ButtonF->isEnabled());
}

TEST_F(SpeckleDialog, FieldsComeFromAndGoBackToThePackedText) {
  struct TCase {
    std::string packed;
    std::vector<QString> fields;  // Edit6, Edit7, Edit2, Edit10, Edit3, Edit1
  };
  const std::vector<QString> defaults{"10", "50", "1", "4.5", "1.1", "2.0"};
  for (const TCase& c : {TCase{"", defaults}, {"0a32104511020", defaults}, {"1F0F3", defaults},
                         {"1F0F3077", {"31", "15", "3", "7.7", "1.1", "2.0"}},
                         {"1f0F3077c5FF9tail", {"31", "15", "3", "7.7", "12.5", "255.9"}},
                         {"@@@@@@@@@@@@@", defaults}}) {
    Settings.PackedParams = c.packed;
    TForm32* f = Show();
    ASSERT_NE(f, nullptr);
    const std::vector<QString> got{f->Edit6->text(), f->Edit7->text(), f->Edit2->text(),
                                   f->Edit10->text(), f->Edit3->text(), f->Edit1->text()};
    EXPECT_EQ(got, c.fields) << c.packed;
    f->hide();
    QApplication::processEvents();  // the form is released and made anew next time
    EXPECT_EQ(DialogForm(SpeckleForm), nullptr);
  }
  // Hiding writes the fields: 4.96 is stored as "05", "0"; a field that is no
  // number keeps what the text held.
  Settings.PackedParams = PackedParamsDefault;
  TForm32* f = Show();
  f->Edit10->setText("4.96");
  f->Edit7->setText("x");
  f->Edit6->setText("300");
  f->hide();
  QApplication::processEvents();
  EXPECT_EQ(Settings.PackedParams, "FF32105011020" + std::string(PackedParamsDefault).substr(13));
  Settings.PackedParams = "abc";
  f = Show();
  f->hide();
  QApplication::processEvents();
  EXPECT_EQ(Settings.PackedParams, "0A32104511020");
}

TEST_F(SpeckleDialog, NumberedFileSetsSeriesModeAndTheRegionIsDragged) {
  TForm32* f = Show();
  f->OpenFiles({QString::fromStdString(Frame("Bild0012.fit"))});
  EXPECT_TRUE(f->SeriesMode);
  EXPECT_FALSE(f->AviMode);
  EXPECT_EQ(f->Edit5->text(), "12");
  EXPECT_EQ(f->Edit8->text(), "9999");
  EXPECT_EQ(f->ComboBox1->currentIndex(), 1);  // "Y,s/w" for a grey frame
  EXPECT_TRUE(f->RangePanel->isVisibleTo(f));
  EXPECT_FALSE(f->Panel7->isVisibleTo(f));
  EXPECT_FALSE(f->ListBox1->isVisibleTo(f));
  EXPECT_EQ(f->Image1->Picture().size(), QSize(64, 48));
  EXPECT_EQ(Edges(f), (std::vector<QString>{"0", "0", "63", "47"}));
  EXPECT_TRUE(f->Button5->isEnabled());
  f->Edit7->setText("4");  // seeing 4: a larger ellipse, so the region changes the count
  const QString wholeCount = f->VectorCount->text();

  // Either direction gives the same rectangle, both corners included.
  for (auto [a, b] : {std::pair{QPoint(10, 5), QPoint(50, 40)}, {QPoint(50, 40), QPoint(10, 5)},
                      {QPoint(50, 5), QPoint(10, 40)}}) {
    f->Image1->PressAt(a);
    f->Image1->MoveTo((a + b) / 2);
    f->Image1->ReleaseAt(b);
    EXPECT_EQ(Edges(f), (std::vector<QString>{"10", "5", "50", "40"}));
    EXPECT_EQ(f->Region().Right, 50);
  }
  EXPECT_NE(f->VectorCount->text(), wholeCount);
  // Under 10 pixels in either direction: the whole frame.
  f->Image1->PressAt({10, 5});
  f->Image1->ReleaseAt({60, 13});
  EXPECT_FALSE(f->Image1->Shape1->isVisibleTo(f->Image1));
  EXPECT_EQ(Edges(f), (std::vector<QString>{"0", "0", "63", "47"}));
  EXPECT_EQ(f->VectorCount->text(), wholeCount);
  // A region beyond the frame is clipped to it.
  f->Image1->PressAt({40, 30});
  f->Image1->ReleaseAt({90, 70});
  EXPECT_EQ(Edges(f), (std::vector<QString>{"40", "30", "63", "47"}));
}

// The window is as wide as the panel beside the whole preview: a moved splitter
// takes the window's edge with it, a resized window keeps that width, and the
// file field stays as wide as the panel less the open button and 12 pixels.
TEST_F(SpeckleDialog, WidthFollowsTheSplitterAndThePreview) {
  TForm32* f = Show();
  f->OpenFiles({QString::fromStdString(Frame("Bild0001.fit", 240, 200))});
  QApplication::processEvents();
  const auto previewWhole = [f] {
    const int shown = f->PreviewBox->viewport()->width();
    return shown >= 240 && shown <= 250;
  };
  const int start = f->width();
  EXPECT_TRUE(previewWhole()) << f->PreviewBox->viewport()->width();
  QSplitterHandle* handle = f->Splitter1->handle(1);
  for (const int step : {40, -25}) {
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(step, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(step, 0));
    QApplication::processEvents();
  }
  EXPECT_EQ(f->width(), start + 15);
  EXPECT_TRUE(previewWhole()) << f->PreviewBox->viewport()->width();
  EXPECT_EQ(f->Edit4->width(), f->Panel1->width() - f->OpenBtn->width() - 12);
  for (const int change : {100, -60}) {
    f->resize(start + 15 + change, f->height() + 20);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(f->width(), start + 15) << change;
    EXPECT_TRUE(previewWhole()) << f->PreviewBox->viewport()->width();
  }
}

TEST_F(SpeckleDialog, VideoSetsAviModeAndNavigatesItsFrames) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  const std::string video = dir_.file("v.avi");
  ASSERT_EQ(std::system(("ffmpeg -y -f lavfi -i testsrc=size=48x32:rate=5 -frames:v 14 -c:v rawvideo -pix_fmt bgr24 " +
                         video + " >/dev/null 2>&1").c_str()),
            0);
  TForm32* f = Show();
  f->OpenFiles({QString::fromStdString(video)});
  EXPECT_TRUE(f->AviMode);
  EXPECT_EQ(f->Edit4->text().toStdString(), video);
  EXPECT_EQ(f->Edit5->text(), "1");
  EXPECT_EQ(f->Edit8->text(), "14");
  EXPECT_EQ(f->ComboBox1->currentIndex(), 0);  // "RGB" for a colour video
  EXPECT_TRUE(f->Panel7->isVisibleTo(f));
  EXPECT_EQ(f->Label31->text(), "#1");
  EXPECT_EQ(f->Image1->Picture().size(), QSize(48, 32));
  f->Button14->click();
  EXPECT_EQ(f->Label31->text(), "#11");
  f->Button14->click();  // clamped to the last frame
  EXPECT_EQ(f->Label31->text(), "#14");
  f->Button11->click();
  EXPECT_EQ(f->Label31->text(), "#4");
  f->AVItoBegin->click();
  EXPECT_EQ(f->Label31->text(), "#1");
  f->Button15->click();
  EXPECT_EQ(f->Label31->text(), "#14");

  // A run over frames 2, 5, 8 (step 3, below 10).
  f->Edit5->setText("2");
  f->Edit8->setText("10");
  f->Edit9->setText("3");
  f->Button5->click();
  EXPECT_TRUE(f->Session.DataPresent);
  EXPECT_EQ(f->Session.Acc.Layers, 3);
  EXPECT_EQ(f->Label31->text(), "#8");

  // A video that does not open empties the field.
  const std::string broken = dir_.file("broken.avi");
  std::ofstream(broken) << "RIFF....AVI garbage";
  f->OpenFiles({QString::fromStdString(broken)});
  EXPECT_TRUE(f->Edit4->text().isEmpty());
  EXPECT_FALSE(f->AviMode);
}

TEST_F(SpeckleDialog, DroppedFilesGoIntoTheListSortedAndUnique) {
  TForm32* f = Show();
  const QString b = QString::fromStdString(Frame("b_2.fit")), a = QString::fromStdString(Frame("a_1.fit", 40, 30));
  const QString c = QString::fromStdString(Frame("c_10.fit"));
  std::ofstream(dir_.file("notes.txt")) << "x";
  f->DropFiles({b, QString::fromStdString(dir_.file("notes.txt")), a, b, QString::fromStdString(dir_.file("v.avi")), c});
  EXPECT_EQ(Items(f->ListBox1), (QStringList{a, b, c}));
  // The first entry became the preview.
  EXPECT_EQ(f->Image1->Picture().size(), QSize(40, 30));
  EXPECT_TRUE(f->ListBox1->isVisibleTo(f));
  EXPECT_EQ(f->ExplorerFolder(), dir_.path().string() + "/");
  f->ListBox1->item(1)->setSelected(true);
  f->RemoveSelectedEntries();
  EXPECT_EQ(Items(f->ListBox1), (QStringList{a, c}));
  f->ClearList();
  EXPECT_EQ(f->ListBox1->count(), 0);
  EXPECT_FALSE(f->Image1->isVisibleTo(f));
}

TEST_F(SpeckleDialog, FieldsThatAreNoNumbersRefuseTheStart) {
  TForm32* f = Show();
  f->OpenFiles({QString::fromStdString(Frame("s0001.fit"))});
  f->Edit9->setText("zwei");
  f->Button5->click();
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_NE(ui_.Messages[0].find("Step:"), std::string::npos);
  EXPECT_FALSE(f->Session.DataPresent);
  f->Edit9->setText("1");
  f->Edit6->setText("");
  f->Button5->click();
  ASSERT_EQ(ui_.Messages.size(), 2u);
  EXPECT_NE(ui_.Messages[1].find("Rand anpassen:"), std::string::npos);
  EXPECT_FALSE(f->Session.DataPresent);
}

TEST_F(SpeckleDialog, RunOverAListAndHidingFreesTheAccumulators) {
  TForm32* f = Show();
  QStringList files;
  for (int k = 0; k < 3; ++k) files << QString::fromStdString(Frame("f" + std::to_string(k) + ".fit", 64, 48, 3, k));
  f->OpenFiles(files);
  EXPECT_FALSE(f->SeriesMode);
  EXPECT_EQ(f->ListBox1->count(), 3);
  EXPECT_EQ(f->ComboBox1->currentIndex(), 0);
  f->ComboBox1->setCurrentIndex(3);  // "G"
  f->Image1->PressAt({8, 4});
  f->Image1->ReleaseAt({40, 36});
  f->CheckBox1->setChecked(true);
  ASSERT_TRUE(f->Button5->isEnabled());
  f->Button5->click();
  EXPECT_FALSE(f->Running());
  EXPECT_TRUE(f->Session.DataPresent);
  EXPECT_TRUE(f->Session.KT);
  EXPECT_EQ(f->Session.Acc.Layers, 1);
  EXPECT_EQ(f->Button5->text(), "&Bilder registrieren");
  EXPECT_TRUE(f->Button4->isEnabled());
  EXPECT_TRUE(f->Button2->isEnabled());
  EXPECT_EQ(f->Session.Acc.Sums[1].SumCos[1], 3.0);
  EXPECT_GT(f->Session.UsedMB, 0);
  EXPECT_EQ(f->NeededMemory->text(), "0 MB");
  // The region was cut: a 33 × 33 frame has a 34 + 2 wide spectrum.
  EXPECT_EQ(f->Session.Acc.Width, 36);
  const int spectrum = f->Session.ResultSpectrum, kept = f->Session.KeptSpectrum;
  EXPECT_TRUE(SlotInUse(spectrum));
  EXPECT_TRUE(SlotInUse(kept));
  // Changing the seeing clears the data.
  f->Edit7->setText("20");
  EXPECT_FALSE(f->Session.DataPresent);
  EXPECT_FALSE(f->Button4->isEnabled());
  QPointer<TForm32> form(f);
  f->hide();
  QApplication::processEvents();
  EXPECT_TRUE(form.isNull());
  EXPECT_FALSE(SlotInUse(spectrum));
  EXPECT_FALSE(SlotInUse(kept));
}

// The frames accumulated and reconstructed.
void SpeckleDialogRun(TForm32* f, const std::vector<std::string>& files, int colour, const char* seeing) {
  QStringList names;
  for (const std::string& n : files) names << QString::fromStdString(n);
  f->OpenFiles(names);
  f->ComboBox1->setCurrentIndex(colour);
  f->Edit7->setText(seeing);
  f->Button5->click();
}

TEST_F(SpeckleDialog, RunEndsWithANewResultWindowThatBerechnenUpdates) {
  TForm32* f = Show();
  std::vector<std::string> files;
  for (int k = 0; k < 4; ++k) files.push_back(Frame("r" + std::to_string(k) + ".fit", 48, 40, 3, k));
  f->Edit2->setText("9");   // more steps than the limit
  f->Edit10->setText("1");  // below 2
  f->Edit3->setText("20");  // beyond 15
  f->Edit1->setText("300");
  SpeckleDialogRun(f, files, 0, "50");  // three vectors: long paths stay cheap
  const int result = f->Session.ResultImage;
  ASSERT_TRUE(SlotInUse(result));
  EXPECT_NE(ImageWindow(result), nullptr);
  EXPECT_EQ(Store.FileName[size_t(result)], dir_.path().string() + "/IF_Result_0.fit");
  EXPECT_EQ(Store.Image[size_t(result)].NumberedName, 1);
  EXPECT_EQ(Store.Image[size_t(result)].PlaneCount, 3);
  EXPECT_EQ(Store.Image[size_t(result)].Width, 48);
  const std::string history = test::HistoryText(result);
  EXPECT_NE(history.find("Interferom. Bildregistrierung"), std::string::npos) << history;
  EXPECT_EQ(f->Edit2->text(), "6");
  EXPECT_EQ(f->Edit10->text(), "2");
  EXPECT_EQ(f->Edit3->text(), "15");
  EXPECT_EQ(f->Edit1->text(), "255");
  EXPECT_TRUE(f->ButtonF->isEnabled());
  EXPECT_TRUE(f->Button4->isEnabled());
  EXPECT_EQ(f->Button4->text(), "Spektrum neu berechnen");
  EXPECT_TRUE(f->Button5->isEnabled());
  EXPECT_TRUE(f->Button2->isEnabled());
  EXPECT_TRUE(f->StatusLabel->text().isEmpty());

  // "Berechnen" with another response: the same window, new values.
  const int windows = CountOpenWindows();
  const std::vector<float> before = test::PlaneValues(result, 1);
  f->Edit3->setText("1.1");
  f->Edit1->setText("2.0");
  f->ButtonF->click();
  EXPECT_EQ(CountOpenWindows(), windows);
  EXPECT_EQ(f->Session.ResultImage, result);
  EXPECT_NE(test::PlaneValues(result, 1), before);
  EXPECT_EQ(Store.FileName[size_t(result)], dir_.path().string() + "/IF_Result_0.fit");
  // "Spektrum neu berechnen" updates the same window too.
  f->Edit2->setText("0");
  f->Button4->click();
  EXPECT_EQ(CountOpenWindows(), windows);
  EXPECT_EQ(f->Session.ResultImage, result);
  // A new run makes a new window; the old one stays.
  f->Button5->click();
  EXPECT_EQ(CountOpenWindows(), windows + 1);
  EXPECT_NE(f->Session.ResultImage, result);
  EXPECT_TRUE(SlotInUse(result));
  // Closing the result window: the next "Berechnen" makes a new one.
  const int second = f->Session.ResultImage;
  ImageWindow(second)->close();
  QApplication::processEvents();
  EXPECT_EQ(f->Session.ResultImage, -1);
  f->ButtonF->click();
  EXPECT_TRUE(SlotInUse(f->Session.ResultImage));
  EXPECT_NE(ImageWindow(f->Session.ResultImage), nullptr);
}

TEST_F(SpeckleDialog, AbortAndBadFieldsLeaveTheKeptSpectrum) {
  TForm32* f = Show();
  std::vector<std::string> files;
  for (int k = 0; k < 3; ++k) files.push_back(Frame("a" + std::to_string(k) + ".fit", 40, 32, 1, k));
  SpeckleDialogRun(f, files, 1, "8");
  const int kept = f->Session.KeptSpectrum, result = f->Session.ResultImage;
  ASSERT_TRUE(SlotInUse(kept));
  const std::vector<float> keptValues = test::PlaneValues(kept, 1), image = test::PlaneValues(result, 1);
  const int windows = CountOpenWindows();
  for (auto [edit, caption] : {std::pair{f->Edit2, "Max Schrittanzahl (0=Autokorr.):"}, {f->Edit10, "Max Radius:"},
                               {f->Edit3, "Max Auflösung (Pixel):"}, {f->Edit1, "D/r0:"}}) {
    const QString old = edit->text();
    edit->setText("abc");
    ui_.Messages.clear();
    f->Button4->click();
    ASSERT_EQ(ui_.Messages.size(), 1u) << caption;
    EXPECT_NE(ui_.Messages[0].find(caption), std::string::npos);
    EXPECT_EQ(test::PlaneValues(kept, 1), keptValues);
    EXPECT_EQ(test::PlaneValues(result, 1), image);
    edit->setText(old);
  }
  // Interrupted in the power pass: no new result, the kept spectrum as it was.
  ui_.Status = f->StatusLabel;
  ui_.Armed = true;
  f->Button4->click();
  ui_.Armed = false;
  EXPECT_EQ(CountOpenWindows(), windows);
  EXPECT_EQ(f->Session.KeptSpectrum, kept);
  EXPECT_EQ(test::PlaneValues(kept, 1), keptValues);
  EXPECT_EQ(test::PlaneValues(result, 1), image);
  EXPECT_FALSE(f->ButtonF->isEnabled());
  EXPECT_TRUE(f->Button4->isEnabled());
  EXPECT_EQ(f->Button4->text(), "Spektrum neu berechnen");
  EXPECT_TRUE(f->Button5->isEnabled());
  EXPECT_TRUE(f->Button2->isEnabled());
  // The next run gives the first result again.
  AbortRequested = 0;
  f->Button4->click();
  EXPECT_EQ(test::PlaneValues(result, 1), image);
  EXPECT_TRUE(f->ButtonF->isEnabled());
}

}  // namespace
}  // namespace astrelon
