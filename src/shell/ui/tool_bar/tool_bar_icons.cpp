#include "shell/ui/tool_bar/tool_bar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace astrelon {

namespace {

const QColor Ink(40, 52, 70);
const QColor Blue(52, 120, 200);
const QColor Amber(235, 170, 40);
const QColor Red(200, 50, 45);
const QColor Green(50, 150, 70);

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
  p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(from, to);
  const QPointF d = to - from;
  const double len = std::max(1.0, std::hypot(d.x(), d.y()));
  const QPointF u(d.x() / len, d.y() / len), n(-u.y(), u.x());
  QPolygonF head({to + u * 2.0, to - u * 4.0 + n * 3.5, to - u * 4.0 - n * 3.5});
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPolygon(head);
}

// A small picture of a landscape in a frame, the subject of the image commands.
void Picture(QPainter& p, QRectF r) {
  p.setPen(QPen(Ink, 1.2));
  p.setBrush(QColor(225, 235, 250));
  p.drawRect(r);
  QPainterPath hill;
  hill.moveTo(r.left(), r.bottom());
  hill.lineTo(r.left() + r.width() * 0.45, r.top() + r.height() * 0.45);
  hill.lineTo(r.left() + r.width() * 0.7, r.top() + r.height() * 0.7);
  hill.lineTo(r.right(), r.top() + r.height() * 0.5);
  hill.lineTo(r.right(), r.bottom());
  hill.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(Blue);
  p.drawPath(hill);
  p.setBrush(Amber);
  p.drawEllipse(QPointF(r.left() + r.width() * 0.28, r.top() + r.height() * 0.3), 2.0, 2.0);
}

}  // namespace

QImage ToolBarIcon(int button, bool crossCorrelation) {
  QImage img(ToolBarIconSize, ToolBarIconSize, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  switch (button) {
    case 1: {  // open: a folder
      p.setPen(QPen(Ink, 1.2));
      p.setBrush(Amber);
      p.drawRoundedRect(QRectF(2.5, 6.5, 19, 14), 1.5, 1.5);
      p.setBrush(QColor(250, 210, 110));
      p.drawPolygon(QPolygonF({QPointF(2.5, 9.5), QPointF(8.5, 9.5), QPointF(10.5, 6.5), QPointF(2.5, 6.5)}));
      p.setBrush(QColor(255, 225, 140));
      p.drawPolygon(QPolygonF({QPointF(5.5, 11.5), QPointF(22.5, 11.5), QPointF(20.5, 20.5), QPointF(2.5, 20.5)}));
      break;
    }
    case 2: {  // save: a disk
      p.setPen(QPen(Ink, 1.2));
      p.setBrush(Blue);
      p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 2, 2);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(7.5, 3.5, 9, 6));
      p.setBrush(QColor(210, 220, 235));
      p.drawRect(QRectF(6.5, 13.5, 11, 7));
      break;
    }
    case 3:  // mirror left-right
      Picture(p, QRectF(6.5, 6.5, 11, 11));
      Arrow(p, QPointF(8, 3), QPointF(2, 3), Red);
      Arrow(p, QPointF(16, 3), QPointF(22, 3), Red);
      p.setPen(QPen(Red, 1, Qt::DashLine));
      p.drawLine(QPointF(12, 5), QPointF(12, 22));
      break;
    case 4:  // upside down
      Picture(p, QRectF(6.5, 6.5, 11, 11));
      Arrow(p, QPointF(3, 8), QPointF(3, 2), Red);
      Arrow(p, QPointF(3, 16), QPointF(3, 22), Red);
      p.setPen(QPen(Red, 1, Qt::DashLine));
      p.drawLine(QPointF(5, 12), QPointF(22, 12));
      break;
    case 5: {  // rotate right
      Picture(p, QRectF(7.5, 8.5, 10, 10));
      p.setPen(QPen(Red, 2.0, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(3, 3, 18, 18), 150 * 16, -120 * 16);
      Arrow(p, QPointF(18.5, 6.0), QPointF(20.5, 9.5), Red);
      break;
    }
    case 6: {  // invert: half dark, half light
      p.setPen(QPen(Ink, 1.2));
      p.setBrush(Qt::white);
      p.drawEllipse(QRectF(3.5, 3.5, 17, 17));
      p.setBrush(Ink);
      p.drawPie(QRectF(3.5, 3.5, 17, 17), 90 * 16, 180 * 16);
      break;
    }
    case 7:  // copy: two pictures
      Picture(p, QRectF(2.5, 2.5, 12, 12));
      Picture(p, QRectF(9.5, 9.5, 12, 12));
      break;
    case 8: {  // crop: two crossing corners
      p.setPen(QPen(Ink, 2.2));
      p.drawLine(QPointF(6, 2), QPointF(6, 18));
      p.drawLine(QPointF(6, 18), QPointF(22, 18));
      p.drawLine(QPointF(2, 6), QPointF(18, 6));
      p.drawLine(QPointF(18, 6), QPointF(18, 22));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(52, 120, 200, 110));
      p.drawRect(QRectF(7, 7, 10, 10));
      break;
    }
    case 0:
    case 9:
      if (crossCorrelation) {  // two overlapping profiles
        p.setPen(QPen(Blue, 1.8));
        p.setBrush(Qt::NoBrush);
        QPainterPath a, b;
        a.moveTo(2, 19);
        a.cubicTo(8, 19, 8, 4, 11, 4);
        a.cubicTo(14, 4, 14, 19, 20, 19);
        b.moveTo(4, 19);
        b.cubicTo(10, 19, 10, 7, 13, 7);
        b.cubicTo(16, 7, 16, 19, 22, 19);
        p.drawPath(a);
        p.setPen(QPen(Red, 1.8));
        p.drawPath(b);
      } else {  // centroid: a star in cross hairs
        p.setPen(QPen(Ink, 1.2));
        p.drawLine(QPointF(12, 1), QPointF(12, 23));
        p.drawLine(QPointF(1, 12), QPointF(23, 12));
        QRadialGradient g(QPointF(12, 12), 7);
        g.setColorAt(0, QColor(255, 240, 160));
        g.setColorAt(1, QColor(235, 170, 40, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QPointF(12, 12), 7, 7);
      }
      break;
    case 10:  // histogram
      p.setPen(Qt::NoPen);
      p.setBrush(Blue);
      for (int i = 0; i < 7; ++i) {
        const double h = 3 + 15 * std::exp(-0.5 * std::pow((i - 2.2) / 1.4, 2));
        p.drawRect(QRectF(2.5 + i * 2.8, 21 - h, 2.4, h));
      }
      p.setPen(QPen(Ink, 1.2));
      p.drawLine(QPointF(2, 21.5), QPointF(22, 21.5));
      break;
    case 11: {  // header: a page of text lines
      p.setPen(QPen(Ink, 1.2));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 2.5, 15, 19));
      p.setPen(QPen(Blue, 1.4));
      for (int i = 0; i < 5; ++i) p.drawLine(QPointF(7, 6.5 + i * 3.2), QPointF(i % 2 ? 14 : 17, 6.5 + i * 3.2));
      break;
    }
    case 12: {  // side panel: a window with a bar at its right
      p.setPen(QPen(Ink, 1.2));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(2.5, 4.5, 19, 15));
      p.setBrush(Blue);
      p.drawRect(QRectF(16.5, 4.5, 5, 15));
      p.setPen(Qt::NoPen);
      p.setBrush(Amber);
      p.drawEllipse(QPointF(19, 8), 1.4, 1.4);
      break;
    }
    case 13: {  // exit: a switch symbol
      p.setPen(QPen(Red, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(4, 5, 16, 16), 120 * 16, 300 * 16);
      p.drawLine(QPointF(12, 2.5), QPointF(12, 11));
      break;
    }
    default: break;
  }
  return img;
}

}  // namespace astrelon
