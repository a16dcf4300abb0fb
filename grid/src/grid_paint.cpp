// Painting of the grid: band and column headers, rows, grid lines, the focused cell
// and the footer row.
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>

#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/text.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/qt_text.h"

namespace qadj::grid {

namespace {
constexpr int kTextMargin = 3;
// A data cell's text keeps 2 pixels from each grid line: an 8-digit code fits the
// designed columns also when the vertical scroll bar narrows the grid.
constexpr int kCellMargin = 2;

Qt::Alignment toQt(TAlignment a) {
  switch (a) {
    case TAlignment::taRightJustify:
      return Qt::AlignRight;
    case TAlignment::taCenter:
      return Qt::AlignHCenter;
    case TAlignment::taLeftJustify:
      break;
  }
  return Qt::AlignLeft;
}

const QColor kGridLine(0xC0, 0xC0, 0xC0);
}  // namespace

bool TdxDBGrid::rightAligned(const TdxDBGridColumn& c) const {
  return c.Field() && c.Field()->DataType() == TFieldType::ftFloat;
}

namespace {

// The texts of one row of cells laid out by textSpanStarts: each in the room it may
// take, elided where that room is too narrow. inner(first, last) is the text
// rectangle over cells first..last.
template <class Inner>
std::vector<TdxDBGrid::DrawnText> layOutTexts(const QFontMetrics& metrics,
                                              const std::vector<QString>& texts,
                                              const std::vector<bool>& rightAligned, Inner inner) {
  std::vector<bool> hasText(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) hasText[i] = !texts[i].isEmpty();
  const std::vector<int> starts = textSpanStarts(hasText, rightAligned);
  std::vector<TdxDBGrid::DrawnText> out;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (!hasText[i]) continue;
    TdxDBGrid::DrawnText t;
    t.column = static_cast<int>(i);
    t.rect = inner(static_cast<std::size_t>(starts[i]), i);
    t.alignment = (rightAligned[i] ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    t.text = metrics.elidedText(texts[i], Qt::ElideRight, std::max(t.rect.width(), 0));
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

std::vector<TdxDBGrid::DrawnText> TdxDBGrid::RowTexts(int row) const {
  const GridGeometry g = Geometry();
  const int n = ColumnCount();
  std::vector<QString> texts(static_cast<std::size_t>(n));
  std::vector<bool> numbers(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    texts[static_cast<std::size_t>(i)] = cellText(row, i);
    numbers[static_cast<std::size_t>(i)] = rightAligned(*columns_[static_cast<std::size_t>(i)]);
  }
  const int y = g.dataTop() + (row - firstRow_) * g.rowHeight;
  return layOutTexts(
      viewport()->fontMetrics(), texts, numbers, [&](std::size_t first, std::size_t last) {
        const int left = g.columnLeft(static_cast<int>(first)) - xOffset_;
        const int right = g.columnLeft(static_cast<int>(last)) - xOffset_ + g.widths[last];
        return QRect(left, y, right - left, g.rowHeight).adjusted(kCellMargin, 0, -kCellMargin, -1);
      });
}

std::vector<TdxDBGrid::DrawnText> TdxDBGrid::FooterTexts() const {
  if (!showFooter_) return {};
  const GridGeometry g = Geometry();
  const int n = ColumnCount();
  std::vector<QString> texts(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const TdxDBGridColumn& c = *columns_[static_cast<std::size_t>(i)];
    if (c.SummaryFooterType != TSummaryType::cstNone)
      texts[static_cast<std::size_t>(i)] = text::gbkToQString(c.SummaryFooterText());
  }
  const int top = viewport()->height() - footerHeight();
  return layOutTexts(viewport()->fontMetrics(), texts, std::vector<bool>(texts.size(), true),
                     [&](std::size_t first, std::size_t last) {
                       const int left = g.columnLeft(static_cast<int>(first)) - xOffset_ + 1;
                       const int right =
                           g.columnLeft(static_cast<int>(last)) - xOffset_ + g.widths[last] - 1;
                       return QRect(left, top + 2, right - left, footerHeight() - 4)
                           .adjusted(kTextMargin, 0, -kTextMargin, 0);
                     });
}

void TdxDBGrid::paintFrame(QPainter& p, const QRect& r, bool raised) const {
  const QColor dark = headerColor_.darker(150);
  if (lookAndFeel_ == TdxLookAndFeel::lfStandard) {
    const QColor light = headerColor_.lighter(140);
    p.setPen(raised ? light : dark);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(raised ? dark : light);
  } else {
    p.setPen(dark);
  }
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

void TdxDBGrid::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  const std::vector<int> widths = DisplayedWidths();
  paintRows(p, widths);
  paintHeader(p, widths);
  paintFooter(p, widths);
}

void TdxDBGrid::paintHeader(QPainter& p, const std::vector<int>& widths) const {
  if (showBands_) {
    QRect band(-xOffset_, 0, std::max(viewport()->width(), contentWidth()), bandHeight());
    p.fillRect(band, headerColor_);
    paintFrame(p, band.adjusted(0, 0, -1, -1), true);
    p.setPen(palette().color(QPalette::ButtonText));
    if (!Bands.empty())
      p.drawText(band.adjusted(kTextMargin, 0, -kTextMargin, 0), Qt::AlignCenter,
                 text::gbkToQString(Bands.front().Caption));
  }
  if (!showHeader_) return;
  int x = -xOffset_;
  const int top = bandHeight();
  const int height = headerHeight() - top;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const TdxDBGridColumn& c = *columns_[i];
    QRect r(x, top, widths[i], height);
    x += widths[i];
    if (r.right() < 0 || r.left() > viewport()->width()) continue;
    const bool pressed =
        state_ == TdxGridState::HeaderPressed && pressHit_.column == static_cast<int>(i);
    p.fillRect(r, pressed ? headerColor_.darker(110) : headerColor_);
    paintFrame(p, r.adjusted(0, 0, -1, -1), !pressed);
    QRect textRect = r.adjusted(kTextMargin, 0, -kTextMargin, 0);
    if (c.Sorted() != TdxGridColumnSorted::csNone) {
      // A small triangle at the right: up for ascending, down for descending.
      const int cx = r.right() - 8;
      const int cy = r.center().y();
      QPolygon tri;
      if (c.Sorted() == TdxGridColumnSorted::csUp)
        tri << QPoint(cx - 4, cy + 2) << QPoint(cx + 4, cy + 2) << QPoint(cx, cy - 3);
      else
        tri << QPoint(cx - 4, cy - 2) << QPoint(cx + 4, cy - 2) << QPoint(cx, cy + 3);
      p.setPen(Qt::NoPen);
      p.setBrush(headerColor_.darker(220));
      p.drawPolygon(tri);
      p.setBrush(Qt::NoBrush);
      textRect.setRight(textRect.right() - 12);
    }
    p.setPen(palette().color(QPalette::ButtonText));
    const QString caption = text::gbkToQString(c.Caption);
    if (c.Sorted() == TdxGridColumnSorted::csNone &&
        p.fontMetrics().horizontalAdvance(caption) <= r.width()) {
      // A caption that fits the header cell stands whole, in the text margins when it
      // can, else centred over them (as the platform draws a clipped caption).
      if (p.fontMetrics().horizontalAdvance(caption) > textRect.width()) textRect = r;
      p.drawText(textRect, toQt(c.HeaderAlignment) | Qt::AlignVCenter, caption);
    } else {
      p.drawText(textRect, toQt(c.HeaderAlignment) | Qt::AlignVCenter,
                 p.fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width()));
    }
  }
  if (state_ == TdxGridState::ColumnMoving && movingTarget_ >= 0) {
    GridGeometry g = Geometry();
    int mx = g.columnLeft(movingTarget_) - xOffset_;
    p.fillRect(QRect(mx - 1, top, 3, height), palette().color(QPalette::Highlight));
  }
}

void TdxDBGrid::paintRows(QPainter& p, const std::vector<int>& widths) const {
  const GridGeometry g = Geometry();
  const int count = RowCount();
  const int visible = g.visibleRows() + 1;
  const QColor base = palette().color(QPalette::Base);
  const QColor text = palette().color(QPalette::Text);
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor highlightText = palette().color(QPalette::HighlightedText);
  const QColor focusRow = highlight.lighter(185);
  const bool hasFocus = this->hasFocus() || EditorVisible();
  p.save();
  p.setClipRect(QRect(0, g.dataTop(), viewport()->width(), g.dataBottom() - g.dataTop()));
  for (int row = firstRow_; row < count && row < firstRow_ + visible; ++row) {
    const int y = g.dataTop() + (row - firstRow_) * g.rowHeight;
    int x = -xOffset_;
    const bool focused = row == focusedRow_;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      QRect r(x, y, widths[i], g.rowHeight);
      x += widths[i];
      if (r.right() < 0 || r.left() > viewport()->width()) continue;
      const bool focusedCell = focused && static_cast<int>(i) == focusedColumn_;
      QColor bg = focused ? focusRow : base;
      QColor fg = text;
      if (focusedCell && hasFocus) {
        bg = highlight;
        fg = highlightText;
      }
      p.fillRect(r, bg);
      if (showGrid_) {
        p.setPen(kGridLine);
        p.drawLine(r.topRight(), r.bottomRight());
        p.drawLine(r.bottomLeft(), r.bottomRight());
      }
      if (focusedCell && hasFocus && !optionsView_.has(TdxDBGridOptionView::edgoHideFocusRect)) {
        QPen pen(highlightText, 1, Qt::DotLine);
        p.setPen(pen);
        p.drawRect(r.adjusted(1, 1, -2, -2));
      }
    }
    for (const DrawnText& t : RowTexts(row)) {
      const bool focusedCell = focused && t.column == focusedColumn_ && hasFocus;
      p.setPen(focusedCell ? highlightText : text);
      p.drawText(t.rect, t.alignment, t.text);
    }
  }
  p.restore();
}

void TdxDBGrid::paintFooter(QPainter& p, const std::vector<int>& widths) const {
  if (!showFooter_) return;
  const int top = viewport()->height() - footerHeight();
  const QRect band(0, top, viewport()->width(), footerHeight());
  p.fillRect(band, palette().color(QPalette::Button));
  p.setPen(headerColor_.darker(150));
  p.drawLine(band.topLeft(), band.topRight());
  const GridGeometry g = Geometry();
  const std::vector<DrawnText> texts = FooterTexts();
  for (const DrawnText& t : texts) {
    // A sunken cell, as a read-only total: the column's own, widened to the left as
    // far as a total that runs over its neighbours needs.
    QRect cell(g.columnLeft(t.column) - xOffset_ + 1, top + 2, widths[t.column] - 2,
               footerHeight() - 4);
    const int needed = p.fontMetrics().horizontalAdvance(t.text) + 2 * kTextMargin;
    if (needed > cell.width())
      cell.setLeft(std::max(t.rect.left() - kTextMargin, cell.right() + 1 - needed));
    p.fillRect(cell, palette().color(QPalette::Base));
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(cell.topLeft(), cell.topRight());
    p.drawLine(cell.topLeft(), cell.bottomLeft());
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(cell.bottomLeft(), cell.bottomRight());
    p.drawLine(cell.topRight(), cell.bottomRight());
  }
  p.setPen(palette().color(QPalette::Text));
  for (const DrawnText& t : texts) p.drawText(t.rect, t.alignment, t.text);
}

}  // namespace qadj::grid
