// The speckle window's inputs: chosen and dropped files, the file list, the
// video and its navigation, and the preview frame.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <new>
#include <stdexcept>

#include "common/file_extension.h"
#include "common/series_number.h"
#include "frequency/ui/speckle_dialog.h"
#include "frequency/ui/speckle_preview.h"
#include "shell/display/preview_bitmap.h"
#include "shell/main/known_extensions.h"
#include "shell/ui/controls/control_utils.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/ui/open_dialog.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

bool IsVideo(const std::string& name) { return UpperFileExt(name) == ".AVI"; }

}  // namespace

void TForm32::OpenBtnClick() {
  TPicOpenDialog& dialog = PicOpenDialog(this);
  if (!ExecuteOpenDialog(dialog)) return;
  OpenFiles(dialog.selectedFiles());
}

void TForm32::OpenFiles(const QStringList& names) {
  if (names.isEmpty()) return;
  int previewPlanes = 0;
  const std::string first = names.front().toStdString();
  if (names.size() == 1 && IsVideo(first)) {
    CloseVideo();
    bool opened = false;
    try {
      opened = OpenAviStream(Video, first, true);
    } catch (const std::exception&) {
      opened = false;  // a video that does not decode is not taken
    }
    SeriesMode = false;
    AviMode = opened;
    VideoOpen = opened;
    if (opened) {
      const TPictureFormat& f = Video.Frame.Format;
      Session.FrameWidth = f.Width;
      Session.FrameHeight = f.Height;
      Session.FramePlanes = f.Channels >= 3 ? 3 : 1;
      previewPlanes = Session.FramePlanes;
      Edit4->setText(names.front());
      Edit5->setText("1");
      Edit8->setText(QString::number(Video.FrameCount));
    } else {
      Edit4->clear();
    }
  } else {
    for (const QString& name : names)
      if (!IsVideo(name.toStdString()) && LoadPreviewFrame(name.toStdString())) {
        previewPlanes = Session.FramePlanes;
        break;
      }
    CloseVideo();
    AviMode = false;
    if (names.size() == 1) {
      SeriesMode = true;
      Edit4->setText(names.front());
      Edit5->setText(QString::number(GetSeriesNumber(first)));
      Edit8->setText("9999");
    } else {
      SeriesMode = false;
      Edit4->clear();
      for (const QString& name : names)
        if (!IsVideo(name.toStdString())) ListBoxInsertSorted(ListBox1, name, 0);
    }
  }
  if (previewPlanes > 0) ComboBox1->setCurrentIndex(previewPlanes >= 3 ? 0 : 1);
  Image1->Shape1->hide();
  UpdateRegionLabels();
  UpdateSpeckleMemory();
  ShowPanelsForMode();
  ResizeToPreview();
}

void TForm32::DropFiles(const QStringList& names) {
  const bool wasEmpty = ListBox1->count() == 0;
  QStringList taken;
  for (const QString& name : names) {
    const std::string n = name.toStdString();
    if (IsVideo(n) || !AcceptedImageExtension(n)) continue;
    if (ListBoxInsertSorted(ListBox1, name, 0) >= 0) taken << name;
  }
  if (wasEmpty && !SeriesMode && !AviMode && ListBox1->count() > 0 &&
      LoadPreviewFrame(ListBox1->item(0)->text().toStdString())) {
    ComboBox1->setCurrentIndex(Session.FramePlanes >= 3 ? 0 : 1);
    Image1->Shape1->hide();
    UpdateRegionLabels();
    UpdateSpeckleMemory();
    ResizeToPreview();
  }
  ShowPanelsForMode();
}

bool TForm32::LoadPreviewFrame(const std::string& fileName) {
  const int slot = FindFreeSlot();
  if (slot < 1) return false;
  bool loaded = false;
  try {
    loaded = LoadImageFile(slot, fileName);
  } catch (const std::bad_alloc&) {
    loaded = false;
  }
  TDisplayBitmap bitmap;
  if (loaded) {
    SetAutoDisplayRange(slot, false);
    loaded = FillPreviewBitmap(slot, bitmap, false);
  }
  if (loaded) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    const bool sizeChanged = im.Width != Session.FrameWidth || im.Height != Session.FrameHeight;
    Session.FrameWidth = im.Width;
    Session.FrameHeight = im.Height;
    Session.FramePlanes = im.PlaneCount;
    SetPreview(BitmapImage(bitmap).copy());
    if (sizeChanged) {
      Image1->Shape1->hide();
      UpdateRegionLabels();
      UpdateSpeckleMemory();
    }
  }
  if (SlotInUse(slot)) FreeSlot(slot);
  return loaded;
}

void TForm32::ShowVideoFrame(const TPicture& frame, int32_t index) {
  SetPreview(PictureImage(frame).copy());
  Label31->setText("#" + QString::number(int64_t(index) + 1));
}

void TForm32::GoToVideoFrame(int64_t index) {
  if (!VideoOpen || Video.FrameCount < 1) return;
  index = std::clamp<int64_t>(index, 0, int64_t(Video.FrameCount) - 1);
  try {
    ReadAviFrame(Video, int32_t(index), true);
  } catch (const std::exception&) {
  }
}

void TForm32::SetPreview(const QImage& picture) {
  Image1->SetPicture(picture);
  Image1->show();
}

void TForm32::HidePreview() {
  Image1->Shape1->hide();
  Image1->hide();
  UpdateRegionLabels();
}

void TForm32::CloseVideo() {
  if (VideoOpen) CloseAviStream(Video);
  VideoOpen = false;
}

void TForm32::ClearList() {
  ListBox1->clear();
  HidePreview();
}

void TForm32::RemoveSelectedEntries() {
  qDeleteAll(ListBox1->selectedItems());
  ListBoxFitScrollWidth(ListBox1);
  if (ListBox1->count() == 0) HidePreview();
}

void TForm32::ClearSeriesEntry() {
  Edit4->clear();
  SeriesMode = AviMode = false;
  CloseVideo();
  if (ListBox1->count() > 0)
    LoadPreviewFrame(ListBox1->item(0)->text().toStdString());
  else
    HidePreview();
  ShowPanelsForMode();
}

void TForm32::ShowPanelsForMode() {
  RangePanel->setVisible(AviMode || SeriesMode);
  Panel7->setVisible(AviMode);
  const bool list = !AviMode && !SeriesMode;
  ListLabel->setVisible(list);
  ListBox1->setVisible(list);
  Image2->setVisible(list);
}

QSize TForm32::PanelAndPreviewSize() const {
  const QSize p = Image1->isVisibleTo(PreviewBox) ? Image1->size() : QSize(0, 0);
  const int frame = 2 * PreviewBox->frameWidth() + Splitter1->handleWidth() + 4;
  // The panel as the splitter has it once shown, else as wide as it asks to be.
  const int panel = Panel1->isVisible() ? Panel1->width() : Panel1->sizeHint().width();
  QSize size(std::max(minimumWidth(), panel + p.width() + frame), std::max(minimumHeight(), p.height() + frame));
  // On a narrower screen the preview scrolls.
  if (const QScreen* s = screen()) size = size.boundedTo(s->availableGeometry().size().expandedTo(minimumSize()));
  return size;
}

void TForm32::ResizeToPreview() { resize(PanelAndPreviewSize()); }

void TForm32::Splitter1Moved() {
  // The splitter moves the panel's edge; the window follows so that the preview keeps its width.
  if (const int w = PanelAndPreviewSize().width(); w != width()) resize(w, height());
}

void TForm32::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  // The width stays that of the panel and the preview; the height is free.
  if (e->size().width() != e->oldSize().width())
    QTimer::singleShot(0, this, [this] { Splitter1Moved(); });
}

void TForm32::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TForm32::dropEvent(QDropEvent* e) {
  QStringList names;
  for (const QUrl& url : e->mimeData()->urls())
    if (url.isLocalFile()) names << url.toLocalFile();
  DropFiles(names);
  e->acceptProposedAction();
}

bool TForm32::eventFilter(QObject* watched, QEvent* e) {
  if (watched == ListBox1 && e->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
    RemoveSelectedEntries();
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace astrelon
