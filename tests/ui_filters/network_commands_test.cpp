// The network commands in a main window: the two-times enlargement from the
// open dialog and from the direct choice, the universal filter with its
// history text, files named "_..." through the filter dialog's function 17
// ("Skalierung", "&Ok", "&Abbruch"), refused files, and the submenus built
// from the network folder.
#include "filters/ui/network/network_commands.h"

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <filesystem>

#include "../filters/network_test_nets.h"
#include "filter_dialog_fixture.h"
#include "filters/network/network_filter.h"
#include "filters/ui/network/network_filter_menu.h"
#include "filters/ui/network/network_menus.h"
#include "shell/ui/menu/main_menu.h"

namespace astrelon::test {
namespace {

class NetworkCommandsTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    BuildMainMenu(main_->menuBar(), main_.get());
    savedChooser_ = ChooseNetworkFile;
    ChooseNetworkFile = [this](const QString&) { return chosen_; };
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    ChooseNetworkFile = savedChooser_;
    Network = TNetworkWeights{};
    FilterDialogTest::TearDown();
  }
  std::string Write(const std::string& name, bool (*writer)(const std::string&, const TNetworkWeights&)) {
    const std::string f = dir_.file(name);
    EXPECT_TRUE(writer(f, Network));
    return f;
  }
  // Opens the source and runs a command with `file` chosen in the open dialog.
  void Run(const char* item, const std::string& file) {
    area_->setActiveSubWindow(Open(1, 40, 12));
    chosen_ = QString::fromStdString(file);
    ASSERT_TRUE(RunMenuCommand(item));
    QApplication::processEvents();
  }
  static void ExpectNetworkMenusEnabled() {
    // Hidden items (commands not registered here) count as disabled.
    for (const char* name : NetworkMenuItems)
      if (MainMenuItem(name)->isVisible()) {
        EXPECT_TRUE(MainMenuItem(name)->isEnabled()) << name;
      }
  }
  TempDir dir_;
  QString chosen_;
  std::function<QString(const QString&)> savedChooser_;
};

TEST_F(NetworkCommandsTest, EnlargementMakesATwiceAsLargeResult) {
  MakeZeroNetwork(3, 9);
  Run("Bildgrx2NN1", Write("zero.nnw", WriteTwoTimesNetworkFile));
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(Store.Image[2].Width, 80);
  EXPECT_EQ(Store.Image[2].Height, 24);
  EXPECT_EQ(Out(0, 0), Store.Image[1].At(1, 0, 0));
  EXPECT_EQ(History(2), "Bildgroesse x2 Neuronales Netzwerk");
  EXPECT_EQ(area_->activeSubWindow(), ImageWindow(2));
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(SlotPair.Source, -1);
  EXPECT_EQ(MainLink().StatusTexts[2], "");
  ExpectNetworkMenusEnabled();
  EXPECT_TRUE(ImageWindow(1)->windowFlags() & Qt::WindowCloseButtonHint);
}

// A file that cannot be read: the message, no result, the network as before;
// a cancelled dialog does nothing.
TEST_F(NetworkCommandsTest, RefusedFilesLeaveNoResult) {
  MakeRandomNetwork(1, 10, 10, 1, 3);
  const TNetworkWeights before = Network;
  const std::string broken = dir_.file("broken.nnw");
  WriteText(broken, "short");
  for (const char* item : {"Bildgrx2NN1", "UniversellerFilterNeuronalesNetzwerk1"}) {
    EngineUi().Messages.clear();
    Run(item, broken);
    EXPECT_EQ(EngineUi().Messages.size(), 1u) << item;
    EXPECT_FALSE(SlotInUse(2)) << item;
    EXPECT_TRUE(SameNetwork(Network, before)) << item;
    ExpectNetworkMenusEnabled();
    area_->closeAllSubWindows();
    QApplication::processEvents();
  }
  Run("Bildgrx2NN1", "");
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_TRUE(EngineUi().Messages.size() == 1u);
}

TEST_F(NetworkCommandsTest, UniversalFilterRecordsTheNetworkName) {
  MakeZeroNetwork(11, 9, {0.1f, 0.1f, 0.1f, 0.1f});
  const std::string file = Write("soft.nnf", WriteUniversalNetworkFile);
  Run("UniversellerFilterNeuronalesNetzwerk1", file);
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(History(2), "Universeller Filter (Neuronales Netzwerk) [soft]");
  EXPECT_FALSE(form->isVisible());
  // The whole image, as the filter gives it.
  CopyImageSlot(1, 3);
  ASSERT_TRUE(ApplyNetworkFilter(1, 3, file, TWorkRect{0, 39, 0, 11}, 1.0));
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[3].Planes[1]);
  EXPECT_NE(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
}

// "_..." opens function 17: "&Berechnen" filters with the "Skalierung" value,
// "&Ok" writes the caption and the value, "&Abbruch" frees the network.
TEST_F(NetworkCommandsTest, UnderscoreFilesOpenTheFilterDialog) {
  MakeZeroNetwork(11, 9, {0.1f, 0.1f, 0.1f, 0.1f});
  const std::string file = Write("_soft.nnf", WriteUniversalNetworkFile);
  FunktionDefTable[17].Trackbar[0].Position = 1.0f;  // "Skalierung" 4
  Run("UniversellerFilterNeuronalesNetzwerk1", file);
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(FunktionNr, 17);
  EXPECT_EQ(form->windowTitle(), "Universeller Filter (Neuronales Netzwerk) [_soft] ");
  EXPECT_EQ(Network.TypeCode, 11);  // loaded at the start
  ExpectNetworkMenusEnabled();
  ASSERT_FALSE(form->Button3->isHidden());
  form->Button3->click();
  QApplication::processEvents();
  CopyImageSlot(1, 3);
  ASSERT_TRUE(ApplyNetworkFilter(1, 3, file, TWorkRect{0, 39, 0, 11}, 4.0));
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[3].Planes[1]);
  // A second computation starts from the source again.
  form->Button3->click();
  QApplication::processEvents();
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[3].Planes[1]);
  form->Button1->click();
  EXPECT_EQ(History(2), "Universeller Filter (Neuronales Netzwerk) [_soft], Skalierung 4.00");
  EXPECT_EQ(Network.Stride, 0);  // hiding the dialog freed the network
  area_->closeAllSubWindows();
  QApplication::processEvents();

  Run("UniversellerFilterNeuronalesNetzwerk1", file);
  ASSERT_TRUE(form->isVisible());
  EXPECT_GT(Network.Stride, 0);
  form->Button2->click();
  QApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(Network.Stride, 0);
  EXPECT_EQ(ImageWindow(2), nullptr);

  // A "_..." file that cannot be read: the message, no dialog, no result.
  area_->closeAllSubWindows();
  QApplication::processEvents();
  WriteText(dir_.file("_broken.nnf"), "x");
  Run("UniversellerFilterNeuronalesNetzwerk1", dir_.file("_broken.nnf"));
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(EngineUi().Messages.size(), 1u);
}

TEST_F(NetworkCommandsTest, SubmenusMirrorTheNetworkFolder) {
  const auto& root = dir_.path();
  std::filesystem::create_directories(root / "empty");
  std::filesystem::create_directories(root / "more");
  MakeZeroNetwork(11, 9, {0.1f, 0.1f, 0.1f, 0.1f});
  Write("X.NNF", WriteUniversalNetworkFile);
  Write("more/y.nnf", WriteUniversalNetworkFile);
  WriteText((root / "empty" / "note.txt").string(), "x");
  MakeZeroNetwork(3, 9);
  Write("big.nnw", WriteTwoTimesNetworkFile);
  Settings.NetworkFolder = root.string();
  ASSERT_TRUE(MainLink().BuildNetworkFilterMenu);
  MainLink().BuildNetworkFilterMenu();

  QAction* own = MainMenuItem("EigeneNNFilter1");
  ASSERT_TRUE(own && own->menu());
  EXPECT_TRUE(own->isVisible());  // two entries
  const QList<QAction*> entries = own->menu()->actions();
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[0]->text(), "X");
  EXPECT_EQ(entries[0]->data().toInt(), 1);
  ASSERT_NE(entries[1]->menu(), nullptr);
  EXPECT_EQ(entries[1]->text(), "more");
  ASSERT_EQ(entries[1]->menu()->actions().size(), 1);
  EXPECT_EQ(entries[1]->menu()->actions()[0]->data().toInt(), 1001);
  QAction* direct = MainMenuItem("Bildgrex2NNDirektwahl1");
  ASSERT_TRUE(direct->isVisible());
  ASSERT_EQ(direct->menu()->actions().size(), 1);
  EXPECT_EQ(direct->menu()->actions()[0]->text(), "big");

  // "X.NNF" opens as the listing found it.
  area_->setActiveSubWindow(Open(1, 40, 12));
  entries[0]->trigger();
  QApplication::processEvents();
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(History(2), "[X]");
  area_->setActiveSubWindow(ImageWindow(1));
  direct->menu()->actions()[0]->trigger();
  QApplication::processEvents();
  ASSERT_NE(ImageWindow(3), nullptr);
  EXPECT_EQ(Store.Image[3].Width, 80);
  EXPECT_EQ(History(3), "Bildgroesse x2 Neuronales Netzwerk");

  // Rebuilt with one network only: the submenu hides, the old entries are gone.
  std::filesystem::remove_all(root / "more");
  std::filesystem::remove(root / "big.nnw");
  BuildNetworkFilterMenu();
  EXPECT_FALSE(own->isVisible());
  EXPECT_EQ(own->menu()->actions().size(), 1);
  EXPECT_FALSE(direct->isVisible());
}

}  // namespace
}  // namespace astrelon::test
