#pragma once
// The main window's own commands: the window and help menus, the view toggles,
// the recent files and functions, the JPEG quality short cut, and the image
// commands of the tool bar's picture buttons (mirror, flip, rotate, invert, copy).
#include <QString>
#include <string>

class QAction;
class QWidget;

namespace astrelon {

// Registers the commands of the File, Window and Help menus and the view toggles.
void RegisterMainWindowCommands();

// Tool-bar commands on the active image; each does nothing without one.
void MirrorActiveImage();
void FlipActiveImage();
void RotateActiveImage();
void InvertActiveImage();
void CopyActiveImage();

// "Eigene Palette" without a loaded palette: explains the picture, then the open
// dialog; Cancel forgets the palette. Windows showing the own palette are redrawn
// (grey when none is loaded afterwards).
void ChooseOwnPalette();
// Opens a file of the recent-file list; a file that no longer exists leaves the list.
void OpenRecentFile(const std::string& fileName);
// Ctrl+J: asks for the JPEG quality (1..100).
void AskJpegQuality();
// F4: the "Letzte Funktionen" pop-up at the pointer.
void ShowRecentFunctionsPopup();

// Windows that the main window shows, hides and moves along: each part of the
// program that builds one of them attaches it. Attaching the histogram window
// registers "Histogramm1", the header window "FitsHeader1", the settings dialog
// "Einstellungen1"; the filter dialog's visibility disables image operations.
enum class TToolWindow { Histogram, Header, Settings, Filter };
void AttachToolWindow(TToolWindow kind, QWidget* window);
QWidget* ToolWindow(TToolWindow kind);
// The histogram/header toggle: the check mark flips; checked brings the window
// to the front and fades it in, unchecked hides it.
void ToggleToolWindow(QAction* item, QWidget* window);

}  // namespace astrelon
