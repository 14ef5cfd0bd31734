// The dialog's computations without a window: the state of "&Berechnen" after a
// computation, previews that arrive while one runs, the computed record and the
// history texts of "&Ok".
#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "core/funktion_defs.h"
#include "filter_images.h"
#include "filters/dialog/filter_dialog_session.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/filter_state.h"
#include "test_support.h"

namespace astrelon {
namespace {

struct TFakeDialog : TFilterDialogLink {
  bool CheckBoxChecked(int k) const override { return Checked[size_t(k)]; }
  int32_t RadioIndex(int group) const override { return Radio[size_t(group)]; }
  std::string RadioCaption(int group) const override { return "Gruppe" + std::to_string(group); }
  std::string RadioItem(int group, int index) const override { return index == 1 ? "Relativ" : "Absolut"; }
  bool Button3Visible() const override { return Visible; }
  bool Button3Enabled() const override { return Enabled; }
  void SetButton3Enabled(bool on) override { Enabled = on; }
  void SetButton3Computing(bool computing) override { Computing = computing; }
  void SetOkAbbruchEnabled(bool on) override { OkEnabled = on; }
  std::string Caption() const override { return "Zeilen gleichhell"; }
  void Redraw(int slot) override { ++Redraws; }

  std::array<bool, 3> Checked{};
  std::array<int32_t, 4> Radio{-1, -1, -1, -1};
  bool Visible = true, Enabled = true, Computing = false, OkEnabled = true;
  int Redraws = 0;
};

class FilterSessionTest : public test::StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    FunktionDefTable = DefaultFunktionDefTable();
    test::MakeGrey(1, 8, 6, [](int x, int y) { return float(x + 10 * y); });
    test::MakeResult(1, 2);
    FilterSession = {};
    FilterSession.Source = 1;
    FilterSession.Destination = 2;
    ComputationDone = 1;
    AbortRequested = 0;
    MovedWhileBusy = false;
    InvalidateFilterBlur();
  }
  void TearDown() override {
    InstallFilterFunktionen();  // the program's entries again
    FilterSession = {};
    SetEngineUi(nullptr);
    AbortRequested = 0;
    StoreTest::TearDown();
  }
  TFakeDialog dialog;
};

TEST_F(FilterSessionTest, ComputeButtonAfterAComputation) {
  FunktionNr = 8;
  struct Case {
    bool Abort, Moved, Visible, BlurValid;
    bool SameRadius;  // the cache holds the radius of the current slider 1 value
    bool Enabled;
  };
  const Case cases[] = {
      {true, false, true, false, false, true},    // aborted: compute again
      {false, false, true, false, false, false},  // nothing moved: done
      {false, true, false, false, false, false},  // hidden button
      {false, true, true, false, false, true},    // moved, no cache
      {false, true, true, true, true, false},     // moved back to the cached radius
      {false, true, true, true, false, true},
  };
  for (const Case& c : cases) {
    TFilterFunktion f;
    f.Run = [&](TFilterCall&) {
      if (c.Abort) AbortRequested = 1;
      if (c.Moved) MovedWhileBusy = true;  // a slider moved while it ran
      EXPECT_EQ(ComputationDone, 0);
    };
    RegisterFilterFunktion(8, f);
    dialog.Visible = c.Visible;
    FilterBlurValid = c.BlurValid;
    FilterBlurRadius = c.SameRadius ? FunktionParamValue(8, 1) : 2.0f;
    FunktionAusfuehren(dialog);
    EXPECT_EQ(dialog.Enabled, c.Enabled) << c.Abort << c.Moved << c.Visible << c.BlurValid << c.SameRadius;
    EXPECT_EQ(FilterSession.Record.Computed, !c.Abort);
    EXPECT_TRUE(dialog.OkEnabled);
    EXPECT_EQ(ComputationDone, 1);
    if (c.Abort) {
      EXPECT_EQ(FilterBlurRadius, -1.0f);
    }
    AbortRequested = 0;
  }
}

TEST_F(FilterSessionTest, PreviewsDoNotNest) {
  FunktionNr = 15;
  int runs = 0, depth = 0, maxDepth = 0;
  TFilterFunktion f;
  f.Run = [&](TFilterCall& call) {
    ++runs;
    maxDepth = std::max(maxDepth, ++depth);
    // Two requests while the first run processes events: one more run follows.
    if (runs == 1) {
      RequestFilterPreview(dialog);
      RequestFilterPreview(dialog);
      EXPECT_FALSE(call.Poll->Continue(1, 0));  // the run sees it is outdated
    }
    --depth;
  };
  RegisterFilterFunktion(15, f);
  RequestFilterPreview(dialog);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_TRUE(FilterSession.Record.Computed);
  EXPECT_EQ(dialog.Redraws, 1);  // only the current run draws
  EXPECT_FALSE(FilterSession.PreviewRunning);
}

TEST_F(FilterSessionTest, HistoryTextsOfTheRecordedComputation) {
  FunktionNr = 15;
  FilterSession.Record.ValueText = {"50.0", "", ""};
  FilterSession.Record.Radio = -1;
  EXPECT_EQ(FilterHistoryTexts(15, FilterSession.Record, dialog), std::vector<std::string>{"Richtwert 50.0"});
  FilterSession.Record.Radio = 1;
  FilterSession.Record.SelectionUsed = true;
  FilterSession.Record.Selection = {2, 1, 6, 4};
  EXPECT_EQ(FilterHistoryTexts(15, FilterSession.Record, dialog),
            (std::vector<std::string>{"Richtwert 50.0", "Relativ", "[X1: 2, X2: 6, Y1: 1, Y2: 4]."}));
  // Function 8: three sliders and its check box when it was checked.
  FilterSession.Record = {};
  FilterSession.Record.ValueText = {"1.40", "1.00", "10.0"};
  FilterSession.Record.Checked = {true, false};
  EXPECT_EQ(FilterHistoryTexts(8, FilterSession.Record, dialog),
            (std::vector<std::string>{"Radius 1.40", "Untere Schwelle 1.00", "Sterne ausblenden 10.0",
                                      "Nur horizontal"}));

  WriteFilterHistory(2, "Zeilen gleichhell", {"Richtwert 50.0", "[X1: 2, X2: 6, Y1: 1, Y2: 4]."});
  const auto cards = Store.Header[2].ActiveCards();
  const std::string& card = cards[cards.size() - 2];
  EXPECT_EQ(card.substr(0, card.find_last_not_of(' ') + 1),
            "HISTORY Zeilen gleichhell, Richtwert 50.0, [X1: 2, X2: 6, Y1: 1, Y2: 4].");
  EXPECT_EQ(Store.NewHistoryCard[2], 1);
}

TEST_F(FilterSessionTest, PreviewComputesTheFunctionOnTheSelection) {
  FunktionNr = 15;
  dialog.Visible = false;
  FunktionDefTable[15].Trackbar[0].Position = 0.0f;  // row minimum
  RequestFilterPreview(dialog);
  ASSERT_TRUE(FilterSession.Record.Computed);
  EXPECT_EQ(FilterSession.Record.ValueText[0], "0.00");
  // Every row minimum (column 0) now lies on the mean of the minima.
  for (int y = 0; y < 6; ++y) EXPECT_NEAR(Store.Image[2].At(1, 0, y), 25.0f, 1e-4) << y;
}

}  // namespace
}  // namespace astrelon
