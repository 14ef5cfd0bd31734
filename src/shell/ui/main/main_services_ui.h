#pragma once
// Main-window services that need the user interface: the busy cursor on screen,
// the dialog-form registry, the recent-file items of the File menu, the
// "Letzte Funktionen" menu, re-rendering and closing a slot, the side-panel
// refresh, window captions, zoom status and window previews.
#include <QString>
#include <functional>
#include <string>

#include <QPixmap>
#include <QSize>

#include "shell/undo/undo_store.h"

class QAction;
class QLabel;
class QMenu;
class QWidget;

namespace astrelon {

// Installs the Qt busy cursor, the recent-file menu update and the window hooks.
void InstallMainServices();

// ---- dialog forms ----
constexpr int DialogFormCount = 37;  // form numbers 0..36
// Registers how form n is made (the form's module does this once).
void RegisterDialogForm(int n, std::function<QWidget*()> factory);
// Whether form n has a registered factory.
bool DialogFormRegistered(int n);
// Registers the command of a menu item that opens form n: the item shows, and
// the handler runs, only once the form's factory is registered.
void RegisterFormLauncher(const QString& objectName, int n, std::function<void(QAction* sender)> handler);
// Creates form n when it does not exist yet; always true. A number without a
// registered form only sets its flag.
bool EnsureDialogForm(int n);
// The form (nullptr when not created or not registered).
QWidget* DialogForm(int n);
bool DialogFormCreated(int n);
// Whether form n is to be translated on its next showing.
bool DialogFormNeedsTranslation(int n);
void SetDialogFormTranslated(int n);
// Frees the form with this object name so that its next use creates and
// translates it anew.
void ReleaseDialogForm(const QString& name);

// ---- recent files ----
// The eight recent-file items and their separator go into fileMenu before
// `before` (at the end when nullptr). A click calls `open` (default: open the
// file into a new window).
void InstallRecentFileMenu(QMenu* fileMenu, QAction* before,
                           std::function<void(const std::string&)> open = {});
// Shows entry k in item k, hides empty ones, the separator only when any shows.
void UpdateRecentFileMenu();

// ---- recent functions ----
// The pop-up menu "Letzte Funktionen" (created on first use).
QMenu* RecentFunctionsMenu();
// Puts a copy of the invoked menu item at the top (moving an existing copy),
// at most 10 items; the first six captions go to the settings.
void AddRecentFunction(QAction* sender);
// The caption (without "&") of entry index; empty beyond the last.
QString RecentFunctionCaption(int index);
// Adds the remembered captions (sixth to first) found among the menus of `root`.
void RestoreRecentFunctions(QWidget* root);

// ---- display and windows ----
// The slot's data changed: rebuild and show its picture.
void ImageChanged(int slot);
// Closes the slot's window (its close handler frees the slot), or frees a slot
// in use that has no window. References to the slot are cleared first.
void CloseImageSlot(int slot);
// Called by CloseImageSlot for every slot it closes (star panel, open tools).
extern std::function<void(int slot)> SlotReferencesHook;
// Border icons while a mouse operation runs in a window.
void LockWindowBorderIcons(int slot);
void UnlockWindowBorderIcons(int slot);
void DeleteAllWindowMarks(int slot);
// The side panel for a slot: colour images show their colour model
// (display type 9 or 11), the main window's controls follow, and so do the
// open preview dialogs of the slot (FollowPreviewPartners).
void UpdateInfoPanel(int slot, int partnerToo);
// Called by UpdateInfoPanel with the slot: tools that follow a slot's colour
// model or channel selection chain themselves in.
extern std::function<void(int slot)> InfoPanelUpdatedHook;

// Panel 0 of the main status bar: the processor's extensions and core count.
void ShowCpuFeatures();
// Glyph of the text-colour button: a rectangle in the text colour ("Farbe"),
// outlined in black.
QPixmap ColourButtonGlyph(QSize size);

// Caption of a slot's window: its file name (with the folder when "Ganzer Pfad"
// is on), shortened to the window's width minus 76 pixels.
void SetWindowCaption(int slot);
// Panel 0 of the window's status bar: "Zoom: " + zoom + "%".
void ShowZoomStatus(int slot);
// The slot's preview picture in the registered preview control.
void ShowWindowPreview(int slot);
// The control that shows previews (the open dialog's); nullptr: none.
void SetPreviewControl(QLabel* control);

}  // namespace astrelon
