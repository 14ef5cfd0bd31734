#include "store/ui/preview_control.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <cstring>

#include "shell/display/preview_bitmap.h"

namespace astrelon {

QImage BitmapImage(const TDisplayBitmap& bitmap) {
  if (bitmap.Empty()) return {};
  if (bitmap.Format == TBitmapFormat::Bgr24)
    return QImage(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, qsizetype(bitmap.Stride), QImage::Format_BGR888);
  QImage image(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, qsizetype(bitmap.Stride), QImage::Format_Indexed8);
  QList<QRgb> table(256);
  for (int i = 0; i < 256; ++i) table[i] = 0xFF000000u | bitmap.ColourTable[size_t(i)];
  image.setColorTable(table);
  return image;
}

QImage PictureImage(const TPicture& picture) {
  const TPictureFormat& f = picture.Format;
  if (f.BitDepth != 8 || (f.Channels != 1 && f.Channels != 3) || f.Width < 1 || f.Height < 1 ||
      picture.Samples8.size() < size_t(f.Width) * size_t(f.Height) * size_t(f.Channels))
    return {};
  return QImage(picture.Samples8.data(), f.Width, f.Height, qsizetype(f.Width) * f.Channels,
                f.Channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
}

TPicture ImagePicture(const QImage& image) {
  TPicture picture;
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  if (rgb.isNull()) return picture;
  picture.Format = {rgb.width(), rgb.height(), 3, 8, false};
  const size_t rowBytes = size_t(rgb.width()) * 3;
  picture.Samples8.resize(rowBytes * size_t(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y)
    std::memcpy(picture.Samples8.data() + size_t(y) * rowBytes, rgb.constScanLine(y), rowBytes);
  return picture;
}

void StretchPreviewToControl(QLabel* control, const QImage& image) {
  if (!control || image.isNull()) return;
  const TPreviewPlacement place = PreviewPlacement(image.width(), image.height());
  QPixmap canvas(control->size());
  canvas.fill(Qt::transparent);
  QPainter p(&canvas);
  p.drawImage(QPoint(place.Left, place.Top),
              image.scaled(std::max(place.Width, 1), std::max(place.Height, 1), Qt::IgnoreAspectRatio,
                           Qt::SmoothTransformation));
  p.end();
  control->setPixmap(canvas);
}

}  // namespace astrelon
