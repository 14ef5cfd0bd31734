// The training commands in a main window: the panel while training and its
// controls, the questions and their messages, a two-times network written
// and added to the direct choice, and end to end a universal filter trained
// on a picture and its blurred copy that brings the picture closer to it.
#include "filters/ui/network/training_commands.h"

#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>
#include <filesystem>

#include "../filters/network_test_nets.h"
#include "filter_dialog_fixture.h"
#include "filters/network/network_filter.h"
#include "filters/training/image_rms_difference.h"
#include "filters/training/training_options.h"
#include "filters/ui/network/network_commands.h"
#include "filters/ui/network/training_panel.h"
#include "kernels/gauss/gauss_filters.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/two_times_network_file.h"
#include "qt_test_app.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/main_menu_state.h"
#include "store/pictures/pnm_reader.h"

namespace astrelon::test {
namespace {

class TrainingCommandsTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    BuildMainMenu(main_->menuBar(), main_.get());
    savedChooser_ = ChooseTrainingFile;
    ChooseTrainingFile = [this](const QString& filter) {
      filters_.push_back(filter);
      return chosen_;
    };
    savedOptions_ = TrainingOptions;
    TrainingOptions = {};
    TrainingSeed = 12345;
    TrainingLimits = {2000, true};
    EngineUi().Messages.clear();
    Settings.NetworkFolder = dir_.path().string();
  }
  void TearDown() override {
    ChooseTrainingFile = savedChooser_;
    TrainingOptions = savedOptions_;
    TrainingSeed.reset();
    TrainingLimits = {};
    Network = TNetworkWeights{};
    FilterDialogTest::TearDown();
  }
  // Runs a training command on the active window with the prompts answered.
  void Train(const char* item, const std::string& file, std::vector<std::optional<QString>> answers) {
    chosen_ = QString::fromStdString(file);
    PromptAnswers prompts(std::move(answers));
    ASSERT_TRUE(RunMenuCommand(item));
    QApplication::processEvents();
    prompts_ = prompts.Prompts();
  }
  TempDir dir_;
  QString chosen_;
  std::vector<QString> filters_, prompts_;
  std::function<QString(const QString&)> savedChooser_;
  TTrainingOptions savedOptions_;
};

TEST_F(TrainingCommandsTest, TwoTimesTrainingWritesANewNetwork) {
  area_->setActiveSubWindow(Open(1, 60, 44));
  const std::string file = dir_.file("neu.nnw");
  Train("trainNNbp1", file, {"0", "37", "2", "21"});
  ASSERT_EQ(prompts_.size(), 4u);
  EXPECT_TRUE(prompts_[0].startsWith("Filter zum Verkleinern: Bikubisch(0), Lancszos(1),\nBox(2)"));
  EXPECT_EQ(filters_.back(), "Neuronal Network Weights (*.nnw)");
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_TRUE(EngineUi().Messages.empty());
  EXPECT_EQ(TrainingControls.BaseSteps, 20000);  // 60 x 44 / 8 is less
  EXPECT_EQ(MainLink().StatusTexts[3], " Training unterbrochen");
  // The result (the reduced image was slot 2 meanwhile): twice the reduced image.
  EXPECT_FALSE(SlotInUse(2));
  ASSERT_NE(ImageWindow(3), nullptr);
  EXPECT_EQ(Store.Image[3].Width, 60);
  EXPECT_EQ(Store.Image[3].Height, 44);
  EXPECT_FALSE(TrainingPanel()->isVisible());
  EXPECT_EQ(OperationRunning, 0);
  // The file reads back: 21 neurons, 16 in use, two layers, phase 1.
  int32_t n = 0, current = 0, top = 0;
  ASSERT_TRUE(LoadTwoTimesNetworkFile(file, n, current, top));
  EXPECT_EQ(n, 20);
  EXPECT_EQ(current, 15);
  EXPECT_EQ(top, 36);
  EXPECT_EQ(Network.TypeCode, 3);
  // The new network is in the direct choice.
  QAction* direct = MainMenuItem("Bildgrex2NNDirektwahl1");
  ASSERT_TRUE(direct->isVisible());
  EXPECT_EQ(direct->menu()->actions()[0]->text(), "neu");
}

// Cancelled or empty answers and counts out of range write nothing.
TEST_F(TrainingCommandsTest, QuestionsEndTheCommand) {
  area_->setActiveSubWindow(Open(1, 60, 44));
  const std::string file = dir_.file("x.nnw");
  Train("trainNNbp1", file, {std::nullopt});
  Train("trainNNbp1", file, {"0", ""});
  Train("trainNNbp1", file, {"0", "37", "2", "5"});
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "Die Neuronenanzahl muss zwischen 10 und 1000 liegen.");
  Train("trainNNbp1", file, {"0", "viel"});
  EXPECT_EQ(EngineUi().Messages.back(), "'viel' ist kein gültiger ganzzahliger Wert");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(CountOpenWindows(), 1);
  chosen_.clear();
  ASSERT_TRUE(RunMenuCommand("trainNNbp1"));
  EXPECT_EQ(CountOpenWindows(), 1);
  // An unreadable file trains nothing and keeps it.
  WriteText(file, "kaputt");
  Train("trainNNbp1", file, {"0"});
  EXPECT_EQ(EngineUi().Messages.back(), file + "\nkonnte nicht geöffnet werden!");
  EXPECT_EQ(ReadAll(file).size(), 6u);
}

TEST_F(TrainingCommandsTest, MessagesOfTheFilterTrainings) {
  area_->setActiveSubWindow(Open(1, 40, 30));
  Train("DebayerFiltertrainieren1", dir_.file("d.nnb"), {});
  EXPECT_EQ(EngineUi().Messages.back(), "Das Bild muss in Farbe sein.");
  Train("UniversellenFiltertrainieren1", dir_.file("u.nnf"), {});
  EXPECT_EQ(EngineUi().Messages.back(),
            "Es muss zusätzlich ein gleichartiges Bild vorhanden sein,\nwelches den gewünschten Filtereffekt besitzt.");
  Open(2, 30, 30);
  area_->setActiveSubWindow(ImageWindow(1));
  Train("UniversellenFiltertrainieren1", dir_.file("u.nnf"), {});
  EXPECT_EQ(EngineUi().Messages.back(), "Das Sollbild muss mindestens so groß wie das Eingangsbild sein.");
  MakeImage(2, 40, 30);
  for (float& v : Store.Image[2].Planes[1]) v = 5.0f;
  UpdateMinMax(2);
  Train("UniversellenFiltertrainieren1", dir_.file("u.nnf"), {});
  EXPECT_TRUE(EngineUi().Messages.back().find("kann nicht trainiert werden") != std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("u.nnf")));
}

// The panel shows only while training; its controls steer the network.
TEST_F(TrainingCommandsTest, PanelAndItsControls) {
  BuildTanhTable();
  InitNetwork(20, 15, 36, 1);
  Network.TypeCode = 13;
  Network.Rate = 0.05;
  TrainingControls.BaseSteps = 30000;
  Settings.NetworkFolder.clear();
  area_->setActiveSubWindow(Open(1, 40, 30));
  ShowTrainingPanel(15, 20, 36);
  TTrainingPanel* panel = TrainingPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->objectName(), "Panel2");
  EXPECT_EQ(panel->RateLabel->text(), "0.05000");
  EXPECT_EQ(panel->Label14->text(), "16 (von 21)");
  EXPECT_FALSE(panel->SpeedButton7->isEnabled());  // not at full size
  EXPECT_FALSE(panel->SpeedButton8->isVisible());  // no second layer
  EXPECT_TRUE(panel->SpeedButton5nn->isChecked());
  EXPECT_TRUE(panel->CheckBox3->isEnabled());
  EXPECT_EQ(TrainingControls.PhaseSteps, 30000);
  UpdateMenuState();
  EXPECT_FALSE(MainMenuItem("EigeneNNFilter1")->isEnabled());
  EXPECT_FALSE(MainMenuItem("UniversellerFilterNeuronalesNetzwerk1")->isEnabled());
  panel->UpDown1->Up->click();
  EXPECT_EQ(panel->RateLabel->text(), "0.06000");
  panel->UpDown2->Down->click();
  EXPECT_EQ(panel->ThresholdLabel->text(), "0.00083");
  EXPECT_DOUBLE_EQ(TrainingControls.Thresholds[2], 0.001 * 0.833);
  panel->CheckBox1->setChecked(true);
  EXPECT_TRUE(TrainingOptions.GoodImage);
  panel->Button1->click();
  EXPECT_EQ(AbortRequested, 1);
  AbortRequested = 0;
  QTest::keyClick(panel->CheckBox1, Qt::Key_Escape);
  EXPECT_EQ(AbortRequested, 1);
  AbortRequested = 0;
  // At full size the phases can be chosen; back to phase 1 restores its rate.
  Network.Current = 20;
  ShowTrainingPanel(20, 20, 36);
  ASSERT_TRUE(panel->SpeedButton7->isEnabled());
  panel->SpeedButton7->click();
  EXPECT_EQ(Network.Phase, 2);
  EXPECT_EQ(panel->RateLabel->text(), "0.02000");
  EXPECT_TRUE(panel->SpeedButton7->isChecked());
  panel->SpeedButton5nn->click();
  EXPECT_EQ(Network.Phase, 1);
  EXPECT_EQ(panel->RateLabel->text(), "0.06000");
  // A 3-input network cannot be turned.
  ShowTrainingPanel(20, 20, 2);
  EXPECT_FALSE(panel->CheckBox3->isEnabled());
  EXPECT_FALSE(panel->CheckBox4->isEnabled());
  HideTrainingPanel();
  EXPECT_FALSE(panel->isVisible());
  UpdateMenuState();
  EXPECT_TRUE(MainMenuItem("UniversellerFilterNeuronalesNetzwerk1")->isEnabled());
}

// A 37-input universal filter trained on a picture against its blurred copy
// brings the picture closer to the copy.
TEST_F(TrainingCommandsTest, UniversalFilterEndToEnd) {
  ASSERT_TRUE(LoadPnmFile(1, DataFile("libjpeg-turbo/testorig.ppm")));
  CopyImageSlot(1, 2);
  const TImageSlot& in = Store.Image[1];
  fGauss(1, 2, 0, 0, in.Width - 1, 0, in.Height - 1, 1.5f, false, 2, 100, "");
  UpdateMinMax(2);
  ShowImageWindow(2);
  ShowImageWindow(1);
  area_->setActiveSubWindow(ImageWindow(1));
  const std::string file = dir_.file("weich.nnf");
  EngineUi().DefaultAnswer = TDialogAnswer::No;  // no colour manipulation
  TrainingLimits = {200000, true};
  Train("UniversellenFiltertrainieren1", file, {"37", "1", "37"});
  ASSERT_TRUE(std::filesystem::exists(file)) << (EngineUi().Messages.empty() ? "" : EngineUi().Messages.back());
  int32_t n = 0, current = 0, top = 0;
  Network = TNetworkWeights{};
  ASSERT_TRUE(LoadNetworkFile(file, n, current, top));
  EXPECT_EQ(Network.TypeCode, 11);
  EXPECT_EQ(n, 36);
  EXPECT_EQ(top, 36);
  const int filtered = FindFreeSlot();
  CopyImageSlot(1, filtered);
  ASSERT_TRUE(ApplyNetworkFilter(1, filtered, file, {0, in.Width - 1, 0, in.Height - 1}, 1.0));
  const double before = ImageRmsDifference(1, 2, 3), after = ImageRmsDifference(filtered, 2, 3);
  EXPECT_LT(after, 0.7 * before) << before << " " << after;
}

// A debayer network trained on a colour picture: type 2 with 37 inputs, read
// back; the result image comes from the network debayer of the picture's
// mosaic, its error per colour.
TEST_F(TrainingCommandsTest, DebayerTrainingWritesItsNetwork) {
  ASSERT_TRUE(LoadPnmFile(1, DataFile("libjpeg-turbo/testorig.ppm")));
  ShowImageWindow(1);
  area_->setActiveSubWindow(ImageWindow(1));
  const std::string file = dir_.file("bayer.nnb");
  Train("DebayerFiltertrainieren1", file, {"21"});
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0], "Neuronenanzahl eingeben: (21-200)");
  EXPECT_EQ(filters_.back(), "Debayer NN-Filter (*.nnb)");
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(TrainingControls.BaseSteps, 20000);
  int32_t n = 0, current = 0, top = 0;
  Network = TNetworkWeights{};
  ASSERT_TRUE(LoadNetworkFile(file, n, current, top));
  EXPECT_EQ(Network.TypeCode, 2);
  EXPECT_EQ(n, 20);
  EXPECT_EQ(current, 15);
  EXPECT_EQ(top, 36);
  ASSERT_TRUE(SlotInUse(2));
  EXPECT_EQ(Store.Image[2].PlaneCount, 3);
  EXPECT_EQ(CountOpenWindows(), 2);  // the mosaic made for the result is closed again
}

}  // namespace
}  // namespace astrelon::test
