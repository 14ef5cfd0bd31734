#include "batch/run/batch_run_view.h"

#include "core/batch_series.h"
#include "store/image_store.h"

namespace astrelon {

TBatchRunView BatchRunView;

void ViewShowWindow(int slot) {
  if (SlotInUse(slot) && BatchRunView.ShowWindow) BatchRunView.ShowWindow(slot);
}

void ViewCloseSlot(int slot) {
  if (!ValidSlot(slot)) return;
  if (BatchRunView.CloseSlot) {
    BatchRunView.CloseSlot(slot);
    return;
  }
  if (FreeSlot(slot)) Store.HasWindow[size_t(slot)] = 0;
}

void ViewKeepMarks(int slot) {
  if (SlotInUse(slot) && BatchRunView.KeepMarks) BatchRunView.KeepMarks(slot);
}

void ViewRestoreKeptMarks(int slot) {
  if (SlotInUse(slot) && BatchRunView.RestoreKeptMarks) BatchRunView.RestoreKeptMarks(slot);
}

std::string ViewChooseImage(const std::string& folder) {
  return BatchRunView.ChooseImage ? BatchRunView.ChooseImage(folder) : std::string();
}

void ViewRender(int slot) {
  if (SlotInUse(slot) && BatchRunView.Render) BatchRunView.Render(slot);
}

void ViewShowCaption(int slot) {
  if (SlotInUse(slot) && BatchRunView.ShowCaption) BatchRunView.ShowCaption(slot);
}

void ViewSetPictureEnabled(int slot, bool enabled) {
  if (SlotInUse(slot) && BatchRunView.SetPictureEnabled) BatchRunView.SetPictureEnabled(slot, enabled);
}

bool ViewPictureEnabled(int slot) {
  if (!SlotInUse(slot) || !BatchRunView.PictureEnabled) return true;
  return BatchRunView.PictureEnabled(slot);
}

void ViewHideMarks(int slot) {
  if (SlotInUse(slot) && BatchRunView.HideMarks) BatchRunView.HideMarks(slot);
}

void ViewWritePictureNote(int slot, const std::string& text) {
  if (SlotInUse(slot) && BatchRunView.WritePictureNote) BatchRunView.WritePictureNote(slot, text);
}

void ViewShowCheckButton(bool shown) {
  if (BatchRunView.ShowCheckButton) BatchRunView.ShowCheckButton(shown);
}

void StatusFile(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetFileLabel(text);
}

void StatusFunction(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetFunctionLabel(text);
}

void StatusCount(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetCountLabel(text);
}

void ViewShowCometValues() {
  if (BatchRunView.ShowCometValues) BatchRunView.ShowCometValues();
}

void ViewShowPrompt(const std::string& text) {
  if (BatchRunView.ShowPrompt) BatchRunView.ShowPrompt(text);
}

void ViewEnablePromptOk(bool enabled) {
  if (BatchRunView.EnablePromptOk) BatchRunView.EnablePromptOk(enabled);
}

void ViewUntickNoMoreChecks() {
  if (BatchRunView.UntickNoMoreChecks) BatchRunView.UntickNoMoreChecks();
}

void ViewCopyMarks(int source, int destination) {
  if (BatchRunView.CopyMarks) BatchRunView.CopyMarks(source, destination);
}

}  // namespace astrelon
