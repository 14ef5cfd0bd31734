#pragma once
// The side panel's star measurement: the tool modes, the pictures and labels
// under the mouse, the locked star (key L) and the comparison star (key M).
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>

class QLabel;

namespace astrelon {

struct TStarCutout;

// The star pictures were cleared since the last pick; the slot (-1 none) and image
// point the star view follows.
extern uint8_t PanelCleared;
extern int32_t StarHoverSlot;
extern int32_t StarHoverX, StarHoverY;
// Set while the "PSF Bestimmung" window is shown (the locked star is drawn tinted).
extern bool PsfSettingsShown;
// Whether the batch's star-check prompt is shown: while a batch runs the star
// view follows the cursor only then.
extern std::function<bool()> StarCheckPromptShown;
// "Daten Automatisch hinzufügen": each lock adds its results to the "PSF Infos"
// table (kept in the settings' packed parameters).
extern uint8_t& PsfAutoAdd;

// Switches the mouse tool of all image windows (1..7) and the side panel with it.
void SetInfoPanelMode(int mode);
void ClearPsfPanelImages();
void ShowProfileLabels(bool visible);
void HideStarLabels();
void ShowStarLabels();
void ShowLockedStarHeader();
void ShowPanelPictureGroup(int tag, bool visible);

// Draws the cutout (only when it needs redrawing) into panel picture `tag`
// (1 Image1, 2 Image2, 3 Image3), leaving out pixels at or beyond the squared radius.
void DrawStarCutout(TStarCutout& cutout, int32_t radiusSquared, int tag);

// The panel for the image point (x, y) of a slot; -1 the mouse left the images,
// -2 the stamp source, -3 the point (x, y) of the PSF array set below.
void DrawPsfPanel(int slot, int32_t x, int32_t y);
// The deconvolution dialog's 64 x 64 PSF array (nullptr: none).
void SetPanelPsfArray(const float* psf);

// Drops the locked star and clears the panel's star pictures and labels.
void ReleaseStarLock();
// L locks a star, M / m measure against it, Escape unlocks (info mode).
void StarKeyCommand(int key, const QString& text);
void SpeedButtonLI1Click();
// The pop-up of the side panel while a star is locked ("Infos zur Tabelle hinzufügen").
void ShowStarPanelMenu(QPoint global);
void SpeedButtonLI2Click();

// Installs the star panel into the main window link and the image windows.
void RegisterStarPanelCommands();

}  // namespace astrelon
