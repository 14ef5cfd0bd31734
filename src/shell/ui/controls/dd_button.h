#pragma once
// A button with a caption and a drop-down arrow at its right end: pressed looks
// sunken while the left button is held. The batch window's step chooser.
#include <QString>
#include <QWidget>

namespace astrelon {

class TqzDDButton : public QWidget {
  Q_OBJECT
public:
  explicit TqzDDButton(QWidget* parent = nullptr);

  void setCaption(const QString& caption);
  const QString& Caption() const { return caption_; }
  // The caption as drawn: cut and ended with ".." when it is wider than the room left of the arrow.
  QString ShownCaption() const;

  bool Pressed = false;
  QColor FontColor;
  int FontSize = 8;
  bool ShowArrow = true;

signals:
  void clicked();

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

private:
  QFont CaptionFont() const;
  QString caption_;
};

}  // namespace astrelon
