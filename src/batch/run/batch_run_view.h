#pragma once
// What a running batch asks of the user interface beyond questions and
// messages (EngineUi) and the status labels (BatchStatusLabels): showing,
// rendering and closing the windows of its slots, disabling a work window's
// picture kept for the next image, the status window's "&Kontrolle an"
// button. The batch window installs the Qt side; without it a slot has no
// window and closing one frees it, so that tests script whole runs.
#include <functional>
#include <string>

namespace astrelon {

struct TBatchRunView {
  // Creates the slot's window and renders it (nothing when it has one).
  std::function<void(int slot)> ShowWindow;
  // Closes the slot's window, or frees a slot without one.
  std::function<void(int slot)> CloseSlot;
  // Renders the slot's window again (histogram and display range are the
  // caller's).
  std::function<void(int slot)> Render;
  // The window caption follows the slot's file name.
  std::function<void(int slot)> ShowCaption;
  // The picture area of a work window kept for the next image (disabled) or in use.
  std::function<void(int slot, bool enabled)> SetPictureEnabled;
  std::function<bool(int slot)> PictureEnabled;
  // Hides the selection shapes and marks of the window.
  std::function<void(int slot)> HideMarks;
  // Writes a note across the middle of the window's picture.
  std::function<void(int slot, const std::string& text)> WritePictureNote;
  // Shows or hides the status window's "&Kontrolle an".
  std::function<void(bool shown)> ShowCheckButton;
  // The comet motion was computed: the batch window shows its values (per
  // minute by time stamp, else per series image) and comes to the front.
  std::function<void()> ShowCometValues;
  // The star-check prompt: shown with a text, its "&Ok, weiter" enabled or
  // not, its "Keine Kontrolle mehr" unticked.
  std::function<void(const std::string& text)> ShowPrompt;
  std::function<void(bool enabled)> EnablePromptOk;
  std::function<void()> UntickNoMoreChecks;
  // Puts the source window's marks at the same places in the destination.
  std::function<void(int source, int destination)> CopyMarks;
  // Keeps the window's marks (selections and direct marks) aside, and puts
  // the kept ones back: the comet computation's reference stars.
  std::function<void(int slot)> KeepMarks;
  std::function<void(int slot)> RestoreKeptMarks;
  // The open dialog for the comet computation's second image, starting in the
  // folder; the chosen file's name, empty when cancelled.
  std::function<std::string(const std::string& folder)> ChooseImage;
};

extern TBatchRunView BatchRunView;

// The calls the engine makes; each does the engine's share without a view.
void ViewShowWindow(int slot);
void ViewCloseSlot(int slot);
void ViewRender(int slot);
void ViewShowCaption(int slot);
void ViewSetPictureEnabled(int slot, bool enabled);
// True without a view or a window (a slot without window counts as enabled).
bool ViewPictureEnabled(int slot);
void ViewHideMarks(int slot);
void ViewWritePictureNote(int slot, const std::string& text);
void ViewShowCheckButton(bool shown);
void ViewShowCometValues();
void ViewShowPrompt(const std::string& text);
void ViewEnablePromptOk(bool enabled);
void ViewUntickNoMoreChecks();
void ViewCopyMarks(int source, int destination);
void ViewKeepMarks(int slot);
void ViewRestoreKeptMarks(int slot);
// Empty without a view.
std::string ViewChooseImage(const std::string& folder);

// The status window's lines (nothing while it is not shown).
void StatusFile(const std::string& text);      // Label1
void StatusFunction(const std::string& text);  // Label2
void StatusCount(const std::string& text);     // Label3

}  // namespace astrelon
