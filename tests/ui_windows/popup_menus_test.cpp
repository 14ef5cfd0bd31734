// The pop-up menus of an image window, driven by right presses on a real window,
// with their prompts answered from a timer; the info windows of the statistics
// and the undo button.
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <cmath>
#include <memory>
#include <optional>

#include "common/engine_ui.h"
#include "core/language.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/display/renderer.h"
#include "shell/ui/dialogs/info_window.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/windows/image_window_commands.h"
#include "shell/ui/windows/pixel_menu.h"
#include "shell/ui/windows/region_menu.h"
#include "shell/undo/undo_store.h"
#include "store/color_models.h"
#include "store/ui/preview_control.h"
#include "window_fixture.h"

namespace astrelon::test {
namespace {

constexpr float B = BlankPixel;

class PopupMenusTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    UnloadLanguageFile();
    SetEngineUi(&ui_);
    RegisterImageWindowCommands();
    ClearUndoStore();
    LastFillValue = 0;
    InfoWindowPos = {};
    panel_ = new TSidePanel(main_.get());
    MainLink().Panel = panel_;
  }
  void TearDown() override {
    for (TForm15* f : InfoWindows()) delete f;
    MainLink().Panel = nullptr;
    MainLink().UndoLastStep = nullptr;
    TMDIChild::PixelMenuHook = nullptr;
    TMDIChild::RegionMenuHook = nullptr;
    UndoButtonHook = nullptr;
    ClearUndoStore();
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }

  TMDIChild* OpenImage(int slot, int w, int h, std::vector<std::vector<float>> planes,
                       const std::string& name = "/d/a.fit") {
    test::MakeImage(slot, w, h, planes, name);
    ResetDisplayRange(slot, 0);
    ShowImageWindow(slot);
    ActivateImageWindow(slot);
    return ImageWindow(slot);
  }
  static void RightPress(TMDIChild* w, QPoint pos) {
    Mouse(w, QEvent::MouseButtonPress, pos, Qt::RightButton, Qt::RightButton);
    Mouse(w, QEvent::MouseButtonRelease, pos, Qt::RightButton, Qt::NoButton);
  }
  static QStringList VisibleItems(QMenu* menu) {
    QStringList names;
    for (QAction* a : menu->actions())
      if (a->isVisible() && !a->isSeparator()) names << a->objectName();
    return names;
  }
  // Runs a menu item; each prompt gets the next answer (nullopt: Cancel).
  static void Trigger(QMenu* menu, const char* name, std::vector<std::optional<QString>> answers = {}) {
    const PromptAnswers typed(std::move(answers));
    ASSERT_NE(menu, nullptr);
    QAction* item = menu->findChild<QAction*>(name);
    ASSERT_NE(item, nullptr) << name;
    menu->hide();
    item->trigger();
  }
  static QMenu* PixelMenuAt(TMDIChild* w, QPoint pixel) {
    RightPress(w, pixel);
    return w->findChild<QMenu*>("PopupMenu1");
  }
  static std::vector<TForm15*> InfoWindows() {
    std::vector<TForm15*> forms;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* f = qobject_cast<TForm15*>(w)) forms.push_back(f);
    return forms;
  }
  static std::string History(int slot) { return HistoryText(slot); }
  static std::vector<float> Plane(int slot, int p) { return PlaneValues(slot, p); }

  TEngineUi ui_;
  TSidePanel* panel_ = nullptr;
};

TEST_F(PopupMenusTest, ItemsShownFollowThePixelTheImageAndTheSelection) {
  TMDIChild* grey = OpenImage(1, 20, 20, {std::vector<float>(400, 5)});
  Store.Image[1].Planes[1][0] = B;
  QMenu* menu = PixelMenuAt(grey, {5, 5});
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isVisible());
  EXPECT_EQ(VisibleItems(menu),
            (QStringList{"Pixelwertndern1", "PixelalsSchwarzwertnehmen1", "UmgebungalsSchwarzwertnehmen1",
                         "Werttransparentmachen1", "BMPindenZwischenspeicher1", "ZwischenspeicherzuBild1",
                         "Bildstatistik1"}));
  QGuiApplication::clipboard()->clear();
  menu->hide();
  PixelMenuAt(grey, {0, 0});  // the blank pixel
  QStringList blank = VisibleItems(menu);
  EXPECT_TRUE(blank.contains("TransparenzaufWert1") && blank.contains("TransparenzdurchNachbarpixelersetzen1") &&
              blank.contains("TransparenzdurchNachbarpixelinterpolieren1"));
  EXPECT_FALSE(blank.contains("Werttransparentmachen1"));
  EXPECT_FALSE(menu->findChild<QAction*>("ZwischenspeicherzuBild1")->isEnabled());
  OperationRunning = 1;
  menu->hide();
  PixelMenuAt(grey, {0, 0});
  EXPECT_FALSE(VisibleItems(menu).contains("TransparenzdurchNachbarpixelersetzen1"));
  EXPECT_FALSE(VisibleItems(menu).contains("TransparenzdurchNachbarpixelinterpolieren1"));
  OperationRunning = 0;
  menu->hide();

  // A colour image offers white and grey points; a selection adds "Markierungen ausblenden".
  TMDIChild* colour =
      OpenImage(2, 20, 20, {std::vector<float>(400, 1), std::vector<float>(400, 2), std::vector<float>(400, 3)});
  Drag(colour, {2, 2}, {8, 8});
  QGuiApplication::clipboard()->setImage(QImage(2, 2, QImage::Format_RGB32));
  QMenu* cm = PixelMenuAt(colour, {15, 15});
  EXPECT_EQ(VisibleItems(cm).mid(0, 8),
            (QStringList{"Pixelwertndern1", "Markierungenausblenden1", "PixelalsSchwarzwertnehmen1",
                         "PixelalsWeiwertnehmen1", "PixelalsGrauwertnehmenGammakorrektur1",
                         "UmgebungalsSchwarzwertnehmen1", "Umgebung15x15alsWeiwert1", "Umgebung15x15alsGrauwert1"}));
  EXPECT_TRUE(cm->findChild<QAction*>("ZwischenspeicherzuBild1")->isEnabled());
  cm->hide();

  // The region menu: the full menu on a selection, only hiding on a point marker.
  RightPress(colour, {5, 5});
  QMenu* region = colour->findChild<QMenu*>("PopupMenu2");
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(colour->MenuTarget, 1);
  EXPECT_EQ(VisibleItems(region),
            (QStringList{"Markierungausblenden1", "Werteauf01", "StatistikfrdenBereichanzeigen1"}));
  region->hide();
  Click(colour, {14, 14});
  RightPress(colour, {14, 14});
  EXPECT_EQ(VisibleItems(region), (QStringList{"Markierungausblenden1"}));
  Trigger(region, "Markierungausblenden1");
  EXPECT_FALSE(colour->Overlay().Image2.Visible);
  EXPECT_TRUE(colour->Overlay().Shape1.Visible);
}

TEST_F(PopupMenusTest, CaptionsComeFromTheTranslationFile) {
  // Section 10 [3.1] .. [3.14] the pixel menu in order, [3.15] .. [3.17] the
  // region menu, [3.18] the paste item.
  std::vector<std::string> entries;
  for (int i = 1; i <= 18; ++i) entries.push_back("[3." + std::to_string(i) + "]Item " + std::to_string(i));
  LoadLanguageFile(TranslationLines({{10, entries}}, 10));
  TMDIChild* w = OpenImage(1, 20, 20, {std::vector<float>(400, 5)});
  Drag(w, {2, 2}, {8, 8});
  QMenu* pixel = PixelMenu(*w);
  QMenu* region = RegionMenu(*w);
  QStringList captions;
  for (QMenu* menu : {pixel, region})
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) captions << a->text();
  EXPECT_EQ(captions, (QStringList{"Item 1", "Item 2", "Item 3", "Item 4", "Item 5", "Item 6", "Item 7", "Item 8",
                                   "Item 9", "Item 10", "Item 11", "Item 12", "Item 13", "Item 18", "Item 14",
                                   "Item 15", "Item 16", "Item 17"}));
  UnloadLanguageFile();
  // Without the file the German captions stand.
  TMDIChild* german = OpenImage(2, 20, 20, {std::vector<float>(400, 5)});
  EXPECT_EQ(PixelMenu(*german)->actions().front()->text(), QString::fromUtf8("&Pixelwert ändern"));
}

TEST_F(PopupMenusTest, BlackPointMovesValuesAndDisplayAlike) {
  TMDIChild* w = OpenImage(1, 3, 2, {{120, 130, B, 200, 150, 125}});
  TDisplayRecord& d = Store.Display[1];
  d.Black = 125;
  d.White = 185;
  for (int i = 0; i < 7; ++i) d.CurvePoints[size_t(i)].X = float(125 + 10 * i);
  Trigger(PixelMenuAt(w, {0, 0}), "PixelalsSchwarzwertnehmen1");
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{0, 10, B, 80, 30, 5}));
  EXPECT_EQ(d.Black, 5.0f);
  EXPECT_EQ(d.White, 65.0f);
  EXPECT_EQ(d.CurvePoints[3].X, 35.0f);
  EXPECT_EQ(History(1), "Pixel als Schwarzwert nehmen 120.000 subtrahiert");

  // Colour, in the YUV model: converted to RGB first.
  TMDIChild* c = OpenImage(2, 2, 1, {{10, 11}, {20, 22}, {30, 33}});
  RGBtoYUV(2);
  Trigger(PixelMenuAt(c, {0, 0}), "PixelalsSchwarzwertnehmen1");
  EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
  EXPECT_NEAR(Plane(2, 3)[1], 3.0f, 1e-4);
  EXPECT_NE(History(2).find("Pixel als Schwarzwert nehmen R: 10.000 G: 20.000 B: 30.000  subtrahiert"),
            std::string::npos);

  // The 15 x 15 mean at the corner of a 20 x 20 image averages its 8 x 8 pixels.
  std::vector<float> v(400);
  for (int i = 0; i < 400; ++i) v[size_t(i)] = float(i % 20 + i / 20);
  TMDIChild* g = OpenImage(3, 20, 20, {v});
  Trigger(PixelMenuAt(g, {0, 0}), "UmgebungalsSchwarzwertnehmen1");
  EXPECT_EQ(Plane(3, 1)[0], -7.0f);
  EXPECT_EQ(History(3), "Umgebung (15x15) als Schwarzwert 7.000 subtrahiert");
}

TEST_F(PopupMenusTest, WhiteAndGreyPointsMakeNewImages) {
  TMDIChild* w = OpenImage(1, 2, 1, {{50, 4}, {100, 4}, {200, B}});
  Trigger(PixelMenuAt(w, {0, 0}), "PixelalsWeiwertnehmen1");
  ASSERT_TRUE(SlotInUse(2) && ImageWindow(2));
  EXPECT_EQ((std::vector<float>{Plane(2, 1)[0], Plane(2, 2)[0], Plane(2, 3)[0]}), (std::vector<float>{96, 96, 96}));
  EXPECT_EQ(Plane(2, 3)[1], B);
  EXPECT_EQ(Plane(1, 1)[0], 50.0f);
  EXPECT_EQ(History(2), FoldToAscii("Pixel als Weißwert nehmen R: 1.920 G: 0.960 B: 0.480  multipliziert"));

  TMDIChild* c = OpenImage(3, 2, 1, {{50, 100}, {25, 100}, {75, 100}});
  Store.Display[3].Black = 0;
  Store.Display[3].White = 100;
  Trigger(PixelMenuAt(c, {0, 0}), "PixelalsGrauwertnehmenGammakorrektur1");
  ASSERT_TRUE(SlotInUse(4));
  for (int p = 1; p <= 3; ++p) EXPECT_NEAR(Plane(4, p)[0], 38.0f, 1e-4) << p;
  EXPECT_EQ(History(4), "Pixel als Grauwert (RGB Gammakorrektur)");
}

TEST_F(PopupMenusTest, RegionValueWithUndoAndRefusedEntries) {
  TMDIChild* w = OpenImage(1, 6, 6, {std::vector<float>(36, 3)});
  const std::string history = History(1);
  Drag(w, {1, 1}, {3, 2});
  QMenu* region = nullptr;
  auto open = [&] {
    RightPress(w, {2, 2});
    region = w->findChild<QMenu*>("PopupMenu2");
  };
  for (const char* refused : {"abc", "1e40", ""}) {
    open();
    Trigger(region, "Werteauf01", {QString(refused)});
    EXPECT_EQ(Plane(1, 1), std::vector<float>(36, 3)) << refused;
  }
  EXPECT_EQ(ui_.Messages.size(), 3u);
  EXPECT_TRUE(UndoList.empty());
  EXPECT_FALSE(panel_->SpeedButton3->isEnabled());

  open();
  Trigger(region, "Werteauf01", {"-1e11"});
  EXPECT_EQ(Plane(1, 1)[6 + 1], B);
  EXPECT_EQ(Plane(1, 1)[12 + 3], B);
  EXPECT_EQ(Plane(1, 1)[12 + 4], 3.0f);
  EXPECT_EQ(UndoList.size(), 1u);
  EXPECT_EQ(History(1), history);  // no history card
  EXPECT_EQ(LastFillValue, -1e11);
  EXPECT_TRUE(panel_->SpeedButton3->isEnabled());
  open();
  Trigger(region, "Werteauf01", {"2,5"});
  EXPECT_EQ(Plane(1, 1)[6 + 2], 2.5f);

  panel_->SpeedButton3->click();
  EXPECT_EQ(Plane(1, 1)[6 + 2], B);
  panel_->SpeedButton3->click();
  EXPECT_EQ(Plane(1, 1), std::vector<float>(36, 3));
  EXPECT_FALSE(panel_->SpeedButton3->isEnabled());
}

TEST_F(PopupMenusTest, StatisticsWindowsCascade) {
  TMDIChild* w = OpenImage(1, 2, 2, {{1, 2, 3, 4}}, "/data/a.fit");
  Trigger(PixelMenuAt(w, {0, 0}), "Bildstatistik1");
  QApplication::processEvents();
  ASSERT_EQ(InfoWindows().size(), 1u);
  TForm15* first = InfoWindows()[0];
  EXPECT_TRUE(first->isVisible());
  const QStringList lines = first->Memo1->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 8);
  EXPECT_EQ(lines[0], " a.fit");
  EXPECT_EQ(lines[1], " ");
  EXPECT_EQ(lines[2], " Mittelwert     : 2.5");
  EXPECT_EQ(lines[4], " Std.Abweichung : 1.118034");
  EXPECT_EQ(lines[7], " Pixelanzahl    : 4");
  EXPECT_EQ(first->Button1->y(), first->Memo1->height() + 4);

  Trigger(PixelMenuAt(w, {1, 1}), "Bildstatistik1");
  QApplication::processEvents();
  ASSERT_EQ(InfoWindows().size(), 2u);
  TForm15* second = InfoWindows()[0] == first ? InfoWindows()[1] : InfoWindows()[0];
  EXPECT_EQ(second->pos(), first->pos() + QPoint(20, 4));
  // "Ok" closes a window; the next one opens in its place.
  const QPoint place = second->pos();
  second->Button1->click();
  QApplication::processEvents();
  EXPECT_EQ(InfoWindows().size(), 1u);
  TMDIChild* w2 = OpenImage(2, 4, 4, {std::vector<float>(16, 1)});
  Drag(w2, {0, 0}, {1, 1});
  RightPress(w2, {1, 1});
  Trigger(w2->findChild<QMenu*>("PopupMenu2"), "StatistikfrdenBereichanzeigen1");
  QApplication::processEvents();
  ASSERT_EQ(InfoWindows().size(), 2u);
  TForm15* third = InfoWindows()[0] == first ? InfoWindows()[1] : InfoWindows()[0];
  EXPECT_EQ(third->pos(), place);
  EXPECT_TRUE(third->Memo1->toPlainText().contains("[X1: 0, X2: 1, Y1: 0, Y2: 1]"));
}

TEST_F(PopupMenusTest, TransparencyChangedPixelsAndTheClipboard) {
  // "Wert transparent machen" on colour needs all three planes equal.
  TMDIChild* c = OpenImage(1, 3, 1, {{1, 1, 2}, {5, 6, 5}, {9, 9, 9}});
  Trigger(PixelMenuAt(c, {0, 0}), "Werttransparentmachen1");
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{B, 1, 2}));
  Trigger(PixelMenuAt(c, {0, 0}), "TransparenzaufWert1", {"4", "0,5", "6"});
  EXPECT_EQ((std::vector<float>{Plane(1, 1)[0], Plane(1, 2)[0], Plane(1, 3)[0]}), (std::vector<float>{4, 0.5f, 6}));
  EXPECT_EQ(History(1), "Transparenz auf Wert");
  // A colour pixel changed plane by plane; the first cancel ends the series.
  Trigger(PixelMenuAt(c, {2, 0}), "Pixelwertndern1", {"7", std::nullopt});
  EXPECT_EQ(Plane(1, 1)[2], 7.0f);
  EXPECT_EQ(Plane(1, 2)[2], 5.0f);

  // A grey colour-mosaic image: its blank pixel from the same-colour neighbours.
  std::vector<float> v(25, 100);
  const int ring[8][2] = {{0, 0}, {2, 0}, {4, 0}, {0, 2}, {4, 2}, {0, 4}, {2, 4}, {4, 4}};
  for (int k = 0; k < 8; ++k) v[size_t(ring[k][1] * 5 + ring[k][0])] = float(k + 1);
  v[12] = B;
  TMDIChild* g = OpenImage(2, 5, 5, {v});
  Trigger(PixelMenuAt(g, {2, 2}), "TransparenzdurchNachbarpixelersetzen1");
  ASSERT_TRUE(SlotInUse(3));
  EXPECT_EQ(Plane(3, 1)[12], 4.5f);
  EXPECT_EQ(Plane(2, 1)[12], B);
  // The same pixel from its four direct neighbours (100 each).
  Trigger(PixelMenuAt(g, {2, 2}), "TransparenzdurchNachbarpixelinterpolieren1");
  ASSERT_TRUE(SlotInUse(4) && ImageWindow(4));
  EXPECT_EQ(Plane(4, 1)[12], 100.0f);
  EXPECT_FALSE(ImageWindow(4)->BorderIconsLocked());

  // The picture copied at full size and pasted back gives the rendered levels.
  std::vector<float> ramp(16);
  for (int i = 0; i < 16; ++i) ramp[size_t(i)] = float(i * 17);
  TMDIChild* r = OpenImage(5, 4, 4, {ramp});
  Store.Display[5].ZoomPercent = 50;
  RedrawWindowZoom(5);
  Trigger(PixelMenuAt(r, {0, 0}), "BMPindenZwischenspeicher1");
  TDisplayBitmap bitmap;
  ASSERT_TRUE(RenderSlotBitmap(5, 100, bitmap));
  const QImage rendered = BitmapImage(bitmap);
  Trigger(PixelMenuAt(r, {0, 0}), "ZwischenspeicherzuBild1");
  const int pasted = 6;
  ASSERT_TRUE(SlotInUse(pasted));
  ASSERT_EQ(Store.Image[pasted].Width, 4);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(Store.Image[pasted].Planes[1][size_t(i)], float(qRed(rendered.pixel(i % 4, i / 4)))) << i;
}

}  // namespace
}  // namespace astrelon::test
