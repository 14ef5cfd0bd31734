#pragma once
// The picture of an image window (the image control) and its overlay layer: the
// two selection frames, the two point markers and up to 256 marks, all kept in
// image-control pixels (origin at the picture's top-left corner, independent of
// scrolling) with hit testing. The picture is the renderer's bitmap, wrapped
// without copying and stretched to the control's size; only the exposed part is
// drawn.
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "store/display/display_bitmap.h"
#include "store/image_store.h"

namespace astrelon {

constexpr int MaxMarks = 256;
constexpr int MarkerSize = 21;  // point markers are 21 x 21, centred on their point

struct TOverlayItem {
  QRect Bounds;  // control pixels; a zero size draws nothing
  bool Visible = false;
};

// What a press on the control hits, front to back.
enum class TOverlayHit { None, Mark, Image3, Image2, Shape2, Shape1 };

struct TWindowOverlay {
  TOverlayItem Shape1, Shape2;  // selection frames (yellow, aqua)
  TOverlayItem Image2, Image3;  // point markers of selection 1 and 2
  // Marks, index 0 .. MarkCount-1 (all shown); the arrays are kept in step.
  std::vector<QRect> MarkShapes;
  std::vector<TPointI> MarkOrigins;
  std::vector<TRectI> MarkRects;  // image pixels, inclusive
  std::vector<int32_t> MarkFlags;

  int MarkCount() const { return int(MarkShapes.size()); }
  // The front-most item under p; for a mark its index.
  TOverlayHit HitTest(QPoint p, int& markIndex) const;
  void Clear();
};

// What the mouse tools show over the picture without touching it: the copy
// stamp's grey trail, lines (the line tool's lines, the arrow's preview) and a
// painter for previews drawn by other parts (the text tool). Points are image
// coordinates; a pixel's centre lies at +0.5.
struct TToolLine {
  QPointF From, To;
  QColor Colour;
  bool ArrowHead = false;
};
struct TToolLayer {
  int32_t ImageWidth = 0;       // for the scale from image to control pixels
  std::vector<QPointF> Trail;   // the stroke's points
  double TrailWidth = 0;        // in image pixels
  std::vector<TToolLine> Lines;
  std::function<void(class QPainter&, double scale)> Painter;
  bool Empty() const { return Trail.empty() && Lines.empty() && !Painter; }
  void Clear() { *this = {}; }
};

class TImageView;

// Receives the mouse events of the control (the image window).
class TImageViewEvents {
public:
  virtual ~TImageViewEvents() = default;
  virtual void ViewMousePress(QMouseEvent* e) = 0;
  virtual void ViewMouseMove(QMouseEvent* e) = 0;
  virtual void ViewMouseRelease(QMouseEvent* e) = 0;
};

class TImageView : public QWidget {
  Q_OBJECT
public:
  explicit TImageView(TImageViewEvents* events, QWidget* parent = nullptr);

  // Shows the bitmap (which must outlive the view or be replaced before it goes).
  void SetPicture(const TDisplayBitmap& bitmap);
  void ClearPicture();
  const QImage& Picture() const { return picture_; }

  TWindowOverlay Overlay;
  TToolLayer ToolLayer;

  static QColor MarkPenColour();

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

private:
  void PaintOverlay(class QPainter& p, const QRect& exposed) const;
  void PaintToolLayer(class QPainter& p) const;

  TImageViewEvents* events_;
  QImage picture_;
};

}  // namespace astrelon
