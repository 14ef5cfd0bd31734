#pragma once
// Rendering a caption block under an image into a new slot: the text is drawn
// with the chosen fonts and the block composed with border and frame.
#include <QFont>
#include <QString>
#include <QStringList>

#include "pixelops/stamping/text_frame.h"
#include "pixelops/stamping/text_frame_settings.h"

namespace astrelon {

struct TTextFrameRequest {
  TTextFrameSettings Settings;  // switches, colours, fonts, alignment
  int32_t FrameWidth = 2;       // the frame and border widths as numbers
  int32_t BorderWidth = 10;
  QString Title;
  QString Text;                 // the text lines
};

// The text and title fonts (pixel sizes at 96 dots per inch; the title at the
// text size x factor / 5).
QFont TextFrameFont(const TTextFrameSettings& s);
QFont TextFrameTitleFont(const TTextFrameSettings& s);
// The lines drawn: the text's lines less a last empty one.
QStringList TextFrameLines(const QString& text);
// What the layout needs, for an image of w x h pixels.
TTextFrameInput TextFrameInputFor(const TTextFrameRequest& r, int32_t w, int32_t h);

// A copy of the slot grown by the caption block, in the lowest free slot: the
// result slot, or -1 when no slot is free or the image is too narrow for the
// text's indent (no slot is left behind then). Throws std::bad_alloc (no slot
// left behind) when the memory does not suffice.
int RenderTextFrame(int slot, const TTextFrameRequest& r);

}  // namespace astrelon
