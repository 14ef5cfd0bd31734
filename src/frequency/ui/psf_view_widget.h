#pragma once
// The PSF designer's view (Image3): the 64 × 64 grey picture of the designed
// grid, drawn at four screen pixels per picture pixel, reporting the picture
// pixel under the mouse.
#include <QImage>
#include <QWidget>
#include <functional>

#include "frequency/deconvolution/psf_view.h"

namespace astrelon {

class TPsfViewWidget : public QWidget {
public:
  static constexpr int Scale = 4;  // screen pixels per picture pixel

  explicit TPsfViewWidget(QWidget* parent);
  void SetPicture(const std::array<uint8_t, 4096>& bytes);
  const QImage& Picture() const { return picture_; }

  // Picture pixel (0..63) and the buttons: a press, and a move with or without a button.
  std::function<void(int px, int py, Qt::MouseButton button)> Pressed;
  std::function<void(int px, int py, Qt::MouseButtons buttons)> Moved;

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

private:
  QImage picture_;
};

}  // namespace astrelon
