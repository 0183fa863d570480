// The page area of the viewer: shows one decoded page at a display scale, its
// rows stretched to the page's true proportions, with scroll bars where the
// page is larger than the view, moves the view when dragged, and in pen mode
// records ink strokes in page coordinates and draws them again at whatever
// scale the page is shown.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QSize>

#include <cstdint>
#include <vector>

#include "ui/viewer/fax_page_file.h"
#include "ui/viewer/ink_chain.h"

namespace vexo::ui {

// The display scales, in the order of the scale menu.
enum class ViewScale { FitWidth, Full, Half, Quarter, Eighth };

// Scroll bar step, in screen pixels.
constexpr int kScrollStep = 32;

// The page as a one-bit image: colour 0 white, colour 1 black.
QImage PageImage(const ViewerPage& page);
// The page with the strokes drawn into it at full size, in chain order (a
// white stroke erases black); returns the page's rows in the same layout.
ViewerPage BurnInk(const ViewerPage& page, const std::vector<InkStroke>& strokes);

// The factor a scale shows a page at: 1, 2, 4, 8 for the fixed scales; for fit
// to width the page width divided by the view width, rounded up (at least 1).
int ScaleFactor(ViewScale scale, int pageWidth, int viewWidth);

class PageView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit PageView(QWidget* parent = nullptr);

  void SetPage(const ViewerPage& page);
  void ClearPage();
  bool HasPage() const { return !m_page.isNull(); }

  void SetScale(ViewScale scale);
  ViewScale Scale() const { return m_scale; }
  // Page pixels per screen pixel across at the current scale.
  int Factor() const { return m_factor; }
  // The factor with the page's row stretch: how page pixels map to the screen.
  ScreenScale Mapping() const { return {m_factor, m_rowScale}; }
  // The displayed page size and where its top-left corner is in the view.
  QSize DisplaySize() const;
  QPoint Origin() const;

  // Swaps the two colours of the page image (the file is not changed).
  void SetInverted(bool inverted);
  bool Inverted() const { return m_inverted; }

  void SetPenMode(bool on) { m_penMode = on; }
  bool PenMode() const { return m_penMode; }
  void SetPen(InkColour colour, std::uint16_t width);
  InkColour PenColour() const { return m_penColour; }
  std::uint16_t PenWidth() const { return m_penWidth; }
  // The chain the strokes go into (the page's own); null: no ink.
  void SetInk(InkChain* chain);

  // The width fit to width divides the page by: the view without its frame
  // and a vertical scroll bar, so the factor does not depend on the bar.
  int FitWidth() const;

 signals:
  void InkChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void Rescale();
  void UpdateScrollBars();

  QImage m_page;     // full size, one bit
  QImage m_display;  // at the display scale
  ViewScale m_scale = ViewScale::FitWidth;
  int m_factor = 1;
  double m_rowScale = 1.0;  // of the page shown
  bool m_inverted = false;
  bool m_penMode = false;
  InkColour m_penColour = InkColour::Black;
  std::uint16_t m_penWidth = 2;
  InkChain* m_ink = nullptr;
  bool m_dragging = false;
  QPoint m_dragStart;
  QPoint m_scrollStart;
};

}  // namespace vexo::ui
