// The vertical splitter between the product and detail panels: dragged with the left
// button, it shows only a hatched line while the button is held and resizes the
// panel on release (held between the minimum and the maximum, snapping shut at or
// below the minimum).
#pragma once

#include <QWidget>
#include <functional>

namespace qadj::window {

class TSplitter : public QWidget {
 public:
  explicit TSplitter(QWidget* parent);

  // Asked at the start of a drag for the controlled panel's current width.
  std::function<int()> CurrentWidth;
  // Called on release with the new width (already clamped or collapsed).
  std::function<void(int)> OnMoved;

  bool dragging() const { return dragging_; }
  // The hatched line shown while dragging (a child of the parent), for tests.
  QWidget* dragLine() const { return line_; }

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  int newWidthAt(QPoint globalPos) const;
  void cancelDrag();

  QWidget* line_ = nullptr;
  bool dragging_ = false;
  int startGlobalX_ = 0;
  int startWidth_ = 0;
};

}  // namespace qadj::window
