// The File menu's open, close and Save As commands and the save dialog.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "qt_test_app.h"
#include "shell/save/save_as.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/ui/file_menu.h"
#include "store/ui/open_dialog.h"
#include "store/ui/save_dialog.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class FileMenuTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    saved_ = Settings;
    Settings.RecentFiles = {};
    Settings.FitsExtension = ".fit";
    SetEngineUi(&ui_);
    main_ = std::make_unique<QMainWindow>();
    area_ = new QMdiArea;
    main_->setCentralWidget(area_);
    main_->resize(1000, 800);
    AttachMainWindow(main_.get(), area_);
    main_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    area_->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    SetEngineUi(nullptr);
    Settings = saved_;
    Store.Reset();
  }
  // A colour picture of noise (so that JPEG sizes differ by quality), in a window.
  void OpenNoise(int slot, int w, int h) {
    TPicture pic;
    pic.Format = {w, h, 3, 8, false};
    uint32_t seed = 7;
    for (int i = 0; i < w * h * 3; ++i) {
      seed = seed * 1664525u + 1013904223u;
      pic.Samples8.push_back(uint8_t((i / 3 % w) / 2 + (seed >> 27)));
    }
    ASSERT_TRUE(GraphicToSlot(pic, slot, false));
    Store.FileName[slot] = dir_.file("noise.png");
    ShowImageWindow(slot);
    QApplication::processEvents();
  }

  TEngineUi ui_;
  TempDir dir_;
  TSettingsVars saved_;
  std::unique_ptr<QMainWindow> main_;
  QMdiArea* area_ = nullptr;
};

TEST_F(FileMenuTest, OpeningSeveralFiles) {
  std::vector<int> shown;
  TOpenSteps steps;
  steps.Load = [](int slot, const std::string& name) {
    if (name.find("broken") != std::string::npos) throw std::runtime_error("decoder failed");
    if (name.find("refused") != std::string::npos) return false;
    Store.InUse[slot] = 1;
    return true;
  };
  steps.Show = [&](int slot) { shown.push_back(slot); };
  const auto failed = OpenChosenFiles({"/p/a.png", "/p/clip.AVI", "/p/broken.png", "/p/d.png"}, steps);
  ASSERT_EQ(failed, std::vector<std::string>{"/p/broken.png"});
  // The broken file's slot was freed and taken by the next file.
  EXPECT_EQ(shown, (std::vector<int>{1, 2}));
  EXPECT_EQ(Store.FileName[2], "/p/d.png");
  EXPECT_EQ(Settings.RecentFiles[1], "/p/a.png");
  EXPECT_EQ(Settings.RecentFiles[2], "");
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_NE(ui_.Messages[0].find("broken.png"), std::string::npos);

  // A first file that fails: the second opens, but nothing goes on the recent list.
  Store.Reset();
  Settings.RecentFiles = {};
  shown.clear();
  OpenChosenFiles({"/p/refused.png", "/p/e.png"}, steps);
  EXPECT_EQ(shown, std::vector<int>{1});
  EXPECT_EQ(Settings.RecentFiles[1], "");

  // Only one free slot: the first file opens, the others are skipped silently.
  Store.Reset();
  for (int s = 2; s <= MaxImageSlots; ++s) Store.InUse[s] = 1;
  shown.clear();
  ui_.Messages.clear();
  OpenChosenFiles({"/p/f.png", "/p/g.png", "/p/h.png"}, steps);
  EXPECT_EQ(shown, std::vector<int>{1});
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(FileMenuTest, OpenDialogOffersEveryReader) {
  const QStringList filters = OpenDialogFilters();
  for (const char* pattern : {"*.fits", "*.jpg", "*.jpeg", "*.jpe", "*.pgm", "*.ppm", "*.png", "*.bmp", "*.tif", "*.nef"})
    EXPECT_TRUE(filters[0].contains(pattern)) << pattern;
  EXPECT_EQ(filters[1], "FITS (*.fits *.fts *.fit)");
}

TEST_F(FileMenuTest, OpenDialogStartsAtTheFileFoundAtStartup) {
  TempDir dir;
  const std::string name = dir.file("bild.fit");
  WriteText(name, "x");
  Settings.OpenDialogFileName = name;
  QString folder;
  QStringList selected;
  WhenModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    folder = dialog->directory().absolutePath();
    selected = dialog->selectedFiles();
    dialog->reject();
  });
  FileOpenItemClick(main_.get());
  EXPECT_EQ(folder.toStdString(), dir.path().string());
  EXPECT_EQ(selected, QStringList{QString::fromStdString(name)});
}

TEST_F(FileMenuTest, CloseSparesAWindowOfARunningOperation) {
  OpenNoise(1, 20, 10);
  TMDIChild* w = ImageWindow(1);
  ASSERT_TRUE(w);
  area_->setActiveSubWindow(w);
  w->SetBorderIconsLocked(true);
  FileCloseItemClick();
  QApplication::processEvents();
  EXPECT_TRUE(ImageWindow(1));
  w->SetBorderIconsLocked(false);
  FileCloseItemClick();
  QApplication::processEvents();
  EXPECT_FALSE(ImageWindow(1));
  EXPECT_EQ(Store.InUse[1], 0);
}

TEST_F(FileMenuTest, SaveDialogPanelsFollowTheFileType) {
  OpenNoise(1, 20, 10);
  TJSaveDialog dialog(main_.get());
  Settings.TiffSaveFormat = 5;  // 32-bit integer, compressed
  Settings.FitsSaveFormat = 16;
  dialog.Prepare(1);
  EXPECT_EQ(dialog.FilterIndex(), SfPng);
  EXPECT_EQ(dialog.TiffTypeIndex, 1);
  EXPECT_TRUE(dialog.TiffCompressed);
  EXPECT_EQ(dialog.FitsTypeIndex, 2);
  EXPECT_TRUE(dialog.ClientPanel->isHidden());
  EXPECT_TRUE(dialog.ClientPanel2->isHidden());
  dialog.SetFilterIndex(SfJpeg);
  EXPECT_FALSE(dialog.ClientPanel->isHidden());
  EXPECT_TRUE(dialog.ClientPanel2->isHidden());
  dialog.SetFilterIndex(SfTiff);
  dialog.TypeChange();
  EXPECT_FALSE(dialog.ClientPanel2->isHidden());
  EXPECT_FALSE(dialog.CBcompression->isHidden());
  EXPECT_EQ(dialog.CBfiletype->currentIndex(), 1);
  EXPECT_EQ(dialog.CBfiletype->itemText(0), QString::fromUtf8("32 Bit Fließkomma"));
  EXPECT_EQ(dialog.FileNameText(), "noise.tif");
  dialog.SetFilterIndex(SfFits);
  dialog.TypeChange();
  EXPECT_TRUE(dialog.CBcompression->isHidden());
  EXPECT_EQ(dialog.CBfiletype->currentIndex(), 2);
  EXPECT_EQ(dialog.FileNameText(), "noise.fit");
  dialog.SetFilterIndex(SfBmp);
  dialog.TypeChange();
  EXPECT_EQ(dialog.FileNameText(), "noise.bmp");
  EXPECT_TRUE(dialog.ClientPanel->isHidden());
  EXPECT_TRUE(dialog.ClientPanel2->isHidden());
}

TEST_F(FileMenuTest, JpegSizeEstimateAndQualitySearch) {
  OpenNoise(1, 300, 200);
  TJSaveDialog dialog(main_.get());
  dialog.Prepare(1);
  dialog.SetFilterIndex(SfJpeg);
  // A typed quality: the size at it, and the setting.
  dialog.JPEGcompression->setText("85");
  EXPECT_TRUE(dialog.SizeTimer->isActive());
  EXPECT_EQ(dialog.LastEdited, 1);
  dialog.SizeTimerFired();
  EXPECT_EQ(Settings.JpegQuality, 85);
  EXPECT_EQ(dialog.JPEGfilesize->text().toInt(), dialog.JpegSize(85));
  EXPECT_FALSE(dialog.SizeTimer->isActive());  // the dialog's own writes do not restart it
  dialog.JPEGcompression->setText("150");
  dialog.SizeTimerFired();
  EXPECT_EQ(Settings.JpegQuality, 100);
  // A typed size: the highest quality whose size stays below it.
  const int32_t at60 = dialog.JpegSize(60);
  ASSERT_LT(dialog.JpegSize(20), at60);
  dialog.JPEGfilesize->setText(QString::number(at60));
  EXPECT_EQ(dialog.LastEdited, 2);
  dialog.SizeTimerFired();
  const int q = dialog.JPEGcompression->text().toInt();
  EXPECT_EQ(Settings.JpegQuality, q);
  EXPECT_LE(dialog.JpegSize(q), at60);
  if (dialog.JpegSize(q) < at60) {
    EXPECT_GE(dialog.JpegSize(q + 1), at60);
  }
  // Larger than the size at quality 100: quality 100 and its size.
  dialog.JPEGfilesize->setText(QString::number(dialog.JpegSize(100) + 1000));
  dialog.SizeTimerFired();
  EXPECT_EQ(dialog.JPEGcompression->text(), "100");
  EXPECT_EQ(dialog.JPEGfilesize->text().toInt(), dialog.JpegSize(100));
  // Smaller than the size at quality 1: quality 0 (written as 1).
  dialog.JPEGfilesize->setText("0");
  dialog.SizeTimerFired();
  EXPECT_EQ(dialog.JPEGcompression->text(), "0");
  // A quality typed just before Save is the one used.
  dialog.JPEGcompression->setText("77");
  dialog.accept();
  EXPECT_EQ(Settings.JpegQuality, 77);
}

TEST_F(FileMenuTest, SaveAsThroughTheDialog) {
  OpenNoise(1, 40, 30);
  area_->setActiveSubWindow(ImageWindow(1));
  Store.FileName[1] = dir_.file("shot.fit");
  Settings.TiffSaveFormat = 2;
  QTimer::singleShot(0, [this] {
    TJSaveDialog& d = JSaveDialog(main_.get());
    d.SetFilterIndex(SfPng);
    d.TypeChange();
    d.CBcompression->setChecked(true);
    d.accept();
  });
  FileSaveItemClick(main_.get());
  EXPECT_EQ(Store.FileName[1], dir_.file("shot.png"));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("shot.png")));
  EXPECT_EQ(Settings.RecentFiles[1], dir_.file("shot.png"));
  EXPECT_EQ(Settings.TiffSaveFormat, 6);  // the dialog's TIFF type stays, "Komprimiert" adds 4
}

}  // namespace
}  // namespace astrelon::test
