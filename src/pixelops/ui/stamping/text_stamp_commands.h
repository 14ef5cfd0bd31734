#pragma once
// The menu command "Text+Rahmen einfügen" and the image window's text and arrow
// tools: the text dialog, the preview of the waiting text and the stamping of
// text and arrows into the image.
#include <QString>

class QPainter;

namespace astrelon {

// Stamps the text tool's text into the slot with its lower right corner at the
// hovered pixel, in the text colour and with the tool's options; `percent` is
// the transparency. Nothing for an empty text.
void RenderTextBitmap(int slot, int percent);

// Draws the waiting text over a window's picture (image to control scale).
void PaintTextPreview(QPainter& p, double scale);

void RegisterTextStampCommands();

}  // namespace astrelon
