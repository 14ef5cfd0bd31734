// The main window: its menu tree and enable rules, the tool bar's commands and
// lists, the side panel's fields, the status line and the translation.
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/startup.h"
#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/language.h"
#include "core/packed_params.h"
#include "core/settings.h"
#include "qt_test_app.h"
#include "shell/display/user_palette.h"
#include "shell/main/main_texts.h"
#include "shell/stamps/stamp_size.h"
#include "shell/ui/dialogs/hidden_menu_items.h"
#include "shell/ui/main/main_status_bar.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/main_menu_table.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/qt_translations.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/tool_bar/picture_button.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetImageWindowState();
    LanguageSearchFolders = {languages_.path().string()};
    RegisterMainWindowCommands();
  }
  void Start() {
    main_ = std::make_unique<TMainForm>(std::vector<std::string>{});
    SetEngineUi(&ui_);
    main_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    if (main_) {
      main_->MdiArea->closeAllSubWindows();
      QApplication::processEvents();
      main_.reset();
    }
    QApplication::processEvents();
    SetEngineUi(nullptr);
    LanguageSearchFolders.clear();
    UnloadLanguageFile();
    HiddenMenusUnlocked = false;
    OperationRunning = 0;
    AbortRequested = 0;
    FilterAbortRequested = 0;
    MultiMarkMode = 0;
    MainLink().FilterDialogVisible = nullptr;
    Store.Reset();
  }
  // A w x h image in a window: grey rising to the right, or three planes.
  TMDIChild* Open(int slot, int w, int h, bool colour = false) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = colour ? 3 : 1;
    im.IsColor = colour;
    for (int p = 1; p <= im.PlaneCount; ++p) {
      im.Planes[size_t(p)].resize(size_t(w) * size_t(h));
      for (int i = 0; i < w * h; ++i) im.Planes[size_t(p)][size_t(i)] = float(i + 10 * p);
    }
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = "/data/bild_" + std::to_string(slot) + ".fit";
    MakeDefaultHeader(slot);
    ResetDisplayRange(slot, 0);
    ShowImageWindow(slot);
    QApplication::processEvents();
    TMDIChild* window = ImageWindow(slot);
    main_->MdiArea->setActiveSubWindow(window);
    QApplication::processEvents();
    return window;
  }
  static bool Enabled(const char* name) { return MainMenuItem(name) && MainMenuItem(name)->isEnabled(); }
  static bool Shown(const char* name) { return MainMenuItem(name) && MainMenuItem(name)->isVisible(); }
  static std::vector<float> Plane(int slot, int p) {
    const auto& v = Store.Image[size_t(slot)].Planes[size_t(p)];
    return {v.begin(), v.end()};
  }
  void PressPicture(int n) { QTest::mousePress(main_->ToolBar1->PNGButton[size_t(n)], Qt::LeftButton); }

  test::ConfigHome home_;
  test::TempDir languages_;
  TEngineUi ui_;
  std::unique_ptr<TMainForm> main_;
};

TEST_F(MainWindowTest, MenuTreeHoldsEveryItemAndShowsThoseWithACommand) {
  Start();
  QSet<QString> names;
  std::function<void(const std::vector<TMenuEntry>&)> walk = [&](const std::vector<TMenuEntry>& items) {
    for (const TMenuEntry& e : items) {
      if (e.Flags & mfSeparator) continue;
      EXPECT_FALSE(names.contains(e.Name)) << e.Name.toStdString();
      names.insert(e.Name);
      ASSERT_NE(MainMenuItem(e.Name), nullptr) << e.Name.toStdString();
      walk(e.Items);
    }
  };
  walk(MainMenuTable());
  const QList<QAction*> tops = main_->menuBar()->actions();
  ASSERT_EQ(tops.size(), 6);
  EXPECT_EQ(tops[2]->text(), "Bilder &Kombinieren");
  // Recent files follow the separator at position 13 of the File menu.
  QMenu* file = MainTopMenu(0);
  ASSERT_EQ(file->actions().size(), 22);
  EXPECT_TRUE(file->actions()[13]->isSeparator());
  EXPECT_EQ(file->actions()[11]->objectName(), "FileExitItem");

  emit MainTopMenu(1)->aboutToShow();
  EXPECT_FALSE(Shown("Wertaddieren1"));
  EXPECT_FALSE(Shown("Pixelmathematik1"));  // a submenu without a command item
  int runs = 0;
  RegisterMenuCommand("Wertaddieren1", [&runs](QAction*) { ++runs; });
  EXPECT_TRUE(Shown("Wertaddieren1"));
  EXPECT_TRUE(Shown("Pixelmathematik1"));
  MainMenuItem("Wertaddieren1")->trigger();
  EXPECT_EQ(runs, 1);
  // Hidden items wait for the access code as well.
  RegisterMenuCommand("Pixelwertenheran0bringen1", [](QAction*) {});
  EXPECT_FALSE(Shown("Pixelwertenheran0bringen1"));
  UnlockHiddenMenuItems();
  RefreshMenuVisibility();
  EXPECT_TRUE(Shown("Pixelwertenheran0bringen1"));
  EXPECT_EQ(MenuItemTag(MainMenuItem("Medianfilter2")), 14);
  EXPECT_EQ(MainMenuItem("Zeilengleichhell1")->shortcut(), QKeySequence("Ctrl+Z"));

  EXPECT_EQ(FindMenuItemByCaption("schärfen"), MainMenuItem("Schrfen1"));
  EXPECT_EQ(FindMenuItemByCaption("Wert Addieren"), MainMenuItem("Wertaddieren1"));
  EXPECT_EQ(FindMenuItemByCaption(""), nullptr);
  EXPECT_EQ(FindMenuItemByCaption("Öffnen"), nullptr);  // only Edit and Combine are searched
}

TEST_F(MainWindowTest, EnableRulesFollowTheWindowsAndTheActiveImage) {
  Start();
  // A hidden item counts as disabled: these get commands.
  for (const char* name : {"Wertaddieren1", "Masterdarkflaterstellen1", "Batchprocessing1", "FarbCCDzuRGBBild1",
                           "RGBzu3swBilder1", "Minimum1", "mitHotpixelkorrektur1", "blinken1", "N3swBilderzuRGB1"})
    RegisterMenuCommand(name, [](QAction*) {});
  main_->UpdateMenuItems();
  EXPECT_FALSE(Enabled("WindowCascadeItem"));
  EXPECT_FALSE(Enabled("Pixelmathematik1"));
  EXPECT_TRUE(Enabled("Masterdarkflaterstellen1"));
  EXPECT_TRUE(Enabled("Batchprocessing1"));
  EXPECT_FALSE(main_->ToolBar1->PNGButton[3]->isEnabled());

  Open(1, 8, 6);
  main_->UpdateMenuItems();
  EXPECT_TRUE(Enabled("WindowCascadeItem"));
  EXPECT_TRUE(Enabled("Pixelmathematik1"));
  EXPECT_TRUE(Enabled("FarbCCDzuRGBBild1"));
  EXPECT_FALSE(Enabled("RGBzu3swBilder1"));
  EXPECT_FALSE(Enabled("Minimum1"));
  EXPECT_FALSE(main_->ToolBar1->RxSpeedButton[3]->isEnabled());

  Open(2, 8, 6, true);
  main_->UpdateMenuItems();
  EXPECT_TRUE(Enabled("RGBzu3swBilder1"));
  EXPECT_FALSE(Enabled("FarbCCDzuRGBBild1"));
  EXPECT_TRUE(Enabled("Minimum1"));
  EXPECT_TRUE(Enabled("mitHotpixelkorrektur1"));
  EXPECT_TRUE(Enabled("blinken1"));
  EXPECT_FALSE(Enabled("N3swBilderzuRGB1"));  // needs three windows
  EXPECT_TRUE(main_->ToolBar1->RxSpeedButton[3]->isEnabled());

  // The filter dialog disables image operations although windows exist.
  QWidget filter;
  AttachToolWindow(TToolWindow::Filter, &filter);
  filter.show();
  main_->UpdateMenuItems();
  EXPECT_FALSE(Enabled("Pixelmathematik1"));
  EXPECT_FALSE(Enabled("Minimum1"));
  EXPECT_TRUE(Enabled("WindowCascadeItem"));
  filter.hide();
  OperationRunning = 1;
  main_->UpdateMenuItems();
  EXPECT_FALSE(Enabled("Masterdarkflaterstellen1"));
  EXPECT_FALSE(main_->ToolBar1->PNGButton[6]->isEnabled());
}

TEST_F(MainWindowTest, DropDownListsOpenAndCloseByNumber) {
  Start();
  TMainToolBar* bar = main_->ToolBar1;
  bar->ShowDropDownList(bar->ListBoxEx[1], {10, 10});
  bar->ShowDropDownList(bar->ListBoxEx[2], {40, 10});
  bar->ShowDropDownList(bar->ListBoxEx[3], {70, 10});
  bar->RxSpeedButton[1]->setChecked(true);
  EXPECT_EQ(bar->ListBoxEx[2]->height(), 8 * 20 + 4);
  EXPECT_EQ(bar->ListBoxEx[2]->item(0)->text(), "    S/W");
  bar->CloseDropDownLists(2);
  EXPECT_FALSE(bar->ListBoxEx[1]->isVisible());
  EXPECT_FALSE(bar->RxSpeedButton[1]->isChecked());
  EXPECT_TRUE(bar->ListBoxEx[2]->isVisible());
  EXPECT_FALSE(bar->ListBoxEx[3]->isVisible());
  bar->CloseDropDownLists(0);
  EXPECT_FALSE(bar->ListBoxEx[2]->isVisible());
  EXPECT_FALSE(bar->ListBoxEx[2]->isEnabled());

  // Resting on a button for a tick opens its list; a vertical sweep does not.
  EXPECT_TRUE(HoverSettled(100, 100, 65530, 4));
  EXPECT_FALSE(HoverSettled(100, 110, 1000, 1099));
  EXPECT_TRUE(HoverSettled(100, 103, 1000, 1099));
}

TEST_F(MainWindowTest, PictureButtonsTurnInvertAndCopyTheActiveImage) {
  Start();
  PressPicture(3);  // without an image nothing happens
  TMDIChild* w = Open(1, 3, 2);
  w->Overlay().Shape1.Visible = true;
  PressPicture(3);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{12, 11, 10, 15, 14, 13}));
  EXPECT_FALSE(w->Overlay().Shape1.Visible);
  PressPicture(4);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{15, 14, 13, 12, 11, 10}));
  PressPicture(4);
  PressPicture(3);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{10, 11, 12, 13, 14, 15}));
  PressPicture(5);  // [a b c; d e f] -> [d a; e b; f c]
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{13, 10, 14, 11, 15, 12}));
  EXPECT_EQ(main_->StatusBar->PanelText(1), QString::fromUtf8("Größe: 2 x 3"));
  EXPECT_EQ(GetHeaderValue(1, "NAXIS1", false), "2");

  Store.Display[1].Black = 10;
  Store.Display[1].White = 110;
  PressPicture(6);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{107, 110, 106, 109, 105, 108}));
  EXPECT_EQ(Store.Image[1].MaxValue, 110);
  PressPicture(7);
  ASSERT_TRUE(ImageWindow(2));
  EXPECT_EQ(Plane(2, 1), Plane(1, 1));
  EXPECT_EQ(SlotPair.Destination, -1);
}

TEST_F(MainWindowTest, PaletteAndColourSpaceChoices) {
  Start();
  TMainToolBar* bar = main_->ToolBar1;
  Open(1, 4, 4);
  bar->ChooseListItem(2, 3);
  EXPECT_EQ(Store.Display[1].DisplayType, DtFourGradients);
  EXPECT_EQ(PaletteItemDisplayType(7), DtOwnPalette);

  Open(2, 4, 4, true);
  EXPECT_EQ(bar->RxSpeedButton[2]->property("Tag").toInt(), 3);
  bar->ChooseListItem(3, 1);
  EXPECT_EQ(Store.Image[2].ColorModel, CmYuv);
  EXPECT_EQ(Store.Display[2].DisplayType, DtColorYuv);
  EXPECT_EQ(bar->RxSpeedButton[3]->property("Tag").toInt(), 5);
  const std::vector<float> yuv = Plane(2, 1);
  Store.Display[2].Changed = 0;
  bar->ChooseListItem(3, 1);  // already YUV: nothing happens, nothing is drawn again
  EXPECT_EQ(Plane(2, 1), yuv);
  EXPECT_EQ(Store.Display[2].Changed, 0);
  bar->ChooseListItem(5, 4);
  EXPECT_EQ(Store.Display[2].ChannelSelection, 4);
  bar->ChooseListItem(3, 0);
  EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
  EXPECT_EQ(bar->RxSpeedButton[3]->property("Tag").toInt(), 4);
}

TEST_F(MainWindowTest, SidePanelFieldsWriteTheirSettings) {
  Start();
  Settings.TextOptions = 165;
  main_->Panel1->SpinEdit1->setValue(12);
  EXPECT_EQ(Settings.TextOptions, 197);
  Settings.PackedParams = PackedParamsDefault;
  main_->Panel1->SpinEdit2Change(7);
  EXPECT_EQ(Settings.PackedParams.substr(14, 2), "07");
  EXPECT_EQ(GetParamDigits(15), 7);
  main_->Panel1->SpinEdit2Change(31);
  EXPECT_EQ(StampRadiusSquaredOf(31), 256);
}

TEST_F(MainWindowTest, StatusLineRecentFilesJpegQualityAndEscape) {
  Start();
  main_->StatusBar->ShowMemoryLine(uint64_t(9.9 * 1048576));
  EXPECT_TRUE(main_->StatusBar->LowMemoryShown());
  main_->StatusBar->ShowMemoryLine(uint64_t(10) * 1048576);
  EXPECT_FALSE(main_->StatusBar->LowMemoryShown());
  EXPECT_TRUE(main_->StatusBar->PanelText(2).startsWith(" Freier Speicher: 10 MByte, 0 Bilder"));

  // A recent file that is gone leaves the list without a message.
  Settings.RecentFiles = {"", "/nirgends/a.fit", "/nirgends/b.fit", "", "", "", "", "", ""};
  OpenRecentFile("/nirgends/a.fit");
  EXPECT_EQ(Settings.RecentFiles[1], "/nirgends/b.fit");
  EXPECT_TRUE(ui_.Messages.empty());
  // No free slot: the user is told.
  const std::string existing = languages_.file("bild.fit");
  test::WriteText(existing, "x");
  for (int s = 1; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  OpenRecentFile(existing);
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Es sind zu viele Bilder geöffnet");
  for (int s = 1; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;

  Settings.JpegQuality = 77;
  test::WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>("Edit1")->setText("gut");
    w->findChild<QPushButton*>("Button1")->click();
  });
  RunMenuCommand("nurfrKeyShortcur1");
  EXPECT_EQ(Settings.JpegQuality, 77);
  EXPECT_EQ(ui_.Messages.size(), 2u);
  test::WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>("Edit1")->setText(" 250 ");
    w->findChild<QPushButton*>("Button1")->click();
  });
  RunMenuCommand("nurfrKeyShortcur1");
  EXPECT_EQ(Settings.JpegQuality, 100);

  BatchAbort = 0;
  QTest::keyClick(main_.get(), Qt::Key_Escape);
  EXPECT_EQ(AbortRequested, 1);
  EXPECT_EQ(FilterAbortRequested, 1);
  EXPECT_EQ(BatchAbort, 1);
  BatchAbort = 0;
}

TEST_F(MainWindowTest, MarksAreCopiedAndToolWindowsFollowTheMainWindow) {
  Start();
  TMDIChild* a = Open(1, 40, 30);
  TMDIChild* b = Open(2, 40, 30);
  MultiMarkMode = 1;
  a->AddMark(1, 1, 4, 4);
  a->AddMark(5, 5, 4, 4);
  a->Overlay().MarkRects[1] = {5, 6, 9, 10};
  b->AddMark(0, 0, 2, 2);
  b->Overlay().Image2.Visible = true;
  EXPECT_EQ(CopyMarksToWindow(1, 2), 0);
  ASSERT_EQ(b->Overlay().MarkCount(), 2);
  EXPECT_EQ(b->Overlay().MarkRects[1].Bottom, 10);
  EXPECT_FALSE(b->Overlay().Image2.Visible);
  MultiMarkMode = 0;
  a->Overlay().Shape1.Visible = true;
  WindowSelectionRects[1][1] = {2, 3, 12, 13};
  CopyMarksToWindow(1, 2);
  EXPECT_TRUE(b->Overlay().Shape1.Visible);
  EXPECT_EQ(WindowSelectionRects[2][1].Right, 12);
  EXPECT_TRUE(HasSingleMark(2));
  HideWindowMarks(2);
  EXPECT_FALSE(HasSingleMark(2));

  QWidget tool;
  tool.setGeometry(main_->frameGeometry().right() - 50, main_->y() + 10, 40, 40);
  tool.show();
  RegisterFollowingWindow(&tool);
  const QPoint before = tool.pos();
  const QRect bounds = main_->frameGeometry();
  MoveFollowingWindows(bounds, bounds.adjusted(0, 0, 30, 0));  // right edge moves by 30
  EXPECT_EQ(tool.pos(), before + QPoint(30, 0));
  UnregisterFollowingWindow(&tool);
}

TEST_F(MainWindowTest, TranslationFileGivesCaptionsHintsAndLetters) {
  test::WriteText(languages_.file("QZlang_English.txt"),
                  "[1_Menu\n[1]&File\n[2]&Edit\n[1.1]&Open\n[1.4.1]IT8 chart (D&50)\n[2.5]&Colour\n[4.8]&Histogram\n"
                  "[2_Toolbar\n[1]Open a file\n[10.2]Isophotes\n[3_Panel\n[1]Info mode\n"
                  "[4_x\n[5_x\n[6_x\n[7_Colours\n[21]Red\n[22]Green\n[23]Blue\n");
  Start();
  ASSERT_TRUE(LanguageFileLoaded);
  const QList<QAction*> tops = main_->menuBar()->actions();
  EXPECT_EQ(tops[0]->text(), "&File");
  EXPECT_EQ(tops[3]->text(), "&Einstellungen");       // no key: stays German
  EXPECT_EQ(tops[2]->text(), "Image Combining");      // [6] empty
  EXPECT_EQ(MainMenuItem("FileOpenItem")->text(), "&Open");
  EXPECT_EQ(MainMenuItem("IT8FarbtafelD501")->text(), "IT8 chart (D&50)");
  EXPECT_EQ(MainMenuItem("Farbfunktionen1")->text(), "&Colour");
  EXPECT_EQ(MainMenuItem("Histogramm1")->text(), "&Histogram");
  EXPECT_EQ(main_->ToolBar1->PNGButton[1]->Hint(), "Open a file");
  EXPECT_EQ(main_->Panel1->SpeedButton1->toolTip(), "Info mode");
  EXPECT_EQ(main_->ToolBar1->ListBoxEx[2]->item(1)->text(), "Isophotes");
  EXPECT_EQ(main_->ToolBar1->ListBoxEx[4]->item(4)->text(), "RB");
  EXPECT_EQ(MainTexts.ChannelNames[1], "Red");
}

TEST_F(MainWindowTest, TheStoredPaletteIsLoadedAtStart) {
  // A 256 x 256 BMP whose pixel (x, y) is red x, green y.
  std::vector<unsigned char> bmp(54 + 256 * 256 * 3, 0);
  auto put32 = [&bmp](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + size_t(i)] = (unsigned char)(v >> (8 * i));
  };
  bmp[0] = 'B', bmp[1] = 'M';
  put32(2, uint32_t(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, 256);
  put32(22, 256);
  bmp[26] = 1, bmp[28] = 24;
  for (int row = 0; row < 256; ++row)  // bottom row first
    for (int x = 0; x < 256; ++x) {
      unsigned char* px = &bmp[54 + (size_t(255 - row) * 256 + size_t(x)) * 3];
      px[1] = (unsigned char)row, px[2] = (unsigned char)x;
    }
  const std::string name = languages_.file("palette.bmp");
  test::WriteAll(name, bmp);
  std::filesystem::create_directories(home_.path() / "astrelon");
  test::WriteText((home_.path() / "astrelon" / "astrelon.ini").string(), "Palette: " + name + "\n");
  SetUserPalette({});
  Start();
  ASSERT_TRUE(UserPaletteUsable());
  EXPECT_EQ(UserPalette()[257], 0x010100u);
  EXPECT_EQ(Settings.PaletteFile, name);
  SetUserPalette({});
}

TEST_F(MainWindowTest, QtDialogsSpeakGerman) {
  Start();
  ASSERT_TRUE(InstallQtTranslations());
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  const QLabel* lookIn = dialog.findChild<QLabel*>("lookInLabel");
  ASSERT_NE(lookIn, nullptr);
  EXPECT_EQ(lookIn->text(), "Suchen in:");
}

}  // namespace
}  // namespace astrelon
