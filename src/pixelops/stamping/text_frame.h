#pragma once
// The caption block under an image: a border, a frame line around the picture
// (optionally blending softly into the background and into the picture) and a
// text area below it. The text itself is drawn by the user interface into a
// bitmap of the text area; this lays the block out and composes the result.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace astrelon {

enum class TTextAlignment { Left = 0, Right = 1, Centre = 2 };

// What the layout needs to know about the caption.
struct TTextFrameInput {
  int32_t Width = 0, Height = 0;  // the picture
  int32_t Border = 10;            // B
  int32_t FrameWidth = 2;         // as set, used when FrameOn
  bool FrameOn = true;
  int32_t TextHeight = 13;        // h: the text font's height in pixels
  int32_t TitleHeight = 0;        // ht: the title font's height in pixels
  int32_t TitleWidth = 0;         // width of the title in the title font
  bool HasTitle = false;
  int32_t LineCount = 0;          // text lines, a last empty one not counted
  bool Transition = false;
  TTextAlignment Alignment = TTextAlignment::Left;
};

// x offset of the text lines inside the text area.
int32_t TextLeftIndent(const TTextFrameInput& in);
// Width of the text block (the preview memo's width).
int32_t TextBlockWidth(const TTextFrameInput& in);

struct TTextFrameLayout {
  int32_t B = 0, F = 0;           // border, frame width drawn (0 without the frame)
  int32_t ResultWidth = 0;        // W + 2B
  int32_t ResultHeight = 0;
  int32_t TextTop = 0;            // R0: first row of the text area
  int32_t TextAreaHeight = 0;     // ResultHeight - R0
  int32_t LineHeight = 0;         // L
  int32_t TextBlock = 0;          // T
  int32_t CentreY = 0;            // c, relative to R0
  int32_t X0 = 0, XR = 0;         // left origin and right edge of the text lines
  int32_t TitleX = 0, TitleY = 0; // title position, y relative to R0
  bool Fits = false;              // the image is wide enough for the indent
  // y (relative to R0) of the top of text line i.
  int32_t LineY(int32_t i, int32_t n) const;
};

TTextFrameLayout LayoutTextFrame(const TTextFrameInput& in);

// The text area as drawn: 1 (grey) or 3 (red, green, blue) bytes per pixel,
// ResultWidth x TextAreaHeight pixels, or four times that each way for smooth text.
struct TTextAreaBitmap {
  int32_t Width = 0, Height = 0, Channels = 1;
  std::vector<uint8_t> Bytes;
  uint8_t At(int32_t x, int32_t y, int32_t c) const {
    return Bytes[(size_t(y) * size_t(Width) + size_t(x)) * size_t(Channels) + size_t(c)];
  }
};

struct TTextFrameColours {
  int32_t Frame = 0xFFFFFF;     // Windows colour values
  int32_t Background = 0;
};

// Grows the slot (a copy of the picture) into the result: border, frame and the
// text area, the bitmap's bytes mapped onto the display range. A colour image in
// YUV is converted to RGB. False when the slot holds no image of the layout's size.
bool ComposeTextFrame(int slot, const TTextFrameLayout& layout, const TTextFrameColours& colours, bool transition,
                      bool smooth, const TTextAreaBitmap& text);

}  // namespace astrelon
