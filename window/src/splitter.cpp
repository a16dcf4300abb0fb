#include "qadj/window/splitter.h"

#include <QMouseEvent>
#include <QPainter>

#include "qadj/widgets/error_frame.h"
#include "qadj/window/band_layout.h"

namespace qadj::window {
namespace {

// The hatched line: a see-through overlay on the parent, painted with a dotted brush.
class HatchLine : public QWidget {
 public:
  explicit HatchLine(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
  }
};

}  // namespace

TSplitter::TSplitter(QWidget* parent) : QWidget(parent), line_(new HatchLine(parent)) {
  setCursor(Qt::SplitHCursor);
  setFocusPolicy(Qt::NoFocus);
}

bool TSplitter::event(QEvent* e) {
  if (e->type() == QEvent::UngrabMouse || e->type() == cancelModeEventType()) cancelDrag();
  return guarded([&] { return QWidget::event(e); }, false);
}

void TSplitter::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
}

int TSplitter::newWidthAt(QPoint globalPos) const {
  const int raw = startWidth_ + (globalPos.x() - startGlobalX_);
  const int clientWidth = parentWidget() ? parentWidget()->width() : 0;
  return clampSplitterWidth(raw, clientWidth);
}

void TSplitter::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = true;
  startGlobalX_ = e->globalPosition().toPoint().x();
  startWidth_ = CurrentWidth ? CurrentWidth() : x();
  line_->setGeometry(x(), y(), width(), height());
  line_->raise();
  line_->show();
}

void TSplitter::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) return;
  line_->move(newWidthAt(e->globalPosition().toPoint()), y());
}

void TSplitter::mouseReleaseEvent(QMouseEvent* e) {
  if (!dragging_ || e->button() != Qt::LeftButton) return;
  const int width = newWidthAt(e->globalPosition().toPoint());
  cancelDrag();
  if (OnMoved) OnMoved(width);
}

void TSplitter::cancelDrag() {
  dragging_ = false;
  line_->hide();
}

}  // namespace qadj::window
