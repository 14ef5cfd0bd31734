#include "batch/ui/batch_run_view_ui.h"

#include <QFont>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>

#include "batch/run/batch_run_view.h"
#include "batch/ui/batch_status_window.h"
#include "batch/ui/batch_window.h"
#include "batch/ui/star_check_prompt.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/windows/image_view.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The note in control pixels: 15 pixels high from (width / 2 - 110, height / 2
// - 8), white without a background, whatever the zoom.
void SetPictureNote(int slot, const std::string& text) {
  TMDIChild* window = ImageWindow(slot);
  if (!window || !window->Image1) return;
  TToolLayer& layer = window->Image1->ToolLayer;
  if (text.empty()) {
    layer.Painter = nullptr;
  } else {
    layer.ImageWidth = Store.Image[size_t(slot)].Width;
    const int32_t width = Store.Image[size_t(slot)].Width, height = Store.Image[size_t(slot)].Height;
    layer.Painter = [note = QString::fromStdString(text), width, height](QPainter& p, double scale) {
      QFont font = p.font();
      font.setPixelSize(15);
      p.setFont(font);
      p.setPen(Qt::white);
      const QPointF at(width * scale / 2 - 110, height * scale / 2 - 8);
      p.drawText(QRectF(at, QSizeF(400, 20)), Qt::AlignLeft | Qt::AlignTop, note);
    };
  }
  window->Image1->update();
}

// The marks a window had when they were kept (the comet computation's
// reference stars).
struct TKeptMarks {
  int Slot = -1;
  TWindowOverlay Overlay;
  std::array<TRectI, 5> Selections{};
};
TKeptMarks KeptMarks;

void KeepMarks(int slot) {
  if (const TMDIChild* window = ImageWindow(slot))
    KeptMarks = {slot, window->Overlay(), WindowSelectionRects[size_t(slot)]};
}

void RestoreKeptMarks(int slot) {
  TMDIChild* window = ImageWindow(slot);
  if (!window || KeptMarks.Slot != slot) return;
  window->Overlay() = KeptMarks.Overlay;
  WindowSelectionRects[size_t(slot)] = KeptMarks.Selections;
  window->PlaceOverlayAtZoom();
}

}  // namespace

void InstallBatchRunView() {
  TBatchRunView& v = BatchRunView;
  v.ShowWindow = [](int slot) {
    if (!Store.HasWindow[size_t(slot)] || !ImageWindow(slot)) {
      Store.HasWindow[size_t(slot)] = 0;
      ShowImageWindow(slot);
    }
  };
  v.CloseSlot = [](int slot) { CloseImageSlot(slot); };
  v.Render = [](int slot) {
    if (ImageWindow(slot)) ImageChanged(slot);
  };
  v.ShowCaption = [](int slot) {
    if (ImageWindow(slot)) SetWindowCaption(slot);
  };
  v.SetPictureEnabled = [](int slot, bool enabled) {
    if (TMDIChild* window = ImageWindow(slot); window && window->ScrollBox1) window->ScrollBox1->setEnabled(enabled);
  };
  v.PictureEnabled = [](int slot) {
    const TMDIChild* window = ImageWindow(slot);
    return !window || !window->ScrollBox1 || window->ScrollBox1->isEnabled();
  };
  v.HideMarks = [](int slot) {
    if (ImageWindow(slot)) HideWindowMarks(slot);
  };
  v.WritePictureNote = SetPictureNote;
  v.ShowCheckButton = [](bool shown) {
    if (BatchStatusWindowExists()) BatchStatusWindow().Button2->setVisible(shown);
  };
  v.ShowPrompt = [](const std::string& text) {
    TForm9& prompt = StarCheckPrompt();
    prompt.Label1->setText(QString::fromStdString(text));
    prompt.show();
    prompt.repaint();
  };
  v.EnablePromptOk = [](bool enabled) {
    if (StarCheckPromptExists()) StarCheckPrompt().Button1->setEnabled(enabled);
  };
  v.UntickNoMoreChecks = [] {
    if (StarCheckPromptExists()) StarCheckPrompt().CheckBox1->setChecked(false);
  };
  v.CopyMarks = [](int source, int destination) { CopyMarksToWindow(source, destination); };
  v.KeepMarks = KeepMarks;
  v.RestoreKeptMarks = RestoreKeptMarks;
  // Through the batch window's own file choice, as its browse buttons.
  v.ChooseImage = [](const std::string& folder) {
    TForm7* form = BatchWindowForm();
    if (!form || !form->ChooseFiles) return std::string();
    const QStringList files = form->ChooseFiles(TBatchBrowse::Image, QString::fromStdString(folder));
    return files.isEmpty() ? std::string() : files.front().toStdString();
  };
  v.ShowCometValues = [] {
    if (TForm7* form = BatchWindowForm()) form->ShowCometValues();
  };
}

}  // namespace astrelon
