// Mouse handling of the grid: row presses and the click event, header clicks and
// sorting, column sizing and moving, the wheel.
#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "qadj/grid/dxdbgrid.h"

namespace qadj::grid {

using BH = TdxDBGridOptionBehavior;
using CU = TdxDBGridOptionCustomize;

namespace {
constexpr int kDragThreshold = 4;

HitTest hitAt(const GridGeometry& g, const QPoint& pos, int xOffset) {
  GridGeometry shifted = g;
  shifted.clientWidth = g.clientWidth + xOffset;
  return hitTest(shifted, pos.x() + xOffset, pos.y());
}
}  // namespace

void TdxDBGrid::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(e);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const HitTest hit = hitAt(Geometry(), e->position().toPoint(), xOffset_);
  pressPos_ = e->position().toPoint();
  pressHit_ = hit;
  switch (hit.kind) {
    case HitKind::HeaderEdge:
      if (optionsCustomize_.has(CU::edgoColumnSizing)) {
        state_ = TdxGridState::ColumnSizing;
        sizingStartWidths_ = DisplayedWidths();
        sizingStartWidth_ = sizingStartWidths_[hit.column];
      }
      break;
    case HitKind::Header:
      state_ = TdxGridState::HeaderPressed;
      break;
    case HitKind::Cell: {
      // Closing the editor may post, and the post reload and re-sort the rows: the
      // press goes to the record that was under the mouse, wherever it is now.
      pressRecord_ = identityOf(hit.row);
      if (EditorVisible() && (hit.row != focusedRow_ || hit.column != focusedColumn_))
        closeEditor(true, true);
      const int row = rowOf(pressRecord_);
      if (row < 0) break;  // the record went away with the reload
      state_ = TdxGridState::RowPressed;
      try {
        moveToRow(row);
        setFocusedColumn(hit.column);
      } catch (...) {
        state_ = TdxGridState::Normal;
        throw;
      }
      viewport()->update();
      break;
    }
    default:
      break;
  }
}

void TdxDBGrid::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  switch (state_) {
    case TdxGridState::ColumnSizing: {
      int requested = sizingStartWidth_ + (pos.x() - pressPos_.x());
      const int col = pressHit_.column;
      if (optionsView_.has(TdxDBGridOptionView::edgoAutoWidth)) {
        std::vector<int> mins;
        for (const auto& c : columns_) mins.push_back(c->MinWidth);
        std::vector<int> widths =
            resizeFilled(sizingStartWidths_, mins, col, requested, viewport()->width());
        for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i]->width_ = widths[i];
      } else {
        columns_[col]->width_ = clampedWidth(requested, columns_[col]->MinWidth);
      }
      updateScrollBars();
      placeEditor();
      viewport()->update();
      return;
    }
    case TdxGridState::HeaderPressed:
      if (optionsCustomize_.has(CU::edgoColumnMoving) &&
          std::abs(pos.x() - pressPos_.x()) > kDragThreshold) {
        state_ = TdxGridState::ColumnMoving;
        viewport()->setCursor(Qt::DragMoveCursor);
      }
      return;
    case TdxGridState::ColumnMoving:
      movingTarget_ = dropIndex(DisplayedWidths(), pos.x() + xOffset_);
      viewport()->update();
      return;
    default:
      break;
  }
  // Hover: the sizing cursor over a header edge.
  HitTest hover = hitAt(Geometry(), pos, xOffset_);
  bool edge = hover.kind == HitKind::HeaderEdge && optionsCustomize_.has(CU::edgoColumnSizing);
  viewport()->setCursor(edge ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TdxDBGrid::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseReleaseEvent(e);
    return;
  }
  const TdxGridState was = state_;
  const HitTest hit = hitAt(Geometry(), e->position().toPoint(), xOffset_);
  if (state_ != TdxGridState::Editing) state_ = TdxGridState::Normal;
  viewport()->setCursor(Qt::ArrowCursor);
  switch (was) {
    case TdxGridState::RowPressed:
    case TdxGridState::Editing:
      rowClickRelease(e, hit);
      break;
    case TdxGridState::HeaderPressed:
      if (hit.kind == HitKind::Header && hit.column == pressHit_.column)
        headerClicked(hit.column, e->modifiers() & Qt::ControlModifier);
      break;
    case TdxGridState::ColumnMoving:
      MoveColumn(pressHit_.column,
                 dropIndex(DisplayedWidths(), e->position().toPoint().x() + xOffset_));
      movingTarget_ = -1;
      break;
    default:
      break;
  }
  viewport()->update();
}

void TdxDBGrid::rowClickRelease(QMouseEvent* e, const HitTest& hit) {
  const bool plain = !(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
  // Press and release on the same cell of the screen open the editor on the pressed
  // record's cell, also when a reload during the press moved that record.
  if (pressHit_.kind == HitKind::Cell && optionsBehavior_.has(BH::edgoImmediateEditor) && plain &&
      hit.kind == HitKind::Cell && hit.row == pressHit_.row && hit.column == pressHit_.column &&
      focusedRow_ >= 0 && focusedRow_ == rowOf(pressRecord_) && hit.column == focusedColumn_)
    ShowEditor();
  if (OnClick) OnClick(*this);
}

void TdxDBGrid::headerClicked(int column, bool ctrl) {
  TdxDBGridColumn* c = columns_[column].get();
  if (OnColumnClick) OnColumnClick(*this, *c);
  if (!LoadAllMode() || !optionsBehavior_.has(BH::edgoAutoSort)) return;
  // The handler may have removed or moved columns: sort by the same object if it is
  // still there.
  if (c->Index() < 0) return;
  c->setSorted(nextSortState(c->Sorted(), ctrl));
}

void TdxDBGrid::wheelEvent(QWheelEvent* e) {
  int steps = e->angleDelta().y() / 120;
  if (steps == 0) return;
  verticalScrollBar()->setValue(verticalScrollBar()->value() - steps * 3);
  e->accept();
}

}  // namespace qadj::grid
