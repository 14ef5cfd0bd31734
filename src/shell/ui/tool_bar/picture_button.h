#pragma once
// A tool-bar button that shows a picture: the stored source picture, the picture
// shown (the source recoloured), and brighter pictures while the pointer is over
// it and while it is pressed. It acts on a left-button press.
#include <QImage>
#include <QWidget>

namespace astrelon {

class TPNGButton : public QWidget {
  Q_OBJECT
public:
  explicit TPNGButton(QWidget* parent = nullptr);

  int Tag = 0;
  // The source picture; the shown, hover and pressed pictures follow from it.
  void SetSource(const QImage& source);
  const QImage& Source() const { return source_; }
  // The picture shown (the hover and pressed pictures are made from it).
  void SetShown(const QImage& shown);
  const QImage& Shown() const { return shown_; }
  // Sets the hint (tool tip and status text).
  void SetHint(const QString& hint);
  QString Hint() const { return toolTip(); }

  QSize sizeHint() const override;

signals:
  void leftPressed();

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;

private:
  QImage source_, shown_, hover_, pressed_;
  bool over_ = false, down_ = false;
};

}  // namespace astrelon
