#include "ui/viewer/page_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

namespace vexo::ui {
namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;
// Grey levels of the burn mask: untouched, black ink, white ink.
constexpr int kMaskNone = 128;
constexpr int kMaskBlack = 0;
constexpr int kMaskWhite = 255;

QPen StrokePen(const InkStroke& stroke, int width, bool mask) {
  QColor colour;
  if (mask)
    colour = QColor(stroke.colour == InkColour::Black ? kMaskBlack : kMaskWhite,
                    stroke.colour == InkColour::Black ? kMaskBlack : kMaskWhite,
                    stroke.colour == InkColour::Black ? kMaskBlack : kMaskWhite);
  else
    colour = stroke.colour == InkColour::Black ? QColor(kBlack) : QColor(kWhite);
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Draws the strokes with each coordinate mapped to the screen and moved by origin.
void DrawStrokes(QPainter& painter, const std::vector<InkStroke>& strokes, const ScreenScale& scale,
                 QPoint origin, bool mask) {
  for (const InkStroke& stroke : strokes) {
    painter.setPen(StrokePen(stroke, ScreenPenWidth(stroke.width, scale.factor), mask));
    QPolygon line;
    line.reserve(static_cast<int>(stroke.points.size()));
    for (const InkPoint& p : stroke.points) {
      const QPoint screen = QPoint(scale.ScreenX(p.x), scale.ScreenY(p.y)) + origin;
      // A line of no length draws nothing, so repeated points are left out.
      if (line.isEmpty() || line.back() != screen) line << screen;
    }
    if (line.size() == 1)
      painter.drawPoint(line.front());
    else
      painter.drawPolyline(line);
  }
}

}  // namespace

QImage PageImage(const ViewerPage& page) {
  QImage image(static_cast<int>(page.width), static_cast<int>(page.rows), QImage::Format_Mono);
  if (image.isNull()) return image;
  image.setColorTable({kWhite, kBlack});
  const std::size_t rowBytes = page.RowBytes();
  for (std::uint32_t y = 0; y < page.rows; ++y)
    std::memcpy(image.scanLine(static_cast<int>(y)), page.bits.data() + y * rowBytes, rowBytes);
  return image;
}

ViewerPage BurnInk(const ViewerPage& page, const std::vector<InkStroke>& strokes) {
  ViewerPage out = page;
  QImage mask(static_cast<int>(page.width), static_cast<int>(page.rows), QImage::Format_Grayscale8);
  if (mask.isNull()) return out;
  mask.fill(QColor(kMaskNone, kMaskNone, kMaskNone));
  {
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing, false);
    DrawStrokes(painter, strokes, ScreenScale{}, QPoint(0, 0), true);
  }
  const std::size_t rowBytes = page.RowBytes();
  for (std::uint32_t y = 0; y < page.rows; ++y) {
    const std::uint8_t* grey = mask.constScanLine(static_cast<int>(y));
    std::uint8_t* row = out.bits.data() + y * rowBytes;
    for (std::uint32_t x = 0; x < page.width; ++x) {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
      if (grey[x] == kMaskBlack)
        row[x / 8] |= bit;
      else if (grey[x] == kMaskWhite)
        row[x / 8] &= static_cast<std::uint8_t>(~bit);
    }
  }
  return out;
}

int ScaleFactor(ViewScale scale, int pageWidth, int viewWidth) {
  switch (scale) {
    case ViewScale::Full:
      return 1;
    case ViewScale::Half:
      return 2;
    case ViewScale::Quarter:
      return 4;
    case ViewScale::Eighth:
      return 8;
    case ViewScale::FitWidth:
      break;
  }
  if (viewWidth <= 0 || pageWidth <= 0) return 1;
  return std::max(1, (pageWidth + viewWidth - 1) / viewWidth);
}

PageView::PageView(QWidget* parent) : QAbstractScrollArea(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  horizontalScrollBar()->setSingleStep(kScrollStep);
  verticalScrollBar()->setSingleStep(kScrollStep);
  viewport()->setBackgroundRole(QPalette::Dark);
  viewport()->setAutoFillBackground(true);
}

void PageView::SetPage(const ViewerPage& page) {
  m_page = PageImage(page);
  m_rowScale = page.rowScale;
  if (m_inverted) m_page.setColorTable({kBlack, kWhite});
  horizontalScrollBar()->setValue(0);
  verticalScrollBar()->setValue(0);
  Rescale();
}

void PageView::ClearPage() {
  m_page = QImage();
  m_display = QImage();
  m_ink = nullptr;
  UpdateScrollBars();
  viewport()->update();
}

void PageView::SetScale(ViewScale scale) {
  m_scale = scale;
  Rescale();
}

QSize PageView::DisplaySize() const {
  if (m_page.isNull()) return {0, 0};
  const ScreenScale scale = Mapping();
  return {scale.ScreenX(m_page.width()), scale.ScreenY(m_page.height())};
}

QPoint PageView::Origin() const {
  return {-horizontalScrollBar()->value(), -verticalScrollBar()->value()};
}

void PageView::SetInverted(bool inverted) {
  if (inverted == m_inverted) return;
  m_inverted = inverted;
  if (!m_page.isNull())
    m_page.setColorTable(inverted ? QList<QRgb>{kBlack, kWhite} : QList<QRgb>{kWhite, kBlack});
  Rescale();
}

void PageView::SetPen(InkColour colour, std::uint16_t width) {
  m_penColour = colour;
  m_penWidth = std::max<std::uint16_t>(width, 1);
}

void PageView::SetInk(InkChain* chain) {
  m_ink = chain;
  viewport()->update();
}

int PageView::FitWidth() const {
  return width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width();
}

void PageView::Rescale() {
  if (m_page.isNull()) {
    m_display = QImage();
  } else {
    m_factor = ScaleFactor(m_scale, m_page.width(), FitWidth());
    const QSize size = DisplaySize();
    const QSize shown(std::max(size.width(), 1), std::max(size.height(), 1));
    // Rows only stretched (full size) are repeated, so the page stays sharp; a
    // reduced page is smoothed in grey (a one-bit result would be dithered).
    if (shown == m_page.size())
      m_display = m_page;
    else if (m_factor == 1)
      m_display = m_page.scaled(shown, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    else
      m_display = m_page.convertToFormat(QImage::Format_Grayscale8)
                      .scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  UpdateScrollBars();
  viewport()->update();
}

void PageView::UpdateScrollBars() {
  const QSize size = DisplaySize();
  const QSize view = viewport()->size();
  horizontalScrollBar()->setPageStep(view.width());
  verticalScrollBar()->setPageStep(view.height());
  horizontalScrollBar()->setRange(0, std::max(0, size.width() - view.width()));
  verticalScrollBar()->setRange(0, std::max(0, size.height() - view.height()));
}

void PageView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  if (m_display.isNull()) return;
  const QPoint origin = Origin();
  painter.drawImage(origin, m_display);
  if (m_ink) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    DrawStrokes(painter, m_ink->Strokes(), Mapping(), origin, false);
  }
}

void PageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (m_scale == ViewScale::FitWidth && !m_page.isNull() &&
      ScaleFactor(m_scale, m_page.width(), FitWidth()) != m_factor) {
    Rescale();
    return;
  }
  UpdateScrollBars();
}

void PageView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || m_page.isNull()) return;
  const QPoint pos = event->position().toPoint();
  if (m_penMode) {
    if (!m_ink || !QRect(Origin(), DisplaySize()).contains(pos)) return;
    m_ink->Begin(m_penColour, m_penWidth);
    m_ink->Add(PageFromScreen(pos.x(), pos.y(), Origin().x(), Origin().y(), Mapping()));
    viewport()->update();
    return;
  }
  m_dragging = true;
  m_dragStart = pos;
  m_scrollStart = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void PageView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (m_penMode) {
    if (!m_ink || !m_ink->Drawing()) return;
    m_ink->Add(PageFromScreen(pos.x(), pos.y(), Origin().x(), Origin().y(), Mapping()));
    viewport()->update();
    return;
  }
  if (!m_dragging) return;
  const QPoint moved = pos - m_dragStart;
  horizontalScrollBar()->setValue(m_scrollStart.x() - moved.x());
  verticalScrollBar()->setValue(m_scrollStart.y() - moved.y());
}

void PageView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  m_dragging = false;
  if (m_ink && m_ink->Drawing()) {
    m_ink->End(m_factor);
    viewport()->update();
    emit InkChanged();
  }
}

void PageView::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace vexo::ui
