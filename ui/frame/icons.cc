#include "ui/frame/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <functional>

namespace vexo::ui {
namespace {

QIcon Draw(int size, const std::function<void(QPainter&)>& paint) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  paint(painter);
  painter.end();
  return QIcon(pixmap);
}

QPen Pen(const QColor& colour, double width) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Check(QPainter& p, const QColor& colour) {
  p.setPen(Pen(colour, 2.4));
  p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
}

void Sheet(QPainter& p, const QColor& edge) {
  p.setPen(Pen(edge, 1.0));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(3.5, 1.5, 9, 13));
  p.setPen(Pen(QColor(150, 150, 150), 1.0));
  for (double y = 5; y < 13; y += 2.5) p.drawLine(QPointF(5.5, y), QPointF(10.5, y));
}

}  // namespace

QIcon StatusIcon(std::uint32_t status) {
  switch (status) {
    case 0:  // failed
      return Draw(16, [](QPainter& p) {
        p.setPen(Pen(QColor(200, 30, 30), 2.4));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
      });
    case 1:  // done
      return Draw(16, [](QPainter& p) { Check(p, QColor(30, 150, 40)); });
    case 2:  // partly done
      return Draw(16, [](QPainter& p) {
        p.setPen(Pen(QColor(220, 140, 0), 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2, 2, 12, 12));
        QPainterPath half;
        half.moveTo(8, 2);
        half.arcTo(QRectF(2, 2, 12, 12), 90, 180);
        half.closeSubpath();
        p.fillPath(half, QColor(220, 140, 0));
      });
    case 3:
      return Draw(16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 90, 200));
        p.drawEllipse(QRectF(4, 4, 8, 8));
      });
    case 4:
      return Draw(16, [](QPainter& p) {
        p.setPen(Pen(QColor(110, 110, 110), 1.5));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
        p.drawLine(QPointF(8, 8), QPointF(11, 8));
      });
    case 5:
      return Draw(16, [](QPainter& p) { Sheet(p, QColor(120, 60, 160)); });
    default:
      return {};
  }
}

QIcon SortArrowIcon(bool descending) {
  return Draw(8, [descending](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 60));
    if (descending)
      p.drawPolygon(QPolygonF({QPointF(0, 2), QPointF(8, 2), QPointF(4, 7)}));
    else
      p.drawPolygon(QPolygonF({QPointF(0, 6), QPointF(8, 6), QPointF(4, 1)}));
  });
}

QIcon FolderIcon(int folder) {
  static const std::array<QColor, 4> colours{QColor(40, 120, 200), QColor(220, 150, 20),
                                             QColor(40, 150, 60), QColor(130, 130, 130)};
  const QColor colour = colours[static_cast<std::size_t>(folder & 3)];
  return Draw(16, [folder, colour](QPainter& p) {
    p.setPen(Pen(colour.darker(140), 1.0));
    p.setBrush(colour.lighter(150));
    p.drawRect(QRectF(1.5, 4.5, 13, 9));
    p.setPen(Pen(colour.darker(160), 1.6));
    switch (folder) {
      case 0:  // an arrow going out
      case 1:
        p.drawLine(QPointF(5, 9), QPointF(11, 9));
        p.drawLine(QPointF(8.5, 6.5), QPointF(11, 9));
        p.drawLine(QPointF(8.5, 11.5), QPointF(11, 9));
        break;
      case 2:  // an arrow coming in
        p.drawLine(QPointF(11, 9), QPointF(5, 9));
        p.drawLine(QPointF(7.5, 6.5), QPointF(5, 9));
        p.drawLine(QPointF(7.5, 11.5), QPointF(5, 9));
        break;
      default:  // a cross
        p.drawLine(QPointF(6, 7), QPointF(10, 11));
        p.drawLine(QPointF(10, 7), QPointF(6, 11));
        break;
    }
  });
}

QIcon ToolIcon(ToolPicture picture) {
  return Draw(24, [picture](QPainter& p) {
    p.scale(1.5, 1.5);
    switch (picture) {
      case ToolPicture::NewFax:
        Sheet(p, QColor(40, 90, 200));
        p.setPen(Pen(QColor(30, 150, 40), 2.0));
        p.drawLine(QPointF(11, 10), QPointF(11, 15));
        p.drawLine(QPointF(8.5, 12.5), QPointF(13.5, 12.5));
        break;
      case ToolPicture::Receive:
        Sheet(p, QColor(40, 150, 60));
        p.setPen(Pen(QColor(40, 150, 60), 2.0));
        p.drawLine(QPointF(8, 4), QPointF(8, 12));
        p.drawLine(QPointF(5, 9), QPointF(8, 12));
        p.drawLine(QPointF(11, 9), QPointF(8, 12));
        break;
      case ToolPicture::Settings:
        p.setPen(Pen(QColor(90, 90, 90), 3.0));
        for (int i = 0; i < 4; ++i) {
          p.save();
          p.translate(8, 8);
          p.rotate(45.0 * i);
          p.drawLine(QPointF(-6, 0), QPointF(6, 0));
          p.restore();
        }
        p.setPen(Pen(QColor(90, 90, 90), 1.0));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(5, 5, 6, 6));
        break;
      case ToolPicture::Delete:
        p.setPen(Pen(QColor(200, 30, 30), 2.2));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
      case ToolPicture::Help:
        p.setPen(Pen(QColor(40, 90, 200), 1.4));
        p.setBrush(QColor(220, 232, 250));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(QColor(40, 90, 200));
        p.setFont(QFont(QStringLiteral("DejaVu Sans"), 8, QFont::Bold));
        p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
  });
}

QIcon AppIcon() {
  return Draw(32, [](QPainter& p) {
    p.scale(2, 2);
    Sheet(p, QColor(40, 90, 200));
    p.setPen(Pen(QColor(40, 90, 200), 1.6));
    p.drawLine(QPointF(1, 13), QPointF(15, 13));
  });
}

}  // namespace vexo::ui
