#include "store/ui/open_dialog.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QToolTip>
#include <exception>
#include <filesystem>

#include "common/file_extension.h"
#include "common/paths.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/settings.h"
#include "platform/avi_reader.h"
#include "shell/display/preview_bitmap.h"
#include "shell/main/known_extensions.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/display/preview_sampler.h"
#include "store/fits/fits_preview.h"
#include "store/image_store.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/jpeg_reader.h"
#include "store/pictures/png_reader.h"
#include "store/pictures/pnm_preview.h"
#include "store/raw/camera_raw.h"
#include "store/raw/own_raw.h"
#include "store/tiff/tiff_preview.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Panel measures: the picture area of 280 x 186 with room for the size label above it.
constexpr int PanelWidth = 286;
constexpr int PanelHeight = 224;

QPointer<TPicOpenDialog>& OpenDialogInstance() {
  static QPointer<TPicOpenDialog> dialog;
  return dialog;
}

QString NoPreviewText() { return Q(LangTextOr(LangKey(9, 36), "Keine Vorschau")); }

QString SizeText(int32_t w, int32_t h) {
  const std::string word = LangText(LangKey(13, 6));
  return QString("%1 x %2 %3").arg(w).arg(h).arg(word.empty() ? QString("Pixel") : Q(word));
}

}  // namespace

TPicOpenDialog::TPicOpenDialog(QWidget* parent) : QFileDialog(parent) {
  setObjectName("tPicOpenDialog1");
  setOption(QFileDialog::DontUseNativeDialog, true);
  setOption(QFileDialog::ReadOnly, true);
  setFileMode(QFileDialog::ExistingFiles);
  setAcceptMode(QFileDialog::AcceptOpen);
  setViewMode(QFileDialog::Detail);
  setSizeGripEnabled(true);

  ClientPanel = new QFrame(this);
  ClientPanel->setObjectName("ClientPanel");
  ClientPanel->setFrameShape(QFrame::Panel);
  ClientPanel->setFrameShadow(QFrame::Sunken);
  ClientPanel->setFixedSize(PanelWidth, PanelHeight);
  Picture = new QLabel(ClientPanel);
  Picture->setObjectName("Picture");
  Picture->setGeometry(0, 0, PanelWidth, PanelHeight);
  Bildgroesse = new QLabel(ClientPanel);
  Bildgroesse->setObjectName("Bildgroesse");
  Bildgroesse->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Bildgroesse->setGeometry(4, 5, 200, 20);
  showhidepreview = new QCheckBox("Vorschau", ClientPanel);
  showhidepreview->setObjectName("showhidepreview");
  showhidepreview->setGeometry(204, 1, 80, 25);
  SetButtonHint("Vorschau ein-/ausschalten");
  SetLabelCaption(" ");
  // The panel stands right of the file list, over all rows of the dialog.
  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(ClientPanel, 0, grid->columnCount(), grid->rowCount(), 1, Qt::AlignTop);

  Timer2 = new QTimer(this);
  Timer2->setInterval(100);
  connect(Timer2, &QTimer::timeout, this, &TPicOpenDialog::Timer2Timer);
  connect(showhidepreview, &QCheckBox::clicked, this, &TPicOpenDialog::PreviewBoxClick);
  connect(this, &QFileDialog::currentChanged, this, &TPicOpenDialog::SetCurrentFile);
  connect(this, &QDialog::finished, this, [] { QToolTip::hideText(); });
  setNameFilters(OpenDialogFilters());
}

void TPicOpenDialog::SetButtonHint(const QString& hint) { showhidepreview->setToolTip(hint); }

void TPicOpenDialog::SetLabelCaption(const QString& caption) { Bildgroesse->setText(caption); }

void TPicOpenDialog::SetCurrentFile(const QString& name) {
  currentFile_ = name;
  PreviewFileInDialog();
}

void TPicOpenDialog::PreviewBoxClick() {
  if (showhidepreview->isChecked()) return;
  Picture->hide();
  Bildgroesse->clear();
}

void TPicOpenDialog::Timer2Timer() {
  if (!showhidepreview->isChecked()) {
    PreviewTicked = false;
  } else if (!PreviewTicked) {
    PreviewTicked = true;
    PreviewFileInDialog();
  }
}

// Reads the preview of `name` (w and h: the picture's full size, 0 when none).
bool TPicOpenDialog::ReadPreview(const std::string& name, int slot, int32_t& w, int32_t& h) {
  const std::string fullExt = UpperFileExt(name);
  TDisplayBitmap bitmap;
  QImage image;
  auto showSlot = [&] {
    if (FillPreviewBitmap(slot, bitmap, true)) image = BitmapImage(bitmap);
  };
  ++PreviewReads;
  if (ContainsStr(OwnRawExtensionList, fullExt)) {
    if (LoadOwnRawFile(slot, name, true)) {
      w = Store.Image[size_t(slot)].Width;
      h = Store.Image[size_t(slot)].Height;
      showSlot();
    }
  } else {
    const std::string ext = fullExt.substr(0, 4);
    if (ext == ".FTS" || ext == ".FIT") {
      if (LoadFitsPreview(slot, name, w, h)) showSlot();
    } else if (!ContainsStr(std::string(KnownImageExtensions) + OwnRawExtensionList, ext)) {
      --PreviewReads;  // nothing is read
    } else if (ext == ".AVI") {
      TAviReader reader;
      if (OpenAviStream(reader, name, false) && reader.Frame.Format.Width > 0) {
        w = reader.Frame.Format.Width;
        h = reader.Frame.Format.Height;
        image = PictureImage(reader.Frame).copy();
      }
    } else if (ext == ".JPG") {
      int32_t fw = 0, fh = 0;
      const auto decode = [&](std::span<const uint8_t> data, TPictureSink& sink) {
        return DecodeJpegPreview(data, sink, fw, fh);
      };
      if (LoadPicturePreview(name, decode, bitmap, w, h)) {
        w = fw;
        h = fh;
        image = BitmapImage(bitmap);
      }
    } else if (ext == ".PPM") {
      if (LoadPnmPreview(bitmap, name, w, h)) image = BitmapImage(bitmap);
    } else if (ext == ".BMP" || ext == ".PNG") {
      const auto decode = [&](std::span<const uint8_t> data, TPictureSink& sink) {
        return ext == ".BMP" ? DecodeBmp(data, 0, sink) : DecodePng(data, 0, sink);
      };
      if (LoadPicturePreview(name, decode, bitmap, w, h)) image = BitmapImage(bitmap);
    } else if (ext == ".TIF") {
      TPreviewSize size;
      LoadTiffPreview(PreviewBoxWidth, PreviewBoxHeight, name, size, bitmap);
      w = size.Width;
      h = size.Height;
      if (w > 0 && h > 0) image = BitmapImage(bitmap);
    } else {
      const bool interpolate = astrelon::Options.RawInterpolation != 0;
      if (LoadCameraRaw(slot, name, interpolate, true, false)) {
        const int32_t shrink = LastRawDecode.Shrink;
        w = LastRawDecode.Width << shrink;
        h = LastRawDecode.Height << shrink;
        if (interpolate && shrink > 0) w -= 2, h -= 2;
        showSlot();
      }
    }
  }
  if (w <= 0 || h <= 0 || image.isNull()) return false;
  LastPictureSize = image.size();
  StretchPreviewToControl(Picture, image);
  return true;
}

void TPicOpenDialog::PreviewFileInDialog() {
  if (!showhidepreview->isChecked() || PreviewBusy) return;
  PreviewBusy = true;
  const int slot = FindFreeSlot();
  if (slot >= 1) {
    TBusyCursorScope busy;
    std::string name = currentFile_.toStdString();
    // A symbolic link shows the file it points to.
    std::error_code ec;
    if (std::filesystem::is_symlink(name, ec)) {
      const auto target = std::filesystem::canonical(name, ec);
      if (!ec) name = target.string();
    }
    if (!name.empty() && Q(name) == LastPreviewName) {
      Picture->show();
      Bildgroesse->setText(lastPreviewLabel_);
    } else if (name.empty() || !std::filesystem::is_regular_file(name, ec)) {
      Bildgroesse->setText(NoPreviewText());
      Picture->hide();
    } else {
      int32_t w = 0, h = 0;
      bool shown = false;
      try {
        shown = ReadPreview(name, slot, w, h);
      } catch (...) {
        // Any failure of a reader only means no preview.
        shown = false;
      }
      if (shown) {
        Picture->show();
        lastPreviewLabel_ = SizeText(w, h);
        Bildgroesse->setText(lastPreviewLabel_);
        LastPreviewName = Q(name);
      } else {
        Bildgroesse->setText(NoPreviewText());
        Picture->hide();
      }
    }
    if (Store.InUse[size_t(slot)]) CloseImageSlot(slot);
  }
  PreviewBusy = false;
}

TPicOpenDialog& PicOpenDialog(QWidget* parent) {
  QPointer<TPicOpenDialog>& dialog = OpenDialogInstance();
  if (!dialog) dialog = new TPicOpenDialog(parent);
  return *dialog;
}

bool ExecuteOpenDialog(TPicOpenDialog& dialog) {
  dialog.showhidepreview->setChecked(Options.Preview != 0);
  dialog.PreviewTicked = Options.Preview != 0;
  dialog.Timer2->start();
  const bool accepted = dialog.exec() == QDialog::Accepted;
  dialog.Timer2->stop();
  Options.Preview = dialog.showhidepreview->isChecked() ? 1 : 0;
  return accepted;
}

QString OpenFilterText() {
  // ".RAW.DAT" becomes ";*.RAW;*.DAT".
  QString own = Q(OwnRawExtensionList);
  own.replace(".", ";*.");
  QString title = Q(LangTextOr(LangKey(9, 37), "Alle Formate"));
  if (title.isEmpty()) title = "All Formats";
  const QString raw =
      "*.3fr;*.arw;*.bay;*.bmq;*.cr2;*.crw;*.cs1;*.dc2;*.dcr;*.dng;*.erf;*.fff;*.k25;*.kdc;*.mef;*.mos;*.mrw;*.nef;"
      "*.orf;*.pef;*.raf;*.raw;*.rdc;*.srf;*.x3f";
  return title + "|*.fits;*.fts;*.fit;*.bmp;*.jpg;*.jpeg;*.jpe;*.tif;*.tiff;*.ppm;*.pgm;*.png;*.avi;" + raw + own +
         "|FITS|*.fits;*.fts;*.fit|BITMAP|*.bmp|JPEG|*.jpg;*.jpeg;*.jpe|TIFF|*.tif;*.tiff|PPM|*.ppm;*.pgm|PNG|*.png"
         "|AVI|*.avi|Raw|*.3fr;*.arw;*.bay;*.bmq;*.cr2;*.crw;*.cs1;*.dc2;*.dcr;*.dng;*.erf;*.fff;*.jpg;*.k25;*.kdc;"
         "*.mef;*.mos;*.mrw;*.nef;*.orf;*.pef;*.raf;*.raw;*.rdc;*.srf;*.tif;*.x3f" +
         own;
}

QStringList OpenDialogFilters() {
  const QStringList parts = OpenFilterText().split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    filters << parts[i] + " (" + parts[i + 1].split(';', Qt::SkipEmptyParts).join(' ') + ")";
  return filters;
}

void BuildOpenFilter() {
  if (TPicOpenDialog* d = OpenDialogInstance()) d->setNameFilters(OpenDialogFilters());
}

}  // namespace astrelon
