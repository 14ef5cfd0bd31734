// Every shift, experimental, enlargement and network-filter command that ran
// puts its menu item on top of "Letzte Funktionen".
#include <QMenuBar>

#include "../filters/network_test_nets.h"
#include "filter_dialog_fixture.h"
#include "filters/ui/enlargement_commands.h"
#include "filters/ui/network/network_commands.h"
#include "filters/ui/network/network_filter_menu.h"
#include "filters/ui/shift_commands.h"
#include "shell/main/main_services.h"
#include "qt_test_app.h"
#include "shell/ui/menu/main_menu.h"

namespace astrelon::test {
namespace {

class RecentFunctionsTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    RegisterShiftCommands();
    RegisterEnlargementCommands();
    RegisterNetworkCommands();
    BuildMainMenu(main_->menuBar(), main_.get());
    saved_ = {ChooseNetworkFile, AutoscanSeed, MainLink().SetStatusText};
    AutoscanSeed = [] { return uint64_t(3); };
    // The two parameter searches run until Esc: the first figures they report end them.
    MainLink().SetStatusText = [](int, const QString& text) {
      if (text.startsWith("RMS=")) AbortRequested = 1;
    };
  }
  void TearDown() override {
    std::tie(ChooseNetworkFile, AutoscanSeed, MainLink().SetStatusText) = saved_;
    Network = TNetworkWeights{};
    Settings.NetworkFolder.clear();
    FilterDialogTest::TearDown();
  }
  TempDir dir_;
  std::tuple<decltype(ChooseNetworkFile), decltype(AutoscanSeed), decltype(MainLink().SetStatusText)> saved_;
};

TEST_F(RecentFunctionsTest, EachCommandThatRanIsOnTop) {
  MakeZeroNetwork(3, 9);
  ASSERT_TRUE(WriteTwoTimesNetworkFile(dir_.file("zero.nnw"), Network));
  MakeZeroNetwork(11, 9, {0.1f, 0.1f, 0.1f, 0.1f});
  ASSERT_TRUE(WriteUniversalNetworkFile(dir_.file("soft.nnf"), Network));
  Settings.NetworkFolder = dir_.path().string();
  BuildNetworkFilterMenu();
  // The first entry of a submenu the network folder fills.
  const auto entry = [](const char* submenu) -> QAction* {
    QAction* menu = MainMenuItem(submenu);
    return menu && menu->menu() && menu->menu()->actions().size() == 1 ? menu->menu()->actions()[0] : nullptr;
  };
  QString chosen;
  ChooseNetworkFile = [&](const QString&) { return chosen; };

  enum class TImages { One, TwiceAsLargeOriginal, SameSizeOriginal };
  const struct {
    const char* Item;  // a main-menu item, or "" for the entry of the submenu `Network`
    std::vector<std::optional<QString>> Answers;
    TImages Images = TImages::One;
    const char* Network = "";  // the network file chosen, or the submenu
  } cases[] = {
      {"VSchrfung1", {QString("1.0"), QString("1.0")}},
      {"BildabhngigesVSchrfen1", {QString("1.5"), QString("0.4")}},
      {"CFilter1", {QString("0.0"), QString("0"), QString("0.0"), QString("0.0")}},
      {"extAAFilter1", {}},
      {"RadiusisoFunktion1", {}},
      {"Filtercoeffberechnen1", {}, TImages::TwiceAsLargeOriginal, "zero.nnw"},
      {"dsincvschrfenbesteMSEermitteln1", {}, TImages::SameSizeOriginal},
      {"esteVerschiebungsfindung1", {QString("1.5"), QString("7.25"), QString("1"), QString("0.6")}},
      {"Bildgrex2NeuronalesNetzwerk1", {QString("1"), QString("10"), QString("10")}},
      {"UniversellerFilterNeuronalesNetzwerk1", {}, TImages::One, "soft.nnf"},
      {"Bildgrex2triangulation1", {}},
      {"", {}, TImages::One, "EigeneNNFilter1"},
      {"", {}, TImages::One, "Bildgrex2NNDirektwahl1"},
  };
  const std::string nedi = StripAccelerators(MainMenuItem("Bildgrex2spline1")->text().toStdString());
  for (const auto& c : cases) {
    area_->closeAllSubWindows();
    QApplication::processEvents();
    EngineUi().Messages.clear();
    if (c.Images == TImages::TwiceAsLargeOriginal) Open(2, 48, 40);
    if (c.Images == TImages::SameSizeOriginal) Open(2, 24, 20);
    area_->setActiveSubWindow(Open(1, 24, 20));
    chosen = *c.Item && *c.Network ? QString::fromStdString(dir_.file(c.Network)) : QString();
    // Another command on top first, so that each case has to move its own item up.
    AddRecentFunction(MainMenuItem("Bildgrex2spline1"));
    QAction* item = *c.Item ? MainMenuItem(c.Item) : entry(c.Network);
    ASSERT_NE(item, nullptr) << c.Item << c.Network;
    {
      PromptAnswers answers(c.Answers);
      if (*c.Item)
        ASSERT_TRUE(RunMenuCommand(c.Item, item));
      else
        item->trigger();
      QApplication::processEvents();
      EXPECT_EQ(answers.Prompts().size(), c.Answers.size()) << c.Item;
    }
    EXPECT_EQ(EngineUi().Messages, std::vector<std::string>{}) << c.Item;
    EXPECT_EQ(RecentFunctionCaption(0).toStdString(), StripAccelerators(item->text().toStdString())) << c.Item;
    EXPECT_EQ(RecentFunctionCaption(1).toStdString(), nedi) << c.Item;
    AbortRequested = 0;
  }
}

}  // namespace
}  // namespace astrelon::test
