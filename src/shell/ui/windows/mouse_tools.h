#pragma once
// The mouse tools of the image windows beyond selections and marks: the stamp,
// the copy stamp, text and arrow placing and line marking, on the windows'
// tool hooks; what they show over the picture; and the menu command that plots
// the pixel values along a marked line.
#include <functional>

class QPainter;

namespace astrelon {

class TMDIChild;

// The text and arrow stamping of the pixel operations, reached through this seam;
// while a member is unset its tool stays disabled.
struct TTextArrowTools {
  // Shows the text dialog and waits for it; true when a text was entered.
  std::function<bool()> AskText;
  // Draws the waiting text at HoverPixel over the picture (image to control scale).
  std::function<void(QPainter& p, double scale)> PaintTextPreview;
  // Stamp the text at HoverPixel, or the arrow from ArrowTail to ArrowHead, into
  // ToolTargetSlot's planes (each saves its own undo entry).
  std::function<void()> RenderTextBitmap;
  std::function<void()> DrawLineArrow;
};
extern TTextArrowTools TextArrowStamping;

// Whether the text and arrow tools can stamp; the side panel's text and arrow
// buttons are enabled by them (and disabled in mode 2).
bool TextToolAvailable();
bool ArrowToolAvailable();
void UpdateTextArrowButtons();

// Rebuilds what the tools show over the window's picture (trail, lines, previews).
void RefreshToolLayer(TMDIChild& w);

// Installs the tool hooks and the side panel's tool modes, and registers
// "Pixellinie als Diagramm anzeigen".
void RegisterMouseToolCommands();

}  // namespace astrelon
