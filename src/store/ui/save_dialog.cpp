#include "store/ui/save_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "common/pascal_format.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/settings.h"
#include "shell/display/renderer.h"
#include "shell/save/save_as.h"
#include "store/image_store.h"
#include "store/pictures/jpeg_writer.h"
#include "store/tiff/tiff_writer.h"

namespace astrelon {

namespace {

QString Text(int key, const char* german) { return QString::fromStdString(LangTextOr(key, german)); }

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TJSaveDialog::TJSaveDialog(QWidget* parent) : QFileDialog(parent) {
  setObjectName("JSaveDialog");
  setOption(QFileDialog::DontUseNativeDialog, true);
  // Save As asks itself before a file is replaced.
  setOption(QFileDialog::DontConfirmOverwrite, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setViewMode(QFileDialog::Detail);
  setSizeGripEnabled(true);

  ClientPanel = new QWidget(this);
  ClientPanel->setObjectName("ClientPanel");
  auto* jpeg = new QHBoxLayout(ClientPanel);
  jpeg->setContentsMargins(0, 0, 0, 0);
  Lquality = new QLabel("Qualität:", ClientPanel);
  JPEGcompression = new QLineEdit(ClientPanel);
  JPEGcompression->setObjectName("JPEGcompression");
  JPEGcompression->setToolTip("(1-100)");
  JPEGcompression->setFixedWidth(60);
  Lfilesize = new QLabel("Dateigröße (KB):", ClientPanel);
  JPEGfilesize = new QLineEdit(ClientPanel);
  JPEGfilesize->setObjectName("JPEGfilesize");
  JPEGfilesize->setFixedWidth(80);
  jpeg->addWidget(Lquality);
  jpeg->addWidget(JPEGcompression);
  jpeg->addSpacing(24);
  jpeg->addWidget(Lfilesize);
  jpeg->addWidget(JPEGfilesize);
  jpeg->addStretch(1);

  ClientPanel2 = new QWidget(this);
  ClientPanel2->setObjectName("ClientPanel2");
  auto* types = new QHBoxLayout(ClientPanel2);
  types->setContentsMargins(0, 0, 0, 0);
  CBfiletype = new QComboBox(ClientPanel2);
  CBfiletype->setObjectName("CBfiletype");
  CBfiletype->setMinimumWidth(160);
  CBcompression = new QCheckBox("Komprimiert", ClientPanel2);
  CBcompression->setObjectName("CBcompression");
  types->addWidget(CBfiletype);
  types->addSpacing(16);
  types->addWidget(CBcompression);
  types->addStretch(1);

  // The strip goes under the standard controls, aligned with the file-name field.
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    const int row = grid->rowCount();
    grid->addWidget(ClientPanel, row, 1, 1, grid->columnCount() - 1);
    grid->addWidget(ClientPanel2, row, 1, 1, grid->columnCount() - 1);
  }

  SizeTimer = new QTimer(this);
  SizeTimer->setInterval(1000);
  SizeTimer->setSingleShot(true);
  connect(SizeTimer, &QTimer::timeout, this, &TJSaveDialog::SizeTimerFired);
  connect(JPEGcompression, &QLineEdit::textChanged, this, [this] { EditChange(1); });
  connect(JPEGfilesize, &QLineEdit::textChanged, this, [this] { EditChange(2); });
  connect(CBfiletype, qOverload<int>(&QComboBox::activated), this, &TJSaveDialog::FileTypeChange);
  connect(this, &QFileDialog::filterSelected, this, [this] { TypeChange(); });
  JpegSizeCache.fill(-1);
}

void TJSaveDialog::Prepare(int slot) {
  Slot = slot;
  bitmap_.Clear();
  bitmapReady_ = false;
  JpegSizeCache.fill(-1);
  TimerArmed = true;
  Lquality->setText(Text(LangKey(1, 3, 2, 13), "Qualität") + ":");
  const QString depth = LangText(LangKey(1, 3, 2, 11)).empty() ? QString("Bittiefe=")
                                                                  : Q(LangText(LangKey(1, 3, 2, 11))) + "=";
  if (!LangText(LangKey(1, 3, 2, 15)).empty()) Lfilesize->setText(Q(LangText(LangKey(1, 3, 2, 15))));
  TiffTypeIndex = Settings.TiffSaveFormat & 3;
  if (TiffTypeIndex > 2) TiffTypeIndex = 2;
  TiffCompressed = Settings.TiffSaveFormat > 3;
  FitsTypeIndex = FitsTypeIndexOfBitpix(Settings.FitsSaveFormat);
  setNameFilters({"FITS (*.fts *.fit)", "BITMAP (*.bmp)", "JPEG (*.jpg)", "TIFF (*.tif)",
                  "PNG    (" + depth + "8) (*.png)"});
  const std::string name = ValidSlot(slot) ? Store.FileName[slot] : std::string();
  if (!name.empty()) {
    const std::string folder = name.substr(0, name.size() - FileNamePart(name).size());
    if (!folder.empty()) setDirectory(Q(folder));
    selectFile(Q(FileNamePart(name)));
  }
  SetFilterIndex(SaveFilterForName(name));
}

int TJSaveDialog::FilterIndex() const {
  const int i = int(nameFilters().indexOf(selectedNameFilter()));
  return i < 0 ? 1 : i + 1;
}

void TJSaveDialog::SetFilterIndex(int index) {
  const QStringList filters = nameFilters();
  if (index >= 1 && index <= filters.size()) selectNameFilter(filters[index - 1]);
  UpdatePanels();
}

QString TJSaveDialog::FileNameText() const {
  if (auto* edit = findChild<QLineEdit*>("fileNameEdit")) return edit->text();
  const QStringList files = selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

void TJSaveDialog::UpdatePanels() {
  const int index = FilterIndex();
  if (CBfiletype->count() != 3) {
    CBfiletype->clear();
    const bool translated = !LangText(LangKey(1, 3, 2, 1)).empty();
    if (translated) {
      for (int k = 1; k <= 3; ++k) CBfiletype->addItem(Q(LangText(LangKey(1, 3, 2, k))));
      const std::string c = LangText(LangKey(1, 3, 2, 16));
      CBcompression->setText(c.empty() ? QString("Compressed") : Q(c));
    } else {
      for (const auto& t : TiffSampleTypes) CBfiletype->addItem(QString::fromUtf8(t.DialogEntry));
    }
  }
  if (index == SfFits) CBfiletype->setCurrentIndex(FitsTypeIndex);
  if (index == SfTiff) CBfiletype->setCurrentIndex(TiffTypeIndex);
  ClientPanel->setVisible(index == SfJpeg);
  ClientPanel2->setVisible(index == SfFits || index == SfTiff);
  CBcompression->setVisible(index == SfTiff);
}

void TJSaveDialog::FileTypeChange(int entry) {
  if (FilterIndex() == SfFits) FitsTypeIndex = entry;
  else TiffTypeIndex = entry;
}

void TJSaveDialog::TypeChange() {
  QString name = FileNameText();
  if (!name.isEmpty() && QFileInfo(directory(), name).isDir()) name.clear();
  const int index = FilterIndex();
  if (!name.isEmpty()) {
    if (index >= SfFits && index <= SfPng) name = Q(SaveFileNameFor(name.toStdString(), index));
    else name.clear();
  }
  UpdatePanels();
  if (!name.isEmpty()) {
    if (auto* edit = findChild<QLineEdit*>("fileNameEdit")) edit->setText(Q(FileNamePart(name.toStdString())));
    else selectFile(name);
  }
}

void TJSaveDialog::EditChange(int which) {
  if (TimerArmed) {
    SizeTimer->stop();
    SizeTimer->start();
  }
  LastEdited = which;
}

void TJSaveDialog::SetFields(const QString& quality, const QString* size) {
  const bool armed = TimerArmed;
  TimerArmed = false;
  JPEGcompression->setText(quality);
  if (size) JPEGfilesize->setText(*size);
  TimerArmed = armed;
}

int32_t TJSaveDialog::JpegSize(int quality) {
  quality = std::clamp(quality, 0, 101);
  if (JpegSizeCache[size_t(quality)] >= 0) return JpegSizeCache[size_t(quality)];
  if (!bitmapReady_) {
    // The picture as the window shows it, at full size.
    bitmapReady_ = RenderSlotBitmap(Slot, 100, bitmap_);
    if (!bitmapReady_) return -1;
  }
  const int32_t kb = JpegSizeKB(bitmap_, quality, JpegGreyOutput(bitmap_, Store.Display[Slot].DisplayType));
  JpegSizeCache[size_t(quality)] = kb;
  return kb;
}

void TJSaveDialog::SizeTimerFired() {
  SizeTimer->stop();
  TimerArmed = false;
  if (FilterIndex() == SfJpeg && ValidSlot(Slot) && Store.HasWindow[Slot] && SlotInUse(Slot)) {
    TBusyCursorScope busy;
    if (LastEdited == 1) {
      const std::optional<int64_t> v = TryStrToInt(JPEGcompression->text().trimmed().toStdString());
      if (!v) {
        EngineUi().ShowMessage("'" + JPEGcompression->text().toStdString() + "' ist keine gültige Zahl");
      } else {
        const int q = int(std::clamp<int64_t>(*v, 0, 100));
        Settings.JpegQuality = q;
        const int32_t kb = JpegSize(q);
        const QString size = kb >= 0 ? QString::number(kb) : QString();
        const QString quality = QString::number(q);
        SetFields(*v == q ? JPEGcompression->text() : quality, &size);
      }
    } else {
      const std::optional<int64_t> v = TryStrToInt(JPEGfilesize->text().trimmed().toStdString());
      if (!v) {
        EngineUi().ShowMessage("'" + JPEGfilesize->text().toStdString() + "' ist keine gültige Zahl");
      } else {
        // Halving between the qualities whose sizes lie below and above the
        // target: the highest quality whose size stays below it, or one that
        // hits it exactly.
        const int64_t target = *v;
        int low = 0, high = 101, q = 50;
        do {
          const int32_t kb = JpegSize(q);
          Settings.JpegQuality = q;
          if (kb > target) high = q;
          else if (kb < target) low = q;
          else break;
          q = (low + high) / 2;
        } while (high >= low + 2);
        Settings.JpegQuality = q;
        const int32_t kb = JpegSizeCache[size_t(q)];
        const QString size = QString::number(kb);
        SetFields(QString::number(q), kb >= 0 ? &size : nullptr);
      }
    }
  }
  TimerArmed = true;
}

void TJSaveDialog::accept() {
  if (SizeTimer->isActive()) SizeTimerFired();
  QFileDialog::accept();
}

void TJSaveDialog::showEvent(QShowEvent* e) {
  SetFields(QString::number(Settings.JpegQuality), nullptr);
  TimerArmed = false;
  JPEGfilesize->clear();
  TimerArmed = true;
  SizeTimer->stop();
  CBcompression->setChecked(TiffCompressed);
  // The type list is filled afresh at every showing, in the current language.
  CBfiletype->clear();
  UpdatePanels();
  QFileDialog::showEvent(e);
}

TJSaveDialog& JSaveDialog(QWidget* parent) {
  static QPointer<TJSaveDialog> dialog;
  if (!dialog) dialog = new TJSaveDialog(parent);
  return *dialog;
}

}  // namespace astrelon
