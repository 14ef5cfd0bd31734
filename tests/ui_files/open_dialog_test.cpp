// The open dialog's preview panel, the clipboard paste and the own RAW editor.
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "pixelops/ui/mosaic/mosaic_commands.h"
#include "pixelops/ui/mosaic/mosaic_dialog.h"
#include "platform/memory_probe.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_bitmap.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/pictures/jpeg_reader.h"
#include "store/pictures/jpeg_writer.h"
#include "store/raw/own_raw.h"
#include "store/ui/clipboard_paste.h"
#include "store/ui/open_dialog.h"
#include "store/ui/raw_format_editor.h"
#include "store/ui/store_commands.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

int SlotsInUse() {
  int n = 0;
  for (int s = 0; s < SlotArraySize; ++s) n += Store.InUse[size_t(s)];
  return n;
}

// Keeps the own RAW layouts and options of the program as they were.
class OwnStateGuard {
public:
  OwnStateGuard() : defs_(RawFormatDefs), list_(OwnRawExtensionList), options_(Options) {}
  ~OwnStateGuard() {
    RawFormatDefs = defs_;
    OwnRawExtensionList = list_;
    Options = options_;
  }

private:
  std::array<TRawFormatDef, RawFormatCount + 1> defs_;
  std::string list_;
  TProgramOptions options_;
};

class OpenDialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    SetEngineUi(&ui_);
    dialog_ = std::make_unique<TPicOpenDialog>();
    dialog_->showhidepreview->setChecked(true);
  }
  void TearDown() override {
    dialog_.reset();
    SetEngineUi(nullptr);
    Store.Reset();
  }
  // Previews a file; the size label's text.
  QString Preview(const std::string& file) {
    dialog_->SetCurrentFile(QString::fromStdString(file));
    return dialog_->Bildgroesse->text();
  }
  std::string Jpeg(int w, int h, const std::string& name) {
    TDisplayBitmap b;
    b.Resize(w, h, TBitmapFormat::Bgr24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 3; ++x) b.Row(y)[size_t(x)] = uint8_t(x / 3 + y);
    const std::string f = dir_.file(name);
    EXPECT_TRUE(SaveJpegFile(b, 80, false, f));
    return f;
  }
  // A copy of the first half of a file.
  std::string Cut(const std::string& file, const std::string& name) {
    std::vector<unsigned char> all = ReadAll(file);
    all.resize(all.size() / 2);
    WriteAll(dir_.file(name), all);
    return dir_.file(name);
  }
  std::string Garbage(const std::string& name) {
    std::vector<unsigned char> bytes(5000);
    uint32_t seed = 12345;
    for (unsigned char& b : bytes) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    WriteAll(dir_.file(name), bytes);
    return dir_.file(name);
  }

  OwnStateGuard guard_;
  TEngineUi ui_;
  TempDir dir_;
  std::unique_ptr<TPicOpenDialog> dialog_;
};

TEST_F(OpenDialogTest, JpegPreviewsDecodeAtTheScaleOfTheirSize) {
  EXPECT_EQ(Preview(Jpeg(4000, 3000, "big.jpg")), "4000 x 3000 Pixel");
  EXPECT_EQ(dialog_->LastPictureSize, QSize(500, 375));  // one eighth
  EXPECT_FALSE(dialog_->Picture->isHidden());
  EXPECT_EQ(Preview(Jpeg(1000, 500, "wide.jpg")), "1000 x 500 Pixel");
  EXPECT_EQ(dialog_->LastPictureSize, QSize(500, 250));  // one half
  EXPECT_EQ(JpegPreviewScale(559, 100), 1);
  EXPECT_EQ(JpegPreviewScale(2240, 1000), 8);
  EXPECT_EQ(JpegPreviewScale(300, 371), 1);
  EXPECT_EQ(JpegPreviewScale(1000, 1487), 4);
  EXPECT_EQ(SlotsInUse(), 0);
}

TEST_F(OpenDialogTest, EveryFormatShowsItsSizeAndBadFilesShowNoPreview) {
  const std::string data = ASTRELON_TEST_DATA;
  // A FITS file written from a slot.
  TPicture pic;
  pic.Format = {30, 20, 1, 8, false};
  pic.Samples8.assign(600, 77);
  ASSERT_TRUE(GraphicToSlot(pic, 1, false));
  const std::string fits = dir_.file("a.fit");
  ASSERT_TRUE(SaveFits(1, 16, fits, true, false));
  Store.Reset();
  // An own RAW layout and a file of it.
  TRawFormatDef& d = RawFormatDefs[1];
  d = {1, ".dat", 16, 6, 4, 8, 0, 0, 0, ""};
  BuildOwnRawExtensionList();
  const std::string own = dir_.file("a.dat");
  WriteAll(own, std::vector<unsigned char>(16 + 24, 100));
  const std::string avi = dir_.file("a.avi");
  const bool haveFfmpeg = std::system(("ffmpeg -y -f lavfi -i testsrc=size=64x48:rate=5 -frames:v 3 -c:v rawvideo "
                                       "-pix_fmt bgr24 " + avi + " >/dev/null 2>&1").c_str()) == 0;
  struct TCase {
    std::string File;
    const char* Size;
    bool GarbageRefused;  // raw pixel data has no structure to check
  };
  std::vector<TCase> cases = {
      {data + "/libjpeg-turbo/testorig.jpg", "227 x 149 Pixel", true},
      {data + "/pngsuite/basi2c08.png", "32 x 32 Pixel", true},
      {data + "/libtiff/rgb-3c-8b.bmp", "157 x 151 Pixel", true},
      {data + "/libtiff/rgb-3c-8b.tiff", "157 x 151 Pixel", true},
      {data + "/libtiff/rgb-3c-8b.ppm", "157 x 151 Pixel", true},
      {fits, "30 x 20 Pixel", true},
      {own, "6 x 4 Pixel", false},
  };
  if (haveFfmpeg) cases.push_back({avi, "64 x 48 Pixel", true});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    EXPECT_EQ(Preview(c.File), c.Size);
    EXPECT_FALSE(dialog_->Picture->isHidden());
    EXPECT_EQ(SlotsInUse(), 0);
    const std::string ext = std::filesystem::path(c.File).extension().string();
    // Garbage under the format's name: no preview. The first half of the file:
    // no preview, or (where the format allows it) the part that is there.
    if (c.GarbageRefused) {
      EXPECT_EQ(Preview(Garbage("junk" + ext)), "Keine Vorschau");
      EXPECT_TRUE(dialog_->Picture->isHidden());
    }
    const QString cut = Preview(Cut(c.File, "cut" + ext));
    EXPECT_TRUE(cut == "Keine Vorschau" || cut == c.Size) << cut.toStdString();
    EXPECT_EQ(SlotsInUse(), 0);
  }
  // Extensions without a preview, although some of them open.
  const std::string jpg = data + "/libjpeg-turbo/testorig.jpg";
  for (const char* name : {"a.pgm", "a.jpeg", "noext"}) {
    std::filesystem::copy_file(jpg, dir_.file(name));
    EXPECT_EQ(Preview(dir_.file(name)), "Keine Vorschau") << name;
  }
  EXPECT_EQ(Preview(dir_.file("missing.jpg")), "Keine Vorschau");
}

TEST_F(OpenDialogTest, TheSameFileIsNotReadAgainAndTickingShowsThePreview) {
  const std::string a = Jpeg(40, 30, "a.jpg"), b = Jpeg(50, 30, "b.jpg");
  Preview(a);
  EXPECT_EQ(dialog_->PreviewReads, 1);
  EXPECT_EQ(Preview(dir_.file("none.jpg")), "Keine Vorschau");
  EXPECT_EQ(Preview(a), "40 x 30 Pixel");  // picture and label come back without reading
  EXPECT_FALSE(dialog_->Picture->isHidden());
  EXPECT_EQ(dialog_->PreviewReads, 1);
  // A symbolic link shows its target, which is already shown.
  std::filesystem::create_symlink(a, dir_.file("link.jpg"));
  EXPECT_EQ(Preview(dir_.file("link.jpg")), "40 x 30 Pixel");
  EXPECT_EQ(dialog_->PreviewReads, 1);

  // Unticking hides picture and label; ticking again shows the current file within 100 ms.
  dialog_->showhidepreview->click();
  EXPECT_TRUE(dialog_->Picture->isHidden());
  EXPECT_TRUE(dialog_->Bildgroesse->text().isEmpty());
  EXPECT_EQ(Preview(b), "");  // nothing is previewed while unticked
  dialog_->Timer2->start();
  QTest::qWait(150);
  EXPECT_TRUE(dialog_->Bildgroesse->text().isEmpty());
  dialog_->showhidepreview->click();
  QTest::qWait(150);
  dialog_->Timer2->stop();
  EXPECT_EQ(dialog_->Bildgroesse->text(), "50 x 30 Pixel");
  EXPECT_EQ(dialog_->PreviewReads, 2);

  // Slots already in use stay as they are; with none free there is no preview.
  for (int s = 1; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  Preview(Jpeg(60, 30, "c.jpg"));
  EXPECT_EQ(dialog_->PreviewReads, 2);
  EXPECT_EQ(SlotsInUse(), MaxImageSlots);
}

TEST_F(OpenDialogTest, OwnExtensionsEndBothFilterGroups) {
  RawFormatDefs[1] = {1, ".raw", 0, 4, 2, 16, 0, 0, 0, ""};
  RawFormatDefs[2] = {0, ".off", 0, 4, 2, 16, 0, 0, 0, ""};
  RawFormatDefs[3] = {1, ".dat", 0, 4, 2, 16, 0, 0, 0, ""};
  BuildOwnRawExtensionList();
  EXPECT_EQ(OwnRawExtensionList, ".RAW.DAT");
  const QStringList parts = OpenFilterText().split('|');
  ASSERT_EQ(parts.size(), 18);
  EXPECT_EQ(parts[0], "Alle Formate");
  EXPECT_TRUE(parts[1].endsWith(";*.x3f;*.RAW;*.DAT"));
  EXPECT_EQ(parts[16], "Raw");
  EXPECT_TRUE(parts[17].endsWith(";*.x3f;*.RAW;*.DAT"));
  EXPECT_TRUE(OpenDialogFilters()[8].endsWith("*.x3f *.RAW *.DAT)"));
}

TEST_F(OpenDialogTest, ExecutingKeepsThePreviewSetting) {
  Options.Preview = 1;
  WhenModal([](QWidget* w) {
    static_cast<TPicOpenDialog*>(w)->showhidepreview->setChecked(false);
    static_cast<QDialog*>(w)->reject();
  });
  EXPECT_FALSE(ExecuteOpenDialog(*dialog_));
  EXPECT_EQ(Options.Preview, 0);
  EXPECT_FALSE(dialog_->Timer2->isActive());
}

class ClipboardTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    SetEngineUi(&ui_);
    main_ = std::make_unique<QMainWindow>();
    area_ = new QMdiArea;
    main_->setCentralWidget(area_);
    AttachMainWindow(main_.get(), area_);
    main_->show();
  }
  void TearDown() override {
    area_->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    SetEngineUi(nullptr);
    Store.Reset();
  }
  TEngineUi ui_;
  std::unique_ptr<QMainWindow> main_;
  QMdiArea* area_ = nullptr;
};

TEST_F(ClipboardTest, PastesBecomeNumberedImages) {
  QImage image(5, 3, QImage::Format_RGB32);
  image.fill(QColor(10, 20, 30));
  image.setPixelColor(4, 2, QColor(200, 100, 0));
  QGuiApplication::clipboard()->setImage(image);
  PasteClipboardImage();
  PasteClipboardImage();
  ASSERT_EQ(Store.InUse[1], 1);
  EXPECT_EQ(Store.FileName[1], "ClpBrd1.bmp");
  EXPECT_EQ(Store.FileName[2], "ClpBrd2.bmp");
  EXPECT_TRUE(ImageWindow(2));
  const TImageSlot& im = Store.Image[1];
  EXPECT_EQ(im.Width, 5);
  EXPECT_EQ(im.PlaneCount, 3);
  EXPECT_EQ(im.At(1, 0, 0), 10.0f);
  EXPECT_EQ(im.At(3, 0, 0), 30.0f);
  EXPECT_EQ(im.At(1, 4, 2), 200.0f);

  // All slots in use: a message and nothing else; an empty clipboard: nothing.
  for (int s = 3; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  PasteClipboardImage();
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Es sind zu viele Bilder geöffnet");
  for (int s = 3; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;
  QGuiApplication::clipboard()->clear();
  PasteClipboardImage();
  EXPECT_EQ(Store.InUse[3], 0);
  EXPECT_EQ(ui_.Messages.size(), 1u);
}

// A picture on the clipboard of the platform comes as encoded bytes that are
// decoded when asked for, under the image reader's allocation limit.
class EncodedPicture : public QMimeData {
public:
  explicit EncodedPicture(QByteArray png) : png_(std::move(png)) {}
  QStringList formats() const override { return {"application/x-qt-image", "image/png"}; }

protected:
  QVariant retrieveData(const QString& type, QMetaType) const override {
    if (type == "application/x-qt-image") return QImage::fromData(png_, "PNG");
    return type == "image/png" ? QVariant(png_) : QVariant();
  }

private:
  QByteArray png_;
};

TEST_F(ClipboardTest, PicturesAboveTheReadersLimitArePastedOrReported) {
  QImage picture(1200, 900, QImage::Format_RGB32);
  picture.fill(QColor(40, 50, 60));
  QByteArray png;
  QBuffer buffer(&png);
  ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
  const int savedLimit = QImageReader::allocationLimit();
  // 2 MB stands in for the reader's 128 MB: the 4.3 MB picture is above it.
  QImageReader::setAllocationLimit(2);
  QGuiApplication::clipboard()->setMimeData(new EncodedPicture(png));
  PasteClipboardImage();
  EXPECT_EQ(QImageReader::allocationLimit(), 2);
  ASSERT_TRUE(Store.InUse[1]);
  EXPECT_EQ(Store.Image[1].Width, 1200);
  EXPECT_EQ(Store.Image[1].At(2, 600, 450), 50.0f);
  EXPECT_TRUE(ui_.Messages.empty());
  // Too little free memory for the store: the picture cannot be had, and that is said.
  AvailableMemoryOverride = [] { return uint64_t(8) << 20; };
  PasteClipboardImage();
  AvailableMemoryOverride = nullptr;
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(ui_.Messages, std::vector<std::string>{"Das Bild aus dem Zwischenspeicher konnte nicht gelesen werden."});
  QImageReader::setAllocationLimit(savedLimit);
  QGuiApplication::clipboard()->clear();
}

// The RAW layout editor opened by its menu item with no layouts defined.
TForm24* OpenEmptyRawFormatEditor() {
  RawFormatDefs = {};
  BuildOwnRawExtensionList();
  RegisterStoreCommands();
  if (!RunMenuCommand("RAWFormaterstellen1")) return nullptr;
  return qobject_cast<TForm24*>(DialogForm(RawFormatEditorForm));
}

TEST(RawFormatEditorTest, EditsChangeTheLayoutAndCloseRebuildsTheLists) {
  OwnStateGuard guard;
  ConfigHome home;
  auto* form = OpenEmptyRawFormatEditor();
  ASSERT_TRUE(form);
  EXPECT_TRUE(form->isVisible());
  form->TabControl1->setCurrentIndex(1);
  form->Edit1->setText(".fts2");
  form->Edit2->setText("100");
  form->Edit3->setText("640");
  form->Edit4->setText("480");
  form->ComboBox2->setCurrentIndex(0);
  form->CheckBox1->setChecked(true);
  const TRawFormatDef& d = RawFormatDefs[2];
  EXPECT_EQ(d.Extension, ".fts2");
  EXPECT_EQ(d.Width, 640);
  EXPECT_EQ(d.Height, 480);
  EXPECT_EQ(d.IntelOrder, 1);
  EXPECT_EQ(d.Bits, 16);
  EXPECT_TRUE(form->SaveBtn->isEnabled());
  // A width that is no integer stops the copy there: the height stays.
  form->Edit3->setText("6x0");
  form->Edit4->setText("12");
  EXPECT_EQ(d.Width, 640);
  EXPECT_EQ(d.Height, 480);
  form->Edit3->setText("640");
  // Colour interpolation enables the pattern field.
  EXPECT_FALSE(form->Edit5->isEnabled());
  form->CheckBox2->click();
  EXPECT_TRUE(form->Edit5->isEnabled());
  form->SaveBtn->click();
  EXPECT_FALSE(form->SaveBtn->isEnabled());
  EXPECT_EQ(d.Modified, 0);
  EXPECT_TRUE(std::filesystem::exists(RawDefinitionFileName(2)));
  // The lists follow only when the editor closes.
  EXPECT_EQ(OwnRawExtensionList, "");
  form->Button1->click();
  QApplication::processEvents();
  EXPECT_EQ(OwnRawExtensionList, ".FTS2");
  // Loading a definition file into a tab.
  ASSERT_TRUE(RunMenuCommand("RAWFormaterstellen1"));
  form = qobject_cast<TForm24*>(DialogForm(RawFormatEditorForm));
  ASSERT_TRUE(form);
  form->LoadDefinition(QString::fromStdString(RawDefinitionFileName(2)));
  EXPECT_EQ(RawFormatDefs[1].Extension, ".fts2");
  EXPECT_EQ(form->Edit3->text(), "640");
  form->close();
  QApplication::processEvents();
}

TEST(RawFormatEditorTest, ThePatternButtonRunsTheColourMosaicDialogsOpenDialog) {
  OwnStateGuard guard;
  ConfigHome home;
  RegisterMosaicCommands();  // installs the editor's link to the colour-mosaic dialog
  auto* form = OpenEmptyRawFormatEditor();
  ASSERT_TRUE(form);
  TempDir dir;
  const QString file = QString::fromStdString(dir.file("bayer.qcm"));
  ASSERT_TRUE(WriteMosaicSettings(file.toStdString(), TMosaicSettings()));
  QWidget* shown = nullptr;
  WhenModal([&](QWidget* w) {
    shown = w;
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(file);
    static_cast<QDialog*>(dialog)->accept();
  });
  form->OpenBtnClick();
  ASSERT_NE(MosaicDialog(), nullptr);
  EXPECT_EQ(shown, MosaicDialog()->OpenDialog1);
  EXPECT_EQ(form->Edit5->text(), file);
  form->close();
  QApplication::processEvents();
}

}  // namespace
}  // namespace astrelon::test
