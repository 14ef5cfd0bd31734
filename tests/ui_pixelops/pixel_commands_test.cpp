// The pixel-arithmetic, crop, stray-pixel and half-frame commands run from the
// menu on real image windows, with their prompts answered from a timer.
#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

// The main window and image-window fixture of the image-window tests.
#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/pixels/pixel_arithmetic_commands.h"
#include "pixelops/ui/pixels/value_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class PixelCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    LastValues = TLastValues{};
    SetEngineUi(&ui_);
    RegisterPixelArithmeticCommands();
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }

  // An image in a window, made the active one: grey from one plane, RGB from three.
  void OpenImage(int slot, int w, int h, std::initializer_list<std::vector<float>> planes,
            const std::string& name = "/d/m42.fit") {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = int(planes.size());
    im.IsColor = planes.size() == 3;
    int p = 1;
    for (const auto& v : planes) im.Planes[size_t(p++)].assign(v.begin(), v.end());
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = name;
    MakeDefaultHeader(slot);
    ResetDisplayRange(slot, 0);
    ShowImageWindow(slot);
    ActivateImageWindow(slot);
  }
  // A selection in the window at 100 % (inclusive image pixels).
  static void Select(int slot, int x1, int y1, int x2, int y2) {
    TMDIChild* w = ImageWindow(slot);
    w->Overlay().Shape1.Visible = true;
    w->Overlay().Shape1.Bounds = QRect(QPoint(x1, y1), QPoint(x2, y2));
  }

  // Runs a command from an item with its caption; each prompt gets the next
  // answer (nullopt: Cancel). The prompts shown are collected.
  std::vector<QString> Run(const char* name, const char* caption, std::vector<std::optional<QString>> answers) {
    const PromptAnswers typed(std::move(answers));
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
    return typed.Prompts();
  }

  // The texts of the slot's history cards, "|" between cards.
  static std::string History(int slot) { return HistoryText(slot); }
  static std::vector<float> Plane(int slot, int p) { return PlaneValues(slot, p); }

  TEngineUi ui_;
};

TEST_F(PixelCommandsTest, AddingAsksPerPlaneAndMovesTheDisplayOfTheWholeImage) {
  OpenImage(1, 2, 2, {{1, 2, 3, BlankPixel}, {1, 2, 3, 4}, {1, 2, 3, 4}});
  const auto prompts = Run("Wertaddieren1", "Wert &addieren", {"10", "0", "-5"});
  EXPECT_EQ(prompts, (std::vector<QString>{"Rot:", "Grün:", "Blau:"}));
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{11, 12, 13, BlankPixel}));
  EXPECT_EQ(Plane(1, 3), (std::vector<float>{-4, -3, -2, -1}));
  EXPECT_EQ(CountOpenWindows(), 1);  // in place
  EXPECT_EQ(History(1), FoldToAscii("Wert addieren Rot:10 Grün:0 Blau:-5"));
  EXPECT_EQ(Store.Image[1].MaxValue, 13);
  EXPECT_EQ(RecentFunctionCaption(0), "Wert addieren");
  EXPECT_EQ(LastValues.Added, (std::array<double, 3>{10, 0, -5}));
  // The planes of an image in the YUV model are named Y, U and V and changed as they are.
  Store.Image[1].ColorModel = CmYuv;
  EXPECT_EQ(Run("Wertaddieren1", "Wert &addieren", {"1", "2", "3"}), (std::vector<QString>{"Y:", "U:", "V:"}));
  EXPECT_EQ(Plane(1, 2), (std::vector<float>{3, 4, 5, 6}));
  EXPECT_EQ(History(1), FoldToAscii("Wert addieren Rot:10 Grün:0 Blau:-5|Wert addieren Y:1 U:2 V:3"));

  // A grey image gets one prompt "Wert:"; on the whole image the display moves
  // with the values, on a selection it stays.
  OpenImage(2, 4, 4, {std::vector<float>(16, 1.0f)});
  Store.Image[2].Planes[1][15] = 9;
  ResetDisplayRange(2, 0);
  EXPECT_EQ(Run("Wertaddieren1", "Wert &addieren", {"10"}), (std::vector<QString>{"Wert:"}));
  EXPECT_EQ(Store.Display[2].Black, 11);
  EXPECT_EQ(Store.Display[2].White, 19);
  Select(2, 1, 1, 2, 2);
  EXPECT_EQ(Run("Wertaddieren1", "Wert &addieren", {"2,5"}), (std::vector<QString>{"Wert:"}));
  EXPECT_EQ(Plane(2, 1)[5], 13.5f);
  EXPECT_EQ(Plane(2, 1)[0], 11.0f);
  EXPECT_EQ(Store.Display[2].Black, 11);
  EXPECT_EQ(History(2), "Wert addieren 10|Wert addieren 2,5");
}

TEST_F(PixelCommandsTest, MultiplyPromptsAndCancelClosesTheResult) {
  OpenImage(1, 2, 1, {{1, 2}, {3, 4}, {5, 6}});
  const auto prompts = Run("Wertmultiplizieren1", "Wert &multiplizieren", {"2", std::nullopt});
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0], "Faktor (Fließkomma):\nRot:");
  EXPECT_EQ(prompts[1], "Faktor (Fließkomma):\nGrün:");
  EXPECT_EQ(CountOpenWindows(), 1);
  EXPECT_EQ(SlotPair.Destination, -1);
  EXPECT_EQ(LastValues.Factors[0], 2.0);  // a confirmed value stays
  EXPECT_EQ(RecentFunctionCaption(0), "Wert multiplizieren");

  Run("Wertmultiplizieren1", "Wert &multiplizieren", {"3", "0.5", "-1"});
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{3, 6}));
  EXPECT_EQ(Plane(2, 2), (std::vector<float>{1.5f, 2}));
  EXPECT_EQ(Plane(2, 3), (std::vector<float>{-5, -6}));
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{1, 2}));  // the source stays
  EXPECT_EQ(History(2), FoldToAscii("Wert multiplizieren Rot:3 Grün:0.5 Blau:-1"));
  EXPECT_EQ(Store.Image[2].MinValue, -6);

  // Dividing a grey image: one prompt, the factor 1 / d.
  OpenImage(3, 2, 1, {{3, 6}});
  EXPECT_EQ(Run("Wertdividieren1", "Wert dividieren", {"4"}), (std::vector<QString>{"Divisor (Fließkomma):"}));
  EXPECT_EQ(Plane(4, 1), (std::vector<float>{0.75f, 1.5f}));
  EXPECT_EQ(History(4), "Wert dividieren 4");
}

TEST_F(PixelCommandsTest, RefusedEntriesChangeNothing) {
  OpenImage(1, 2, 1, {{1, 2}});
  for (const char* text : {"", "abc", "1e999", "nan"}) {
    ui_.Messages.clear();
    Run("Wertmultiplizieren1", "Wert &multiplizieren", {QString(text)});
    EXPECT_EQ(CountOpenWindows(), 1) << text;
    ASSERT_EQ(ui_.Messages.size(), 1u) << text;
    EXPECT_NE(ui_.Messages[0].find("kein gültiger Gleitkommawert"), std::string::npos);
  }
  EXPECT_EQ(LastValues.Factors[0], 1.0);
  // A divisor 0 (also one that is 0 as a float), a value beyond the float range.
  for (const char* text : {"0", "1e-50"}) {
    ui_.Messages.clear();
    Run("Wertdividieren1", "Wert dividieren", {QString(text)});
    EXPECT_EQ(CountOpenWindows(), 1) << text;
    EXPECT_EQ(ui_.Messages.size(), 1u) << text;
  }
  ui_.Messages.clear();
  Run("Wertaddieren1", "Wert &addieren", {"1e40"});
  Run("UntereGrenzefestlegen1", "Wertebereich &unten begrenzen", {"x"});
  EXPECT_EQ(ui_.Messages.size(), 2u);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{1, 2}));
  EXPECT_EQ(History(1), "");
  EXPECT_EQ(CountOpenWindows(), 1);
}

TEST_F(PixelCommandsTest, ClampsKeepATypedLimitWhenNoSlotIsFree) {
  // Without an image the prompt shows all the same.
  EXPECT_EQ(Run("ObereGrenzefestlegen1", "Wertebereich &oben begrenzen", {"100"}),
            (std::vector<QString>{"(größere Werte -> Wert)"}));
  EXPECT_EQ(LastValues.UpperLimit, 100);
  OpenImage(1, 3, 1, {{-5, 3, 70000}});
  for (int s = 2; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  EXPECT_EQ(Run("UntereGrenzefestlegen1", "Wertebereich &unten begrenzen", {"7"}),
            (std::vector<QString>{"(kleinere Werte -> Wert)"}));
  EXPECT_EQ(LastValues.LowerLimit, 7);
  EXPECT_TRUE(ui_.Messages.empty());
  EXPECT_EQ(RecentFunctionCaption(0), "Wertebereich unten begrenzen");
  for (int s = 2; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;
  EXPECT_EQ(Run("UntereGrenzefestlegen1", "Wertebereich &unten begrenzen", {std::nullopt}).size(), 1u);
  EXPECT_EQ(CountOpenWindows(), 1);
  Run("UntereGrenzefestlegen1", "Wertebereich &unten begrenzen", {"0"});
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{0, 3, 70000}));
  EXPECT_EQ(History(2), "Wertebereich unten begrenzen 0");
  ActivateImageWindow(1);
  Run("ObereGrenzefestlegen1", "Wertebereich &oben begrenzen", {"32767"});
  EXPECT_EQ(Plane(3, 1), (std::vector<float>{-5, 3, 32767}));
}

TEST_F(PixelCommandsTest, FunctionsWithoutPromptMakeAResult) {
  struct Case {
    const char *name, *caption, *history;
    std::vector<float> expect;
  };
  OpenImage(1, 4, 1, {{-4, 2.5f, 9, BlankPixel}});
  int slot = 2;
  for (const Case& c : {Case{"Wurzelziehen1", "&Wurzel ziehen", "Wurzel ziehen", {0, std::sqrt(2.5f), 3, BlankPixel}},
                        Case{"Wertequadrieren1", "Werte &quadrieren", "Werte quadrieren", {16, 6.25f, 81, BlankPixel}},
                        Case{"Werteaufrunden1", "Werte run&den", "Werte runden", {-4, 2, 9, BlankPixel}}}) {
    ActivateImageWindow(1);
    EXPECT_TRUE(Run(c.name, c.caption, {}).empty());
    ASSERT_TRUE(Store.HasWindow[size_t(slot)]) << c.name;
    EXPECT_EQ(Plane(slot, 1), c.expect) << c.name;
    EXPECT_EQ(History(slot), c.history);
    EXPECT_EQ(RecentFunctionCaption(0), c.history);
    ++slot;
  }
  // Moving toward 0: the plain input box, the whole image despite a selection;
  // Cancel means 1.0; not a recent function.
  ActivateImageWindow(1);
  Select(1, 0, 0, 1, 0);
  const auto prompts = Run("Pixelwertenheran0bringen1", "Pixelwerte nach 0 verschieben", {std::nullopt});
  EXPECT_EQ(prompts, (std::vector<QString>{"Um Wieviel:"}));
  EXPECT_EQ(Plane(slot, 1), (std::vector<float>{-3, 1.5f, 8, BlankPixel}));
  EXPECT_EQ(History(slot), "Pixelwerte nach 0 verschieben");
  EXPECT_EQ(RecentFunctionCaption(0), "Werte runden");
}

TEST_F(PixelCommandsTest, CropCutsTheSelectionIntoANewWindow) {
  std::vector<float> v(30 * 20);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i);
  OpenImage(1, 30, 20, {v});
  Store.Image[1].JpegQuality = 85;
  Select(1, 10, 5, 20, 15);
  Run("Ausschneiden1", "Ausschneiden", {});
  ASSERT_TRUE(Store.HasWindow[2]);
  const TImageSlot& d = Store.Image[2];
  EXPECT_EQ(d.Width, 11);
  EXPECT_EQ(d.Height, 11);
  EXPECT_EQ(d.At(1, 0, 0), 5 * 30 + 10);
  EXPECT_EQ(d.At(1, 10, 10), 15 * 30 + 20);
  EXPECT_EQ(d.JpegQuality, -1);
  EXPECT_EQ(d.JpegFileSize, 0);
  EXPECT_EQ(GetHeaderValue(2, "NAXIS1", true), "11");
  EXPECT_EQ(History(2), "Ausschnitt [X1: 10, X2: 20, Y1: 5, Y2: 15]");
  EXPECT_EQ(Store.FileName[2], "/d/m42_2.fit");
  EXPECT_EQ(d.MaxValue, 470);
  EXPECT_EQ(RecentFunctionCaption(0), "");
  // Without a selection the whole image is cut.
  ActivateImageWindow(1);
  ImageWindow(1)->Overlay().Shape1.Visible = false;
  Run("Ausschneiden1", "Ausschneiden", {});
  EXPECT_EQ(Store.Image[3].Width, 30);
}

TEST_F(PixelCommandsTest, StrayPixelsAndHalfFramesMakeNewImages) {
  std::vector<float> v(12 * 10, 100.0f);
  v[40] = 1000;
  OpenImage(1, 12, 10, {v});
  Run("Strpixelausblenden1", "&Störpixel entfernen", {});
  EXPECT_EQ(Plane(2, 1), std::vector<float>(120, 100.0f));
  EXPECT_EQ(Plane(1, 1)[40], 1000);
  EXPECT_EQ(History(2), FoldToAscii("Störpixel entfernen"));
  EXPECT_EQ(RecentFunctionCaption(0), "Störpixel entfernen");

  OpenImage(3, 2, 5, {{0, 0, 1, 1, 2, 2, 3, 3, 4, 4}}, "/d/m42.fit");
  Run("i1", "In Halbbilder &aufteilen, halbe Höhe", {});
  ASSERT_TRUE(Store.HasWindow[4] && Store.HasWindow[5]);
  EXPECT_EQ(Store.FileName[4], "/d/Halbbild1_m42.fit");
  EXPECT_EQ(Store.FileName[5], "/d/Halbbild2_m42.fit");
  EXPECT_EQ(Plane(4, 1), (std::vector<float>{0, 0, 2, 2}));
  EXPECT_EQ(Plane(5, 1), (std::vector<float>{1, 1, 3, 3}));
  EXPECT_EQ(History(4), "");
  EXPECT_EQ(Store.Image[3].Height, 5);
  EXPECT_EQ(RecentFunctionCaption(0), "In Halbbilder aufteilen, halbe Höhe");

  ActivateImageWindow(3);
  Run("InHalbbilderaufteilen1", "In Halbbilder &aufteilen, Zwischenwerte interpolieren", {});
  ASSERT_TRUE(Store.HasWindow[6] && Store.HasWindow[7]);
  EXPECT_EQ(Store.Image[6].Height, 5);
  EXPECT_EQ(Store.FileName[7], "/d/Halbbild2_m42.fit");
  EXPECT_EQ(Plane(6, 1)[0], 0);
  EXPECT_EQ(Plane(7, 1)[2], 1);  // row 1 of field 2 kept
}

}  // namespace
}  // namespace astrelon::test
