// Main-window services on Qt: busy cursor, dialog forms, recent menus, dropped
// files, the last-resort exception handler, and a screenshot of a real window.
#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <fstream>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "shell/main/recent_files.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/open_by_name.h"
#include "window_fixture.h"

namespace astrelon::test {
namespace {

TEST_F(WindowTest, BusyCursorShowsTheHourglass) {
  BusyCursorStack = {};
  PushBusyCursor();
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  PushBusyCursor();
  PopBusyCursor();
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  PopBusyCursor();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  PopBusyCursor();  // unmatched
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(BusyCursorStack.Depth, 0);
}

TEST_F(WindowTest, DialogFormsAreMadeOnceAndReleased) {
  int made = 0;
  RegisterDialogForm(12, [&made] {
    ++made;
    auto* form = new QWidget;
    form->setObjectName("Form12");
    return form;
  });
  EXPECT_FALSE(DialogFormCreated(12));
  EXPECT_TRUE(EnsureDialogForm(12));
  EXPECT_TRUE(EnsureDialogForm(12));
  EXPECT_EQ(made, 1);
  ASSERT_NE(DialogForm(12), nullptr);
  SetDialogFormTranslated(12);
  EXPECT_FALSE(DialogFormNeedsTranslation(12));
  ReleaseDialogForm("Form12");
  EXPECT_FALSE(DialogFormCreated(12));
  EXPECT_TRUE(DialogFormNeedsTranslation(12));
  EnsureDialogForm(12);
  EXPECT_EQ(made, 2);
  delete DialogForm(12);  // a form freed elsewhere clears its flag
  EXPECT_FALSE(DialogFormCreated(12));
  EXPECT_TRUE(EnsureDialogForm(30));  // a number without a form only sets its flag
  EXPECT_TRUE(DialogFormCreated(30));
  RegisterDialogForm(12, nullptr);
}

TEST_F(WindowTest, RecentFunctionsKeepOneCopyNewestFirst) {
  QMenu* menu = RecentFunctionsMenu();
  menu->clear();
  std::vector<std::unique_ptr<QAction>> commands;
  int triggered = 0;
  for (int i = 0; i < 11; ++i) {
    commands.push_back(std::make_unique<QAction>(QString("&Befehl %1").arg(i)));
    commands.back()->setData(100 + i);
    QObject::connect(commands.back().get(), &QAction::triggered, [&triggered] { ++triggered; });
  }
  AddRecentFunction(commands[0].get());
  AddRecentFunction(commands[1].get());
  AddRecentFunction(commands[0].get());
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(RecentFunctionCaption(0), "Befehl 0");
  EXPECT_EQ(RecentFunctionCaption(1), "Befehl 1");
  EXPECT_EQ(menu->actions()[0]->data().toInt(), 100);
  menu->actions()[0]->trigger();
  EXPECT_EQ(triggered, 1);
  for (int i = 2; i < 11; ++i) AddRecentFunction(commands[size_t(i)].get());
  EXPECT_EQ(menu->actions().size(), 10);
  EXPECT_EQ(RecentFunctionCaption(0), "Befehl 10");
  EXPECT_EQ(RecentFunctionCaption(9), "Befehl 0");  // "Befehl 1" was the oldest and dropped
  EXPECT_EQ(Settings.RecentFunctions[1], "Befehl 10");
  EXPECT_EQ(Settings.RecentFunctions[6], "Befehl 5");
  // Remembered captions come back from the menus, the first remembered on top.
  menu->clear();
  QMenu edit("&Bearbeiten");
  edit.addAction(commands[3].get());
  edit.addAction(commands[4].get());
  main_->menuBar()->addMenu(&edit);
  Settings.RecentFunctions = {"", "befehl 4", "Gibt es nicht", "Befehl 3", "", "", ""};
  RestoreRecentFunctions(main_.get());
  ASSERT_EQ(menu->actions().size(), 2);
  EXPECT_EQ(RecentFunctionCaption(0), "Befehl 4");
  EXPECT_EQ(RecentFunctionCaption(1), "Befehl 3");
  menu->clear();
}

TEST_F(WindowTest, RecentFileItemsFollowTheList) {
  QMenu file("&Datei");
  QAction* quit = file.addAction("Beenden");
  Settings.RecentFiles = {};
  InstallRecentFileMenu(&file, quit, [](const std::string&) {});
  // Separator and eight hidden items before "Beenden".
  ASSERT_EQ(file.actions().size(), 10);
  EXPECT_FALSE(file.actions()[0]->isVisible());
  AddRecentFile("/pics/a&b.fit");
  AddRecentFile("/pics/c.fit");
  EXPECT_TRUE(file.actions()[0]->isVisible());
  EXPECT_EQ(file.actions()[1]->text(), "/pics/c.fit");
  EXPECT_EQ(file.actions()[2]->text(), "/pics/a&&b.fit");
  EXPECT_FALSE(file.actions()[3]->isVisible());
  RemoveRecentFile(1);
  EXPECT_EQ(file.actions()[1]->text(), "/pics/a&&b.fit");
  EXPECT_FALSE(file.actions()[2]->isVisible());
}

// A 4 x 3 binary PPM file.
std::string WritePpm(const TempDir& dir, const std::string& name) {
  const std::string path = dir.file(name);
  std::ofstream f(path, std::ios::binary);
  f << "P6\n4 3\n255\n";
  for (int i = 0; i < 12; ++i) f.put(char(i * 20)).put(char(i * 10)).put(char(255 - i * 20));
  return path;
}

TEST_F(WindowTest, DroppedAndNamedFilesOpenInWindows) {
  ConfigHome config;
  TempDir dir;
  const std::string ppm = WritePpm(dir, "drop.ppm");
  test::WriteText(dir.file("notes.txt"), "not an image");
  Settings.RecentFiles = {};
  // A drop on the main window: the text file is skipped.
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("notes.txt"))),
                QUrl::fromLocalFile(QString::fromStdString(ppm))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(main_.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(main_.get(), &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(Store.HasWindow[1]);
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(Store.Image[1].Width, 4);
  EXPECT_EQ(Settings.RecentFiles[1], ppm);
  EXPECT_EQ(area_->subWindowList().size(), 1);
  // A named file (the command line) takes the next slot.
  EXPECT_TRUE(OpenFileByName(ppm));
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_FALSE(OpenFileByName(dir.file("missing.ppm")));
  EXPECT_FALSE(Store.InUse[3]);
  // No free slot: nothing happens.
  for (int s = 3; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  EXPECT_FALSE(OpenFileByName(ppm));
  for (int s = 3; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;
}

class ThrowingObject : public QObject {
protected:
  bool event(QEvent*) override { throw std::runtime_error("kaputt"); }
};

TEST_F(WindowTest, ExceptionsReachingTheEventLoopBecomeMessages) {
  EngineUi().Messages.clear();
  ThrowingObject o;
  QEvent e(QEvent::User);
  EXPECT_FALSE(QApplication::sendEvent(&o, &e));
  ASSERT_FALSE(EngineUi().Messages.empty());
  EXPECT_NE(EngineUi().Messages.back().find("kaputt"), std::string::npos);
}

TEST_F(WindowTest, InfoPanelShowsTheColourModel) {
  MakeImage(1, 2, 2);
  Store.Image[1].IsColor = 1;
  Store.Image[1].ColorModel = CmYuv;
  int controls = 0;
  MainLink().UpdateInfoPanelControls = [&controls](int, int) { ++controls; };
  UpdateInfoPanel(1, 0);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorYuv);
  Store.Image[1].ColorModel = CmRgb;
  UpdateInfoPanel(1, 0);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorRgb);
  EXPECT_EQ(controls, 2);
  MainLink().UpdateInfoPanelControls = nullptr;
}

TEST_F(WindowTest, PreviewOfASlot) {
  MakeImage(1, 60, 20);
  QLabel preview;
  preview.resize(286, 240);
  SetPreviewControl(&preview);
  ShowWindowPreview(1);
  ASSERT_FALSE(preview.pixmap().isNull());
  const QImage shown = preview.pixmap().toImage();
  // A wide picture is 280 wide at left 3, centred on y = 120: its right end is bright.
  EXPECT_GT(qGray(shown.pixel(3 + 275, 120)), 200);
  EXPECT_LT(qGray(shown.pixel(3 + 2, 120)), 60);
  SetPreviewControl(nullptr);
}

TEST_F(WindowTest, ColourButtonGlyphUsesTheTextColour) {
  Settings.TextColour = 0x0000FF;  // red: the low byte is red
  const QImage glyph = ColourButtonGlyph(QSize(12, 10)).toImage();
  EXPECT_EQ(glyph.pixelColor(5, 5), QColor(255, 0, 0));
  EXPECT_EQ(glyph.pixelColor(0, 0), QColor(Qt::black));
}

// A real window with an image, a selection, a marker and marks, saved for a look.
TEST_F(WindowTest, Screenshot) {
  TMDIChild* w = Open(1, 320, 200);
  ASSERT_NE(w, nullptr);
  Drag(w, {40, 30}, {139, 99});
  Click(w, {250, 150});
  MultiMarkMode = 1;
  Drag(w, {200, 40}, {230, 70});
  Drag(w, {260, 40}, {290, 70});
  MultiMarkMode = 0;
  QApplication::processEvents();
  const QImage shot = w->grab().toImage();
  EXPECT_TRUE(shot.save("/tmp/astrelon_image_window.png"));
  const QImage full = main_->grab().toImage();
  EXPECT_TRUE(full.save("/tmp/astrelon_main_window.png"));
  // The selection frame is yellow.
  const QPoint frame = w->Image1->mapTo(w, QPoint(40, 60));
  EXPECT_EQ(shot.pixelColor(frame), QColor(Qt::yellow));
}

}  // namespace
}  // namespace astrelon::test
