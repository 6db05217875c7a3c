#include "app/AppIcon.h"

#include <QFile>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const char *const kIconResource = ":/icons/brelvane.svg";
const char *const kIconRenderings[] = {":/icons/brelvane-48.png", ":/icons/brelvane-256.png"};

// An envelope on a round blue badge with a small arrow: mail passing
// through. Drawn at each size so that the tray's 16 and 22 pixel forms
// stay crisp.
QPixmap PaintIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QLinearGradient badge(0, 0, 0, s);
  badge.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
  badge.setColorAt(1, QColor(0x1d, 0x4f, 0x9c));
  p.setPen(Qt::NoPen);
  p.setBrush(badge);
  p.drawEllipse(QRectF(0.02 * s, 0.02 * s, 0.96 * s, 0.96 * s));

  const QRectF envelope(0.2 * s, 0.3 * s, 0.6 * s, 0.42 * s);
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(0x1d, 0x4f, 0x9c), qMax(1.0, s / 32)));
  p.drawRoundedRect(envelope, s / 32, s / 32);
  QPainterPath flap;
  flap.moveTo(envelope.topLeft());
  flap.lineTo(envelope.center().x(), envelope.top() + envelope.height() * 0.55);
  flap.lineTo(envelope.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);

  QPainterPath arrow;
  arrow.moveTo(0.62 * s, 0.64 * s);
  arrow.lineTo(0.9 * s, 0.78 * s);
  arrow.lineTo(0.62 * s, 0.92 * s);
  arrow.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf5, 0xa6, 0x23));
  p.drawPath(arrow);
  return pixmap;
}

}  // namespace

QIcon BrelvaneIcon() {
  if (QFile::exists(kIconResource)) {
    QIcon drawn(kIconResource);
    // Without the SVG icon engine the file loads as nothing.
    if (!drawn.pixmap(32, 32).isNull()) return drawn;
  }
  QIcon rendered;
  for (const char *file : kIconRenderings)
    if (QFile::exists(file)) rendered.addFile(file);
  if (!rendered.isNull()) return rendered;
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64, 128, 256}) icon.addPixmap(PaintIcon(size));
  return icon;
}

QPixmap BrelvaneSplashPixmap(const QString &version) {
  QPixmap pixmap(360, 160);
  pixmap.fill(QColor(0xf4, 0xf7, 0xfb));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(0x1d, 0x4f, 0x9c));
  p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
  p.drawPixmap(24, 32, BrelvaneIcon().pixmap(96, 96));
  QFont title = p.font();
  title.setPointSize(22);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(136, 40, 210, 40), Qt::AlignLeft | Qt::AlignVCenter, "Brelvane");
  QFont small = p.font();
  small.setPointSize(9);
  small.setBold(false);
  p.setFont(small);
  p.setPen(QColor(0x44, 0x44, 0x44));
  p.drawText(QRect(136, 82, 210, 40), Qt::AlignLeft | Qt::TextWordWrap,
             "Your webmail in your mail program\n" + version);
  return pixmap;
}
