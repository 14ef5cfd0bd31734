#pragma once
// Small control routines used across the program's windows: fading a form in,
// sorted list boxes, glyph drawing and recolouring for buttons.
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>

class QAbstractButton;
class QFileDialog;
class QFont;
class QListWidget;
class QWidget;

namespace astrelon {

// Shows a hidden form fading in over about 60 ms (opacity 20, 63, 127, 191, 255
// of 255) without blocking; a form that is already visible becomes opaque.
void FadeInForm(QWidget* form);

// The widest item text plus 4, kept as the list's "ScrollWidth" property (written
// only when it changes); the list's horizontal scroll range follows its items.
int ListBoxFitScrollWidth(QListWidget* list);
// Where ListBoxInsertSorted puts `text` among `items` from `startIndex` on: past
// every shorter item and past items of the same length that compare below it
// (ordinal), so that "img_2" comes before "img_10"; -1 when an item equals the
// text ignoring ASCII letter case.
int SortedInsertIndex(const QStringList& items, const QString& text, int startIndex);
// Inserts the text at SortedInsertIndex (nothing when present), then fits the
// scroll width. Returns the index or -1.
int ListBoxInsertSorted(QListWidget* list, const QString& text, int startIndex);

// Exchanges the first and third byte of a colour value.
constexpr uint32_t SwapRedBlue(uint32_t c) {
  return (c & 0xFF00FF00u) | ((c & 0xFFu) << 16) | ((c >> 16) & 0xFFu);
}
// Every pixel of the button's glyph that differs from its bottom-left pixel (the
// transparent colour) becomes `colour`.
void RecolourButtonGlyph(QAbstractButton* button, const QColor& colour);
// Each colour byte becomes byte x 1.25 - 30 (rounded, halves to even, clamped to
// 0..255); alpha stays. With shiftUp the result of row y goes to row y - 1 (row
// 0's own result is dropped) and the last row becomes transparent. Hover and
// pressed pictures of the tool bar's picture buttons.
QImage BrightenPngImage(const QImage& png, bool shiftUp);
// Whether a screen point lies on the control, its top edge reaching 2 pixels higher.
bool PointOverControl(const QWidget* control, QPoint screenPoint);

// A rounded rectangle in fillColour with the text centred in fontColour; a null
// pixmap when the size is below 4 x 4.
QPixmap TextGlyph(QSize size, const QString& text, const QFont& font, const QColor& fontColour,
                  const QColor& fillColour);
void DrawTextGlyph(QAbstractButton* button, const QString& text, const QColor& fontColour, const QColor& fillColour);
// The picture cleared with the button-face colour and the text centred in it.
void DrawCenteredCaption(QPixmap& picture, const QString& text, const QColor& fontColour);
// The glyph of a display type (1..11): a square colour bar of the type's display
// palette, brightest at the top (white lines every 5th row for isophotes, the own
// palette's preview for type 8 while one is loaded), centred in the cell; colour
// types show "RGB" (type 9) or "YUV".
QPixmap DisplayTypeGlyph(QSize cell, int displayType, const QFont& font, const QColor& textColour);
void DrawDisplayTypeGlyph(QAbstractButton* button, int displayType);

// The part of a caption that fits a text area: the whole caption when it is
// narrower than the area, else the first Length x (area - 2) / textWidth
// characters and "..". A text width of 0 keeps the caption.
QString CutCaption(const QString& caption, int textWidth, int area);

// The program's own (non-native) file dialog of a dialog's parameter files:
// `filter` as "Name (*.ext)", `suffix` added to a name typed without one; an open
// dialog takes an existing file only. Owned by `parent`.
QFileDialog* MakeParameterFileDialog(QWidget* parent, bool save, const QString& filter, const QString& suffix);

}  // namespace astrelon
