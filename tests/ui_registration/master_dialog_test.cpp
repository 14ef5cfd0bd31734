// The master dark/flat dialog: both modes, drops into the lists, removing
// entries, the method check, and a run through the status window.
#include <QAbstractItemModel>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include "../ui_windows/window_fixture.h"
#include "batch/ui/batch_status_window.h"
#include "common/engine_ui.h"
#include "qt_test_app.h"
#include "registration/ui/master_dialog.h"
#include "registration/ui/master_frame_commands.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/fits/fits_writer.h"

namespace astrelon::test {
namespace {

class MasterDialogTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterMasterFrameCommands();
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    if (TForm11* f = MasterDialog()) f->close();
    if (BatchStatusWindowExists()) BatchStatusWindow().close();
    QApplication::processEvents();
    WindowTest::TearDown();
  }
  TForm11& Open(const char* item) {
    EXPECT_TRUE(RunMenuCommand(item));
    QApplication::processEvents();
    TForm11* f = MasterDialog();
    EXPECT_NE(f, nullptr);
    return *f;
  }
  // Drops file URLs from outside the program on a list.
  static void Drop(QListWidget* list, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    // A drop goes to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    QDropEvent e(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &e);
  }
  static QStringList Entries(const QListWidget* l) {
    QStringList out;
    for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
    return out;
  }
  std::string Frame(const std::string& name, float v) {
    const std::string path = dir_.file(name);
    test::MakeImage(40, 4, 3, {std::vector<float>(12, v)}, path);
    EXPECT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    return path;
  }
  TempDir dir_;
};

TEST_F(MasterDialogTest, DropsDeleteKeyAndTrashChangeTheLists) {
  TForm11& f = Open("Masterdarkflaterstellen1");
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(f.windowTitle(), "Masterdark/-flat erstellen");
  ASSERT_EQ(f.TabControl1->count(), 3);
  EXPECT_FALSE(f.Button1->isEnabled());
  EXPECT_FALSE(f.Edit1->isEnabled());
  const QString d = QString::fromStdString(dir_.path().string());
  Drop(f.Lists[0], {d + "/b.fit", d + "/A.FIT", d + "/notes.txt", d + "/noext", d + "/a.fit", d + "/b.fit"});
  EXPECT_EQ(Entries(f.Lists[0]), (QStringList{d + "/A.FIT", d + "/a.fit", d + "/b.fit"}));
  EXPECT_TRUE(f.Button1->isEnabled());
  EXPECT_TRUE(f.Edit1->isEnabled());
  EXPECT_EQ(f.Edit1->text(), d + "/Masterdark.fit");

  f.Lists[0]->item(0)->setSelected(true);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(f.Lists[0], &del);
  EXPECT_EQ(Entries(f.Lists[0]), (QStringList{d + "/a.fit", d + "/b.fit"}));
  f.Lists[0]->selectAll();
  QTest::mouseClick(f.Image1, Qt::LeftButton);
  EXPECT_EQ(f.Lists[0]->count(), 0);
  EXPECT_FALSE(f.Button1->isEnabled());

  // The flat-dark tab has no name: its drops leave the names alone.
  f.TabControl1->setCurrentIndex(2);
  EXPECT_FALSE(f.Edit1->isVisible());
  EXPECT_TRUE(f.Lists[2]->isVisible());
  EXPECT_FALSE(f.Lists[0]->isVisible());
  Drop(f.Lists[2], {"/elsewhere/fd.fit"});
  EXPECT_EQ(Entries(f.Lists[2]), QStringList{"/elsewhere/fd.fit"});
  EXPECT_TRUE(f.Button1->isEnabled());
  f.TabControl1->setCurrentIndex(1);
  EXPECT_EQ(f.Label1->text(), "Masterflat Datei:");
  EXPECT_FALSE(f.Edit1->text().startsWith("/elsewhere"));
}

TEST_F(MasterDialogTest, MethodsNeedThreeFilesAndTheFileListFiltersWithoutCase) {
  TForm11& f = Open("Masterdarkflaterstellen1");
  Drop(f.Lists[0], {"/x/1.fit", "/x/2.fit"});
  f.Methods[1]->click();
  EXPECT_EQ(EngineUi().Messages.back(), "Diese Methoden machen nur bei mehr als 2 Dateien einen Sinn.");
  EXPECT_TRUE(f.Methods[0]->isChecked());
  Drop(f.Lists[0], {"/x/3.fit"});
  f.Methods[3]->click();
  EXPECT_TRUE(f.Methods[3]->isChecked());

  for (const char* n : {"x.FIT", "y.fit", "w.Tif", "z.txt"}) WriteText(dir_.file(n), "");
  f.SetFolder(QString::fromStdString(dir_.path().string()));
  QAbstractItemModel* m = f.FileListBox1->model();
  QTRY_COMPARE(m->rowCount(f.FileListBox1->rootIndex()), 3);
  // Dragged into the flats: folder and name, and the flat name moves there.
  f.TabControl1->setCurrentIndex(1);
  f.FileListBox1->selectAll();
  f.DropFromFileList(f.Lists[1]);
  const QString d = QString::fromStdString(dir_.path().string());
  EXPECT_EQ(Entries(f.Lists[1]), (QStringList{d + "/w.Tif", d + "/x.FIT", d + "/y.fit"}));
  EXPECT_EQ(QFileInfo(f.Edit1->text()).absolutePath(), d);
}

TEST_F(MasterDialogTest, CreateRunsThroughTheStatusWindowAndAsksBeforeReplacing) {
  TForm11& f = Open("Masterdarkflaterstellen1");
  Drop(f.Lists[0], {QString::fromStdString(Frame("d1.fit", 10)), QString::fromStdString(Frame("d2.fit", 30))});
  const std::string master = dir_.file("Masterdark.fit");
  f.Button1->click();
  QApplication::processEvents();
  EXPECT_FALSE(f.isVisible());
  TForm10& status = BatchStatusWindow();
  EXPECT_EQ(status.windowTitle(), "Bearbeitung fertig");
  EXPECT_EQ(status.Button1->text(), "&Ok");
  EXPECT_EQ(status.Label3->text(), QString::fromStdString("Geschrieben:\n" + master));
  const auto first = ReadAll(master);
  ASSERT_FALSE(first.empty());

  // Declined: the file stays as it was.
  WriteText(master, "kept");
  {
    PromptAnswers answers({std::nullopt});
    f.Button1->click();
    QApplication::processEvents();
    ASSERT_EQ(answers.Prompts().size(), 1u);
    EXPECT_EQ(answers.Prompts()[0], "Bei gleichem Namen wird die Datei überschrieben.");
  }
  const auto kept = ReadAll(master);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept");
  EXPECT_EQ(CountOpenWindows(), 0);
  EXPECT_EQ(status.windowTitle(), "Bearbeitung fertig, nichts geschrieben");
  EXPECT_EQ(status.Label3->text(), "Es wurde keine Datei geschrieben.");

  // Nothing chosen at all: the dialog says so and stays.
  f.show();
  f.Lists[0]->clear();
  Drop(f.Lists[0], {"/x/only.fit"});
  f.Button1->click();
  EXPECT_EQ(EngineUi().Messages.back(), "Es sind nicht genug Dateien zur Bearbeitung ausgewählt worden.");
  EXPECT_TRUE(f.isVisible());
}

// On its first showing the folder tree opens at the folder its file list shows.
TEST_F(MasterDialogTest, FolderTreeOpensAtTheListsFolder) {
  // Many folders beside the way down: the folder lies far below the tree's first rows.
  for (int i = 0; i < 80; ++i) std::filesystem::create_directories(dir_.path() / ("d" + std::to_string(100 + i)));
  const std::filesystem::path deep = dir_.path() / "z" / "b" / "c";
  std::filesystem::create_directories(deep);
  WriteText((deep / "x.fit").string(), "");
  const std::string kept = Settings.RecentFiles[1];
  Settings.RecentFiles[1] = (deep / "x.fit").string();
  TForm11& f = Open("Masterdarkflaterstellen1");
  Settings.RecentFiles[1] = kept;
  const QString folder = QString::fromStdString(deep.string());
  EXPECT_EQ(f.Folder(), folder);
  auto* model = qobject_cast<QFileSystemModel*>(f.DirTree1->model());
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->filePath(f.DirTree1->currentIndex()), folder);
  // Once the folders beside the way down have loaded, the folder is still in view.
  const QModelIndex top = model->index(QString::fromStdString(dir_.path().string()));
  QTRY_COMPARE(model->rowCount(top), 81);
  QTest::qWait(300);
  EXPECT_TRUE(f.DirTree1->viewport()->rect().contains(f.DirTree1->visualRect(f.DirTree1->currentIndex()).center()));
}

TEST_F(MasterDialogTest, MultifocusModeShowsOneListAndOpensTheResult) {
  TForm11& f = Open("Multifokus1");
  EXPECT_EQ(f.windowTitle(), "Multifokus-Datei erstellen (Mikroskopie)");
  ASSERT_EQ(f.TabControl1->count(), 1);
  EXPECT_FALSE(f.RadioGroup1->isVisible());
  EXPECT_TRUE(f.Lists[3]->isVisible());
  EXPECT_EQ(f.Label1->text(), "Multifokus Datei:");
  Drop(f.Lists[3], {QString::fromStdString(Frame("m1.fit", 5)), QString::fromStdString(Frame("m2.fit", 7))});
  f.Button1->click();
  QApplication::processEvents();
  EXPECT_EQ(CountOpenWindows(), 1);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("Multifokus.fit")));
  // The master command switches the open dialog back.
  Open("Masterdarkflaterstellen1");
  EXPECT_EQ(f.TabControl1->count(), 3);
  EXPECT_TRUE(f.RadioGroup1->isVisible());
}

}  // namespace
}  // namespace astrelon::test
